// The installer as an operator and an administrator use it: msiexec in its own process, the
// installed files and shortcuts looked at where Windows puts them, and the installed monitor
// started the way the shortcuts start it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <shlobj.h>

#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

const wchar_t UPGRADE_CODE[] = L"{6B1E5D1C-3F7A-4C2B-9E0D-8A4F2C61B7E3}";
// A package built with this version stands for an earlier release.
const wchar_t OLDER_VERSION[] = L"0.0.1";
constexpr DWORD MSIEXEC_TIMEOUT = 180000;
// The port may still be held by a monitor another test has just closed.
constexpr DWORD START_TIMEOUT = 120000;
constexpr DWORD EFFECT_TIMEOUT = CONDITION_DEADLINE;

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, n);
}

// The packages are built beside the programs' folder, the older one with OLDER_VERSION.
std::wstring Package(bool bOlder = false)
{
    return FullPath(ExeFolder() + L"\\..\\installer\\Wendle" + (bOlder ? L"-" + std::wstring(OLDER_VERSION) : L"") +
                    L".msi");
}

std::wstring ShellFolder(int nCsidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, nCsidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring InstallFolder()
{
    return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Wendle";
}

std::wstring StartMenuShortcut()
{
    return ShellFolder(CSIDL_PROGRAMS) + L"\\Wendle.lnk";
}

std::wstring StartupShortcut()
{
    return ShellFolder(CSIDL_STARTUP) + L"\\Wendle.lnk";
}

// Windows Installer writes folders with a final backslash; Explorer takes either.
bool SamePath(const std::wstring& a, const std::wstring& b)
{
    auto normal = [](const std::wstring& path) {
        std::wstring full = FullPath(path);
        if (full.size() > 3 && full.back() == L'\\')
            full.pop_back();
        return full;
    };
    return lstrcmpiW(normal(a).c_str(), normal(b).c_str()) == 0;
}

std::vector<std::wstring> FileNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE hFind = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (::FindNextFileW(hFind, &data));
    ::FindClose(hFind);
    return names;
}

HANDLE StartProgram(const std::wstring& exe, const std::wstring& args, const std::wstring& folder,
                    DWORD* pdwProcessId = nullptr)
{
    std::wstring commandLine = QuoteArgument(exe) + L" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return nullptr;
    ::CloseHandle(process.hThread);
    if (pdwProcessId)
        *pdwProcessId = process.dwProcessId;
    return process.hProcess;
}

// Runs the program to its end and returns its exit code; one that does not end is killed.
DWORD RunProgram(const std::wstring& exe, const std::wstring& args, DWORD dwTimeout)
{
    HANDLE hProcess = StartProgram(exe, args, {});
    if (!hProcess)
        return ::GetLastError() | 0x80000000u;
    DWORD dwExit = STILL_ACTIVE;
    if (::WaitForSingleObject(hProcess, dwTimeout) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(hProcess, &dwExit);
    else
        ::TerminateProcess(hProcess, 1);
    ::CloseHandle(hProcess);
    return dwExit;
}

DWORD Msiexec(const std::wstring& args)
{
    return RunProgram(ShellFolder(CSIDL_SYSTEM) + L"\\msiexec.exe", args + L" /qn", MSIEXEC_TIMEOUT);
}

// The product codes of every installed Wendle, of any version.
std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

std::wstring ProductVersion(const std::wstring& product)
{
    wchar_t version[64] = {};
    DWORD cch = static_cast<DWORD>(std::size(version));
    ::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &cch);
    return version;
}

// The product version in the program's own version record, or its file version, as MSI writes versions.
std::wstring VersionRecord(const std::wstring& exe, bool bFileVersion = false)
{
    DWORD dwHandle = 0;
    std::vector<unsigned char> data(::GetFileVersionInfoSizeW(exe.c_str(), &dwHandle));
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT cb = 0;
    if (data.empty() || !::GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&pInfo), &cb))
        return L"<none>";
    const DWORD dwMost = bFileVersion ? pInfo->dwFileVersionMS : pInfo->dwProductVersionMS;
    const DWORD dwLeast = bFileVersion ? pInfo->dwFileVersionLS : pInfo->dwProductVersionLS;
    return std::to_wstring(HIWORD(dwMost)) + L"." + std::to_wstring(LOWORD(dwMost)) + L"." +
           std::to_wstring(HIWORD(dwLeast)) + L"." + std::to_wstring(LOWORD(dwLeast));
}

