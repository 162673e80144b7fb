#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "TestSupport.h"

#include "resource.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

void RemoveTree(const std::wstring& path)
{
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
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(hFind, &data));
        ::FindClose(hFind);
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(path.c_str());
}

CTempDir::CTempDir()
{
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static unsigned nCounter = 0;
    m_strPath = std::wstring(base) + L"wendle-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++nCounter);
    ::CreateDirectoryW(m_strPath.c_str(), nullptr);
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    m_strPrevious = previous;
    ::SetCurrentDirectoryW(m_strPath.c_str());
}

CTempDir::~CTempDir()
{
    ::SetCurrentDirectoryW(m_strPrevious.c_str());
    RemoveTree(m_strPath);
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

void SendDatagram(const std::string& bytes, unsigned short nPort)
{
    CUdpSender(nPort).Send(bytes);
}

CUdpSender::CUdpSender(unsigned short nPort) : m_nPort(nPort)
{
    WSADATA wsaData;
    ::WSAStartup(MAKEWORD(2, 2), &wsaData);
    m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
}

CUdpSender::~CUdpSender()
{
    ::closesocket(m_socket);
    ::WSACleanup();
}

void CUdpSender::Send(const std::string& bytes)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_nPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
}

std::wstring QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t nBackslashes = 0;
    for (wchar_t ch : arg) {
        if (ch == L'\\') {
            ++nBackslashes;
            continue;
        }
        quoted.append(ch == L'"' ? nBackslashes * 2 + 1 : nBackslashes, L'\\');
        nBackslashes = 0;
        quoted += ch;
    }
    quoted.append(nBackslashes * 2, L'\\');
    return quoted + L"\"";
}

std::string ReadFileBytes(const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return "<absent>";
    std::string bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
        bytes.append(buffer, n);
    fclose(file);
    return bytes;
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
    FILE* file = _wfopen(path.c_str(), L"wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
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
    ULONG cbTable = 0;
    ::GetExtendedUdpTable(nullptr, &cbTable, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    std::vector<unsigned char> table(cbTable + 1024);
    cbTable = static_cast<ULONG>(table.size());
    if (::GetExtendedUdpTable(table.data(), &cbTable, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0) != NO_ERROR)
        return 0;
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
