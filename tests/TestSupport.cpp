#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "TestSupport.h"

#include "resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

std::string Narrowed(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace

void StopTest(const std::string& why)
{
    // gtest reports an exception from the test's body as its failure and still tears it down.
    throw std::runtime_error(why);
}

bool RemoveTree(const std::wstring& path)
{
    bool bRemoved = true;
    WIN32_FIND_DATAW data;
    HANDLE hFind = ::FindFirstFileW((path + L"\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                bRemoved = RemoveTree(child) && bRemoved;
            else
                bRemoved = ::DeleteFileW(child.c_str()) && bRemoved;
        } while (::FindNextFileW(hFind, &data));
        ::FindClose(hFind);
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::RemoveDirectoryW(path.c_str()) && bRemoved;
}

CTempDir::CTempDir(const std::wstring& strIn)
{
    wchar_t temp[MAX_PATH];
    if (strIn.empty() && !::GetTempPathW(MAX_PATH, temp))
        StopTest("no temporary folder: error " + std::to_string(::GetLastError()));
    const std::wstring base = strIn.empty() ? temp : strIn + L"\\";
    // Process ids come back from run to run, under Wine within minutes: a folder left by an
    // earlier run is never taken over, the next free name is.
    static unsigned nCounter = 0;
    const std::wstring prefix = base + L"wendle-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
    for (;;) {
        m_strPath = prefix + std::to_wstring(++nCounter);
        if (::CreateDirectoryW(m_strPath.c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            StopTest("cannot create " + Narrowed(m_strPath) + ": error " + std::to_string(::GetLastError()));
    }
    wchar_t previous[MAX_PATH];
    if (!::GetCurrentDirectoryW(MAX_PATH, previous) || !::SetCurrentDirectoryW(m_strPath.c_str())) {
        const DWORD dwError = ::GetLastError();
        RemoveTree(m_strPath);
        StopTest("cannot work in " + Narrowed(m_strPath) + ": error " + std::to_string(dwError));
    }
    m_strPrevious = previous;
}

CTempDir::~CTempDir()
{
    EXPECT_TRUE(::SetCurrentDirectoryW(m_strPrevious.c_str())) << "error " << ::GetLastError();
    // A program that has just ended may still hold its files for a moment; what stays for good
    // is held by a handle the test leaked, or a program that still runs.
    EXPECT_TRUE(WaitUntil([this] { return RemoveTree(m_strPath); })) << Narrowed(m_strPath) << " is not removed whole";
}

void PumpMessages(DWORD dwMilliseconds)
{
    PumpUntil([] { return false; }, dwMilliseconds);
}

bool PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMilliseconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + dwTimeoutMilliseconds;
    for (;;) {
        // The condition is looked at after every message: under a storm the queue never runs
        // dry, and waiting for that would hide what has already happened.
        MSG msg;
        const bool bDispatched = ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        if (bDispatched) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (condition())
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        if (!bDispatched)
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

bool PumpWaiting()
{
    return PumpUntil([] {
        MSG msg;
        return !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    });
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMilliseconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + dwTimeoutMilliseconds;
    while (!condition()) {
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(10);
    }
    return true;
}

void SendDatagram(const std::string& bytes, unsigned short nPort, bool bIpv6)
{
    CUdpSender(nPort, bIpv6).Send(bytes);
}

CUdpSender::CUdpSender(unsigned short nPort, bool bIpv6) : m_socket(INVALID_SOCKET), m_nPort(nPort), m_bIpv6(bIpv6)
{
    WSADATA wsaData;
    const int nStarted = ::WSAStartup(MAKEWORD(2, 2), &wsaData);
    m_bStarted = nStarted == 0;
    EXPECT_EQ(nStarted, 0) << "WSAStartup";
    if (m_bStarted)
        m_socket = ::socket(bIpv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    m_bFailed = m_socket == INVALID_SOCKET;
    EXPECT_FALSE(m_bFailed) << "no UDP socket: error " << ::WSAGetLastError();
}

CUdpSender::~CUdpSender()
{
    if (m_socket != INVALID_SOCKET)
        ::closesocket(m_socket);
    if (m_bStarted)
        ::WSACleanup();
}

void CUdpSender::Send(const std::string& bytes)
{
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    to6.sin6_port = htons(m_nPort);
    to6.sin6_addr = in6addr_loopback;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_nPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* pTo = m_bIpv6 ? reinterpret_cast<const sockaddr*>(&to6) : reinterpret_cast<const sockaddr*>(&to);
    const int nToLength = m_bIpv6 ? sizeof(to6) : sizeof(to);
    const int nSent = ::sendto(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0, pTo, nToLength);
    // Once is enough to hear of it: a broken socket fails every send after.
    if (nSent != static_cast<int>(bytes.size()) && !std::exchange(m_bFailed, true))
        ADD_FAILURE() << "sendto of " << bytes.size() << " bytes: error " << ::WSAGetLastError();
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
            return "<absent>";
        return "<unreadable: error " + std::to_string(dwError) + ">";
    }
    std::string bytes;
    char buffer[65536];
    DWORD dwRead = 0;
    BOOL bRead;
    while ((bRead = ::ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr)) && dwRead > 0)
        bytes.append(buffer, dwRead);
    const DWORD dwError = ::GetLastError();
    ::CloseHandle(hFile);
    return bRead ? bytes : "<unreadable: error " + std::to_string(dwError) + ">";
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ULONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        StopTest("cannot create " + Narrowed(path) + ": error " + std::to_string(::GetLastError()));
    DWORD dwWritten = 0;
    const bool bWritten = ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr) &&
                          dwWritten == bytes.size();
    const DWORD dwError = ::GetLastError();
    ::CloseHandle(hFile);
    if (!bWritten)
        StopTest("cannot write " + Narrowed(path) + ": error " + std::to_string(dwError));
}

std::vector<std::wstring> LogArchives(const std::wstring& folder)
{
    // "myfile-" 8 digits "-" 6 digits, then ".txt" or "-" a number from 2 without leading zero
    // and ".txt"; ordered by the stamp, then by that number.
    const auto archiveOrder = [](const std::wstring& name, std::wstring& stamp, unsigned long& nNumber) {
        const std::wstring prefix = L"myfile-", suffix = L".txt";
        if (name.size() < prefix.size() + 15 + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            return false;
        stamp = name.substr(prefix.size(), 15);
        for (std::size_t i = 0; i < stamp.size(); ++i) {
            if (i == 8 ? stamp[i] != L'-' : !std::iswdigit(stamp[i]))
                return false;
        }
        const std::wstring rest = name.substr(prefix.size() + 15, name.size() - prefix.size() - 15 - suffix.size());
        nNumber = 1;
        if (rest.empty())
            return true;
        if (rest.size() < 2 || rest.size() > 6 || rest[0] != L'-' || rest[1] == L'0' ||
            !std::all_of(rest.begin() + 1, rest.end(), [](wchar_t ch) { return std::iswdigit(ch) != 0; }))
            return false;
        nNumber = std::stoul(rest.substr(1));
        return nNumber >= 2;
    };
    struct CArchive {
        std::wstring stamp;
        unsigned long nNumber;
        std::wstring name;
    };
    std::vector<CArchive> archives;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW((folder + L"\\myfile-*").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = ::FindNextFileW(hFind, &found)) {
        CArchive archive{{}, 0, found.cFileName};
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && archiveOrder(archive.name, archive.stamp, archive.nNumber))
            archives.push_back(archive);
    }
    if (hFind != INVALID_HANDLE_VALUE)
        ::FindClose(hFind);
    std::sort(archives.begin(), archives.end(), [](const CArchive& a, const CArchive& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.nNumber < b.nNumber;
    });
    std::vector<std::wstring> names;
    for (const CArchive& archive : archives)
        names.push_back(archive.name);
    return names;
}

std::string LoggedBytes(const std::wstring& folder)
{
    std::string bytes;
    for (const std::wstring& archive : LogArchives(folder))
        bytes += ReadFileBytes(folder + L"\\" + archive);
    const std::string log = ReadFileBytes(folder + L"\\myfile.txt");
    return log == "<absent>" ? bytes : bytes + log;
}

ULONGLONG LoggedSize()
{
    for (;;) {
        const std::vector<std::wstring> archives = LogArchives();
        ULONGLONG nSize = FileSize(L"myfile.txt");
        for (const std::wstring& archive : archives)
            nSize += FileSize(archive);
        if (LogArchives() == archives)
            return nSize;
    }
}

void WriteBitmapFile(const std::wstring& path, int nWidth, int nHeight, const std::function<COLORREF(int, int)>& pixel)
{
    const int nStride = (nWidth * 3 + 3) & ~3;
    std::vector<unsigned char> bits(static_cast<size_t>(nStride) * nHeight);
    for (int y = 0; y < nHeight; ++y) {
        unsigned char* row = &bits[static_cast<size_t>(nHeight - 1 - y) * nStride];
        for (int x = 0; x < nWidth; ++x) {
            const COLORREF clr = pixel(x, y);
            row[x * 3] = GetBValue(clr);
            row[x * 3 + 1] = GetGValue(clr);
            row[x * 3 + 2] = GetRValue(clr);
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = nWidth;
    info.biHeight = nHeight;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(bits.size());
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info);
    header.bfSize = header.bfOffBits + info.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof(header));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    bytes.append(reinterpret_cast<const char*>(bits.data()), bits.size());
    WriteFileBytes(path, bytes);
}

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

DWORD PortOwner(unsigned short nPort)
{
    std::vector<unsigned char> table;
    DWORD dwResult = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between asking its size and reading it.
    for (int nTry = 0; nTry < 5 && dwResult == ERROR_INSUFFICIENT_BUFFER; ++nTry) {
        ULONG cbTable = static_cast<ULONG>(table.size());
        dwResult = ::GetExtendedUdpTable(table.empty() ? nullptr : table.data(), &cbTable, FALSE, AF_INET,
                                         UDP_TABLE_OWNER_PID, 0);
        if (dwResult == ERROR_INSUFFICIENT_BUFFER)
            table.resize(cbTable + 1024);
    }
    if (dwResult != NO_ERROR) {
        ADD_FAILURE() << "the table of UDP endpoints cannot be read: error " << dwResult;
        return 0;
    }
    const auto* pTable = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < pTable->dwNumEntries; ++i) {
        if (ntohs(static_cast<u_short>(pTable->table[i].dwLocalPort)) == nPort)
            return pTable->table[i].dwOwningPid;
    }
    return 0;
}

bool HasClass(HWND hWnd, const wchar_t* pszClass)
{
    wchar_t name[64] = {};
    ::GetClassNameW(hWnd, name, static_cast<int>(std::size(name)));
    return lstrcmpiW(name, pszClass) == 0;
}

HWND FindMainWindow(DWORD dwProcessId)
{
    struct CWindowSearch {
        DWORD dwProcessId;
        HWND hWnd;
    } search{dwProcessId, nullptr};
    ::EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto& found = *reinterpret_cast<CWindowSearch*>(lParam);
            DWORD dwOwner = 0;
            ::GetWindowThreadProcessId(hWnd, &dwOwner);
            if (dwOwner != found.dwProcessId || !HasClass(::GetDlgItem(hWnd, IDC_ALARM_LIST), WC_LISTVIEWW))
                return TRUE;
            found.hWnd = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.hWnd;
}