// The first column of each row a query of the package's database gives, read as text.
std::vector<std::wstring> QueryColumn(MSIHANDLE hDatabase, const std::wstring& query)
{
    std::vector<std::wstring> values;
    MSIHANDLE hView = 0;
    if (::MsiDatabaseOpenViewW(hDatabase, query.c_str(), &hView) != ERROR_SUCCESS)
        return values;
    MSIHANDLE hRecord = 0;
    if (::MsiViewExecute(hView, 0) == ERROR_SUCCESS)
        while (::MsiViewFetch(hView, &hRecord) == ERROR_SUCCESS) {
            wchar_t text[256] = {};
            DWORD cch = static_cast<DWORD>(std::size(text));
            ::MsiRecordGetStringW(hRecord, 1, text, &cch);
            values.push_back(text);
            ::MsiCloseHandle(hRecord);
        }
    ::MsiCloseHandle(hView);
    return values;
}

// Windows Installer replaces a program on disk, and counts a running one among the files in use
// that Restart Manager closes, only for a package that lists it with a higher version; a hash in
// MsiFileHash is kept for unversioned files alone. So each program in the package is listed with
// the file version of its own record (here, as installed from that package) and has no hash.
void ExpectListedWithTheirVersions(const std::wstring& package, const std::wstring& folder)
{
    MSIHANDLE hDatabase = 0;
    ASSERT_EQ(::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &hDatabase), 0u);
    for (const std::wstring name : {L"Wendle.exe", L"alarmsend.exe"}) {
        const std::wstring row = L" FROM `File` WHERE `FileName` = '" + name + L"'";
        const std::vector<std::wstring> keys = QueryColumn(hDatabase, L"SELECT `File`" + row);
        ASSERT_EQ(keys.size(), 1u) << "the package lists no single " << name;
        const std::vector<std::wstring> own{VersionRecord(folder + L"\\" + name, true)};
        EXPECT_EQ(QueryColumn(hDatabase, L"SELECT `Version`" + row), own) << name;
        EXPECT_EQ(QueryColumn(hDatabase, L"SELECT `File_` FROM `MsiFileHash` WHERE `File_` = '" + keys[0] + L"'"),
                  std::vector<std::wstring>{})
            << name << " keeps a hash";
    }
    ::MsiCloseHandle(hDatabase);
}

// A resource of a program's file, read without running it.
std::string ResourceBytes(const std::wstring& exe, const wchar_t* pszType, const wchar_t* pszName)
{
    std::string bytes;
    HMODULE hModule = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!hModule)
        return bytes;
    if (HRSRC hResource = ::FindResourceW(hModule, pszName, pszType))
        if (HGLOBAL hData = ::LoadResource(hModule, hResource))
            bytes.assign(static_cast<const char*>(::LockResource(hData)), ::SizeofResource(hModule, hResource));
    ::FreeLibrary(hModule);
    return bytes;
}

// The pixel widths of an icon group's images: a 6-byte header, then 14 bytes per image.
std::vector<int> IconGroupWidths(const std::string& group)
{
    std::vector<int> widths;
    const std::size_t count = group.size() < 6 ? 0 : static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
    for (std::size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) {
        const int width = static_cast<unsigned char>(group[6 + 14 * i]);
        widths.push_back(width ? width : 256);
    }
    return widths;
}

struct CShortcut {
    bool bLoaded = false;
    std::wstring target;
    std::wstring workingDirectory;
};

CShortcut ReadShortcut(const std::wstring& path)
{
    CShortcut shortcut;
    IShellLinkW* pLink = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&pLink))))
        return shortcut;
    IPersistFile* pFile = nullptr;
    if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
        if (SUCCEEDED(pFile->Load(path.c_str(), STGM_READ))) {
            wchar_t text[MAX_PATH] = {};
            shortcut.bLoaded = SUCCEEDED(pLink->GetPath(text, MAX_PATH, nullptr, 0));
            shortcut.target = text;
            text[0] = L'\0';
            pLink->GetWorkingDirectory(text, MAX_PATH);
            shortcut.workingDirectory = text;
        }
        pFile->Release();
    }
    pLink->Release();
    return shortcut;
}

class CInstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitialize(nullptr); }
    static void TearDownTestSuite() { ::CoUninitialize(); }
    // Each test starts and leaves the prefix with no Wendle installed, whatever an earlier run left.
    void SetUp() override { RemoveEverything(); }
    void TearDown() override
    {
        if (m_hWendle) {
            ::TerminateProcess(m_hWendle, 1);
            EXPECT_EQ(::WaitForSingleObject(m_hWendle, EFFECT_TIMEOUT), WAIT_OBJECT_0) << "Wendle.exe does not end when terminated";
            ::CloseHandle(m_hWendle);
        }
        RemoveEverything();
    }

    static void RemoveEverything()
    {
        for (const std::wstring& product : InstalledProducts())
            EXPECT_EQ(Msiexec(L"/x " + product), 0u) << "cannot uninstall an earlier Wendle";
        RemoveTree(InstallFolder());
    }

    // Starts the installed monitor as the shortcut does and waits until it receives alarms.
    void StartFrom(const CShortcut& shortcut)
    {
        m_hWendle = StartProgram(shortcut.target, {}, shortcut.workingDirectory, &m_dwWendleId);
        ASSERT_NE(m_hWendle, nullptr) << "cannot start " << std::string(shortcut.target.begin(), shortcut.target.end());
        ASSERT_TRUE(PumpUntil([this] { return PortOwner() == m_dwWendleId; }, START_TIMEOUT))
            << "the installed Wendle.exe does not listen on UDP 6000";
    }

    // Closes the monitor with its own close button, as the operator does.
    void CloseWendle()
    {
        HWND hButton = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (hButton = ::GetDlgItem(FindMainWindow(m_dwWendleId), IDC_BTN_CLOSE)) != nullptr; }, EFFECT_TIMEOUT));
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(hButton, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, EFFECT_TIMEOUT, &result);
        ASSERT_EQ(::WaitForSingleObject(m_hWendle, EFFECT_TIMEOUT), WAIT_OBJECT_0) << "Wendle.exe did not end";
        ::CloseHandle(m_hWendle);
        m_hWendle = nullptr;
    }

    static void ExpectInstalledProgram()
    {
        const std::wstring folder = InstallFolder();
        for (const wchar_t* name :
             {L"Wendle.exe", L"alarmsend.exe", L"README-Windows.txt", L"README-Administrators.txt"})
            EXPECT_TRUE(FileExists(folder + L"\\" + name)) << "not installed: " << std::string(name, name + lstrlenW(name));
        EXPECT_EQ(FileNames(folder + L"\\image"), FileNames(ExeFolder() + L"\\image"));
        for (const std::wstring& path : {StartMenuShortcut(), StartupShortcut()}) {
            const CShortcut shortcut = ReadShortcut(path);
            EXPECT_TRUE(shortcut.bLoaded) << "no shortcut " << std::string(path.begin(), path.end());
            EXPECT_TRUE(SamePath(shortcut.target, folder + L"\\Wendle.exe"))
                << std::string(shortcut.target.begin(), shortcut.target.end());
            EXPECT_TRUE(SamePath(shortcut.workingDirectory, folder))
                << std::string(shortcut.workingDirectory.begin(), shortcut.workingDirectory.end());
        }
    }

    HANDLE m_hWendle = nullptr;
    DWORD m_dwWendleId = 0;
};

TEST_F(CInstallerTest, InstallsForTheUserAndStartsTheMonitorInItsFolderAndUninstallKeepsTheLogs)
{
    // Word count bit 3: no elevation is needed, so Windows asks no administrator.
    MSIHANDLE hSummary = 0;
    ASSERT_EQ(::MsiGetSummaryInformationW(0, Package().c_str(), 0, &hSummary), 0u);
    INT nWordCount = 0;
    UINT nType = 0;
    ::MsiSummaryInfoGetPropertyW(hSummary, PIDSI_WORDCOUNT, &nType, &nWordCount, nullptr, nullptr, nullptr);
    ::MsiCloseHandle(hSummary);
    EXPECT_TRUE(nWordCount & 8) << "the package asks for elevation: word count " << nWordCount;

    ASSERT_EQ(Msiexec(L"/i " + QuoteArgument(Package())), 0u);
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    const std::wstring folder = InstallFolder();
    EXPECT_EQ(ProductVersion(products[0]), VersionRecord(folder + L"\\Wendle.exe"));
    ExpectInstalledProgram();
    // What Windows reads from the program's file: that it was written for Windows 10 and 11, and
    // an icon drawn for the small sizes of the tray and the title bar.
    const std::string manifest = ResourceBytes(folder + L"\\Wendle.exe", RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos) << manifest;
    const std::vector<int> widths =
        IconGroupWidths(ResourceBytes(folder + L"\\Wendle.exe", RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME)));
    for (int width : {16, 32})
        EXPECT_NE(std::find(widths.begin(), widths.end(), width), widths.end()) << "no " << width << "-pixel image";
    ASSERT_FALSE(HasFailure());

    // At logon the Startup shortcut starts it: the log must land in the install folder.
    StartFrom(ReadShortcut(StartupShortcut()));
    ASSERT_FALSE(HasFatalFailure());
    const std::wstring log = folder + L"\\myfile.txt";
    ASSERT_EQ(RunProgram(folder + L"\\alarmsend.exe", L"AP-01 08:00:00 CPU high", EFFECT_TIMEOUT), 0u);
    EXPECT_TRUE(PumpUntil([&] { return ReadFileBytes(log) == "AP-01;08:00:00;CPU;high;\r\n"; }, EFFECT_TIMEOUT))
        << "myfile.txt holds: " << ReadFileBytes(log);
    CloseWendle();
    ASSERT_FALSE(HasFatalFailure());

    const std::wstring archive = folder + L"\\myfile-20261208-101010.txt";
    WriteFileBytes(archive, "AP-00;07:00:00;CPU;low;\r\n");
    ASSERT_EQ(Msiexec(L"/x " + QuoteArgument(Package())), 0u);
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_EQ(FileNames(folder), (std::vector<std::wstring>{L"myfile-20261208-101010.txt", L"myfile.txt"}));
    EXPECT_FALSE(FileExists(folder + L"\\image"));
    EXPECT_FALSE(FileExists(StartMenuShortcut()));
    EXPECT_FALSE(FileExists(StartupShortcut()));
    EXPECT_EQ(ReadFileBytes(log), "AP-01;08:00:00;CPU;high;\r\n");
    EXPECT_EQ(ReadFileBytes(archive), "AP-00;07:00:00;CPU;low;\r\n");
}

TEST_F(CInstallerTest, NewerPackageReplacesTheOlderAndTheOlderDoesNotGoBackOverIt)
{
    ASSERT_EQ(Msiexec(L"/i " + QuoteArgument(Package(true))), 0u);
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(ProductVersion(products[0]), OLDER_VERSION);
    ExpectListedWithTheirVersions(Package(true), InstallFolder());

    // The older programs are replaced because the newer package lists a higher version for them.
    ASSERT_EQ(Msiexec(L"/i " + QuoteArgument(Package())), 0u);
    products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    const std::wstring current = ProductVersion(products[0]);
    EXPECT_EQ(current, VersionRecord(InstallFolder() + L"\\Wendle.exe"));
    ExpectInstalledProgram();
    ExpectListedWithTheirVersions(Package(), InstallFolder());

    EXPECT_NE(Msiexec(L"/i " + QuoteArgument(Package(true))), 0u);
    products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(ProductVersion(products[0]), current);
}

TEST_F(CInstallerTest, MainFeatureAloneLeavesTheStartAtLogonShortcutOutAndAnUpgradeKeepsItOut)
{
    ASSERT_EQ(Msiexec(L"/i " + QuoteArgument(Package(true)) + L" ADDLOCAL=Main"), 0u);
    EXPECT_TRUE(FileExists(InstallFolder() + L"\\Wendle.exe"));
    EXPECT_TRUE(ReadShortcut(StartMenuShortcut()).bLoaded);
    EXPECT_FALSE(FileExists(StartupShortcut()));

    // The administrator's choice outlives the upgrade, which names no feature of its own.
    ASSERT_EQ(Msiexec(L"/i " + QuoteArgument(Package())), 0u);
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(ProductVersion(products[0]), VersionRecord(InstallFolder() + L"\\Wendle.exe"));
    EXPECT_TRUE(ReadShortcut(StartMenuShortcut()).bLoaded);
    EXPECT_FALSE(FileExists(StartupShortcut()));
}

} // namespace
