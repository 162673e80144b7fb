// The shipped Wendle.exe, started the way an operator starts it: alone in an empty folder with
// its "image" folder beside it, fed by alarmsend.exe, and watched only from outside its process.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <commctrl.h>
#include <iphlpapi.h>
#include <shellapi.h>

#include "FloodSupport.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

using CRow = std::vector<std::wstring>;
using CRows = std::vector<CRow>;

constexpr unsigned short ALARM_PORT = 6000;
constexpr UINT TRAY_ICON_ID = 128;
// Port 6000 is shared by the whole machine: a Wendle that finds it taken keeps retrying, and
// the start waits that long for another program to let go.
constexpr DWORD START_TIMEOUT = 120000;
constexpr DWORD EFFECT_TIMEOUT = CONDITION_DEADLINE;
constexpr DWORD EXIT_TIMEOUT = CONDITION_DEADLINE;
constexpr DWORD CHILD_TIMEOUT = CONDITION_DEADLINE;
constexpr UINT MESSAGE_TIMEOUT = CONDITION_DEADLINE;
const POINT PT_AWAY = {1200, 1000};

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

void CopyFolder(const std::wstring& from, const std::wstring& to)
{
    ::CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE hFind = ::FindFirstFileW((from + L"\\*").c_str(), &data);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE) << "no folder " << std::string(from.begin(), from.end());
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileW((from + L"\\" + data.cFileName).c_str(), (to + L"\\" + data.cFileName).c_str(), FALSE);
    } while (::FindNextFileW(hFind, &data));
    ::FindClose(hFind);
}

// Starts the program with these arguments in that folder (the test's own when empty); returns
// its process handle, or null.
HANDLE StartProgram(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& folder,
                    DWORD dwFlags, DWORD* pdwProcessId = nullptr)
{
    std::wstring commandLine = QuoteArgument(exe);
    for (const std::wstring& arg : args)
        commandLine += L" " + QuoteArgument(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, dwFlags, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return nullptr;
    ::CloseHandle(process.hThread);
    if (pdwProcessId)
        *pdwProcessId = process.dwProcessId;
    return process.hProcess;
}

// Waits for the process to end and returns its exit code; one that does not end is killed.
DWORD FinishProgram(HANDLE hProcess)
{
    DWORD dwExit = STILL_ACTIVE;
    if (::WaitForSingleObject(hProcess, CHILD_TIMEOUT) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(hProcess, &dwExit);
    else
        ::TerminateProcess(hProcess, 1);
    ::CloseHandle(hProcess);
    return dwExit;
}

// Runs alarmsend.exe with these arguments to the end and returns its exit code.
DWORD RunAlarmSend(const std::vector<std::wstring>& args)
{
    HANDLE hProcess = StartProgram(ExeFolder() + L"\\alarmsend.exe", args, {}, CREATE_NO_WINDOW);
    return hProcess ? FinishProgram(hProcess) : ::GetLastError() | 0x80000000u;
}

void SendAlarm(const std::wstring& ap, const std::wstring& time, const std::wstring& type, const std::wstring& content)
{
    ASSERT_EQ(RunAlarmSend({ap, time, type, content}), 0u);
}

void SendRaw(const std::wstring& text)
{
    ASSERT_EQ(RunAlarmSend({L"--raw", text}), 0u);
}

// The process that has UDP port 6000 bound, 0 when nobody has.
DWORD PortOwner()
{
    ULONG cbTable = 0;
    ::GetExtendedUdpTable(nullptr, &cbTable, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    std::vector<unsigned char> table(cbTable + 1024);
    cbTable = static_cast<ULONG>(table.size());
    if (::GetExtendedUdpTable(table.data(), &cbTable, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0) != NO_ERROR)
        return 0;
    const auto* pTable = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < pTable->dwNumEntries; ++i) {
        if (ntohs(static_cast<u_short>(pTable->table[i].dwLocalPort)) == ALARM_PORT)
            return pTable->table[i].dwOwningPid;
    }
    return 0;
}

LRESULT SendTo(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(hWnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT, &result);
    return static_cast<LRESULT>(result);
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t text[512] = {};
    SendTo(hWnd, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

bool HasClass(HWND hWnd, const wchar_t* pszClass)
{
    wchar_t name[64] = {};
    ::GetClassNameW(hWnd, name, static_cast<int>(std::size(name)));
    return lstrcmpiW(name, pszClass) == 0;
}

// Memory inside the other process: list-view messages carry pointers that only make sense there.
class CRemoteBuffer {
public:
    CRemoteBuffer(HANDLE hProcess, size_t cbSize)
        : m_hProcess(hProcess),
          m_pRemote(::VirtualAllocEx(hProcess, nullptr, cbSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    CRemoteBuffer(const CRemoteBuffer&) = delete;
    CRemoteBuffer& operator=(const CRemoteBuffer&) = delete;
    ~CRemoteBuffer()
    {
        if (m_pRemote)
            ::VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
    }
    unsigned char* Address(size_t cbOffset = 0) const { return static_cast<unsigned char*>(m_pRemote) + cbOffset; }
    void Write(size_t cbOffset, const void* pData, size_t cbData) const
    {
        ::WriteProcessMemory(m_hProcess, Address(cbOffset), pData, cbData, nullptr);
    }
    void Read(size_t cbOffset, void* pData, size_t cbData) const
    {
        ::ReadProcessMemory(m_hProcess, Address(cbOffset), pData, cbData, nullptr);
    }

private:
    HANDLE m_hProcess;
    void* m_pRemote;
};

int ItemCount(HWND hWndList)
{
    return static_cast<int>(SendTo(hWndList, LVM_GETITEMCOUNT, 0, 0));
}

CRows ReadRows(HANDLE hProcess, HWND hWndList)
{
    constexpr int CCH_TEXT = 256;
    const int nColumns = static_cast<int>(SendTo(reinterpret_cast<HWND>(SendTo(hWndList, LVM_GETHEADER, 0, 0)),
                                                 HDM_GETITEMCOUNT, 0, 0));
    CRemoteBuffer buffer(hProcess, sizeof(LVITEMW) + CCH_TEXT * sizeof(wchar_t));
    CRows rows(static_cast<size_t>(ItemCount(hWndList)));
    for (size_t nRow = 0; nRow < rows.size(); ++nRow) {
        for (int nColumn = 0; nColumn < nColumns; ++nColumn) {
            LVITEMW item{};
            item.iSubItem = nColumn;
            item.cchTextMax = CCH_TEXT;
            item.pszText = reinterpret_cast<wchar_t*>(buffer.Address(sizeof(LVITEMW)));
            buffer.Write(0, &item, sizeof(item));
            const auto cch = static_cast<size_t>(
                SendTo(hWndList, LVM_GETITEMTEXTW, nRow, reinterpret_cast<LPARAM>(buffer.Address())));
            std::wstring text(std::min<size_t>(cch, CCH_TEXT - 1), L'\0');
            buffer.Read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t));
            rows[nRow].push_back(text);
        }
    }
    return rows;
}

// The row's place on the screen.
RECT RowRect(HANDLE hProcess, HWND hWndList, int nRow)
{
    CRemoteBuffer buffer(hProcess, sizeof(RECT));
    RECT rc{LVIR_BOUNDS, 0, 0, 0};
    buffer.Write(0, &rc, sizeof(rc));
    SendTo(hWndList, LVM_GETITEMRECT, nRow, reinterpret_cast<LPARAM>(buffer.Address()));
    buffer.Read(0, &rc, sizeof(rc));
    ::MapWindowPoints(hWndList, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

RECT ScreenRect(HWND hWnd)
{
    RECT rc{};
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

POINT Centre(const RECT& rc)
{
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void SendMouse(DWORD dwFlags, LONG dx = 0, LONG dy = 0)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = dwFlags;
    ::SendInput(1, &input, sizeof(input));
}

// Sends a mouse event at a point of the screen.
void SendMouseAt(DWORD dwFlags, POINT pt)
{
    const LONG cx = ::GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = ::GetSystemMetrics(SM_CYSCREEN);
    // Rounded up, so that scaling back to pixels lands on the pixel asked for.
    SendMouse(dwFlags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (pt.x * 65536 + cx - 1) / cx,
              (pt.y * 65536 + cy - 1) / cy);
}

// Moves the pointer as the mouse would, so the window under it gets its WM_MOUSEMOVE.
bool MovePointer(POINT pt)
{
    SendMouseAt(0, pt);
    return PumpUntil([&] {
        POINT now;
        return ::GetCursorPos(&now) && now.x == pt.x && now.y == pt.y;
    });
}

bool BringToFront(HWND hWnd)
{
    ::SetForegroundWindow(hWnd);
    return PumpUntil([&] { return ::GetForegroundWindow() == hWnd; });
}

void Click(POINT pt)
{
    ASSERT_TRUE(MovePointer(pt)) << "the pointer did not reach " << pt.x << "," << pt.y;
    // The press and release carry the point themselves: on a busy machine the X server's report
    // of an earlier move can reach the window late and put the pointer back where it was.
    SendMouseAt(MOUSEEVENTF_LEFTDOWN, pt);
    SendMouseAt(MOUSEEVENTF_LEFTUP, pt);
}

// 24-bit pixels, from a piece of the screen read the way a screenshot tool reads it, or from a
// bitmap file.
class CPixels {
public:
    explicit CPixels(const RECT& rcScreen)
    {
        HDC hScreen = ::GetDC(nullptr);
        HDC hMem = ::CreateCompatibleDC(hScreen);
        HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, rcScreen.right - rcScreen.left,
                                                   rcScreen.bottom - rcScreen.top);
        HGDIOBJ hOld = ::SelectObject(hMem, hBitmap);
        ::BitBlt(hMem, 0, 0, rcScreen.right - rcScreen.left, rcScreen.bottom - rcScreen.top, hScreen, rcScreen.left,
                 rcScreen.top, SRCCOPY | CAPTUREBLT);
        ::SelectObject(hMem, hOld);
        Take(hMem, hBitmap);
        ::DeleteObject(hBitmap);
        ::DeleteDC(hMem);
        ::ReleaseDC(nullptr, hScreen);
    }
    explicit CPixels(const std::wstring& bitmapFile)
    {
        HBITMAP hBitmap = static_cast<HBITMAP>(
            ::LoadImageW(nullptr, bitmapFile.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
        HDC hMem = ::CreateCompatibleDC(nullptr);
        if (hBitmap)
            Take(hMem, hBitmap);
        ::DeleteDC(hMem);
        ::DeleteObject(hBitmap);
    }
    SIZE Size() const { return {m_nWidth, m_nHeight}; }
    COLORREF Pixel(int x, int y) const
    {
        const unsigned char* p = &m_bits[static_cast<size_t>(m_nHeight - 1 - y) * Stride() + x * 3];
        return RGB(p[2], p[1], p[0]);
    }
    bool operator==(const CPixels& other) const
    {
        return m_nWidth == other.m_nWidth && m_nHeight == other.m_nHeight && m_bits == other.m_bits;
    }
    void Save(const std::wstring& path) const
    {
        WriteBitmapFile(path, m_nWidth, m_nHeight, [this](int x, int y) { return Pixel(x, y); });
    }

private:
    int Stride() const { return (m_nWidth * 3 + 3) & ~3; }
    void Take(HDC hDC, HBITMAP hBitmap)
    {
        BITMAP bm{};
        ::GetObjectW(hBitmap, sizeof(bm), &bm);
        m_nWidth = bm.bmWidth;
        m_nHeight = bm.bmHeight;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = m_nWidth;
        info.bmiHeader.biHeight = m_nHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        m_bits.resize(static_cast<size_t>(Stride()) * m_nHeight);
        ::GetDIBits(hDC, hBitmap, 0, m_nHeight, m_bits.data(), &info, DIB_RGB_COLORS);
    }

    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<unsigned char> m_bits;
};

// Saves what the screen shows of the window when WENDLE_SCREENSHOT_DIR names a folder. Under
// Wine the folder may be given as a Unix path.
void SaveScreenshot(HWND hWnd, const wchar_t* pszName)
{
    wchar_t folder[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(L"WENDLE_SCREENSHOT_DIR", folder, MAX_PATH))
        return;
    std::wstring path = folder;
    using DosNameFunction = wchar_t* (*)(const char*);
    const auto pDosName = reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (path[0] == L'/' && pDosName) {
        char unixPath[MAX_PATH] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, folder, -1, unixPath, MAX_PATH, nullptr, nullptr);
        if (wchar_t* pszDos = pDosName(unixPath)) {
            path = pszDos;
            ::HeapFree(::GetProcessHeap(), 0, pszDos);
        }
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
    // The window's own painting reaches the screen a moment after the change that caused it.
    PumpMessages(500);
    CPixels(ScreenRect(hWnd)).Save(path + L"\\" + pszName);
}

bool TrayIconExists(HWND hWndOwner)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = hWndOwner;
    data.uID = TRAY_ICON_ID;
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

struct CWindowSearch {
    DWORD dwProcessId;
    HWND hWnd;
};

HWND FindMainWindow(DWORD dwProcessId)
{
    CWindowSearch search{dwProcessId, nullptr};
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

HWND FindLogPage(HWND hWndMain)
{
    for (HWND hWnd = ::GetWindow(hWndMain, GW_CHILD); hWnd; hWnd = ::GetWindow(hWnd, GW_HWNDNEXT)) {
        if (HasClass(hWnd, L"#32770") && HasClass(::GetDlgItem(hWnd, IDC_LOG_LIST), WC_LISTVIEWW))
            return hWnd;
    }
    return nullptr;
}

// One run of Wendle.exe in a folder; whatever happens to the test, the process does not outlive it.
class CWendleRun {
public:
    CWendleRun() = default;
    CWendleRun(const CWendleRun&) = delete;
    CWendleRun& operator=(const CWendleRun&) = delete;
    ~CWendleRun() { Kill(); }

    // Starts the program and waits until its window is up and it listens on the port.
    void Start(const std::wstring& folder)
    {
        Kill();
        m_hProcess = StartProgram(folder + L"\\Wendle.exe", {}, folder, 0, &m_dwProcessId);
        ASSERT_NE(m_hProcess, nullptr) << "cannot start Wendle.exe, error " << ::GetLastError();
        // The window shows before its initialisation has created the log page.
        const bool bWindowUp = PumpUntil(
            [this] {
                m_hWndMain = FindMainWindow(m_dwProcessId);
                m_hWndLogPage = m_hWndMain ? FindLogPage(m_hWndMain) : nullptr;
                return m_hWndLogPage != nullptr;
            },
            START_TIMEOUT);
        ASSERT_TRUE(bWindowUp) << "Wendle.exe shows no main window with a log page";
        m_hWndAlarmList = ::GetDlgItem(m_hWndMain, IDC_ALARM_LIST);
        m_hWndLogList = ::GetDlgItem(m_hWndLogPage, IDC_LOG_LIST);
        DWORD dwOwner = 0;
        const bool bListening = PumpUntil([&] { return (dwOwner = PortOwner()) == m_dwProcessId; }, START_TIMEOUT);
        ASSERT_TRUE(bListening) << "Wendle.exe does not listen on UDP " << ALARM_PORT << "; process " << dwOwner
                                << " holds it";
    }

    bool WaitForExit(DWORD dwTimeout) const { return ::WaitForSingleObject(m_hProcess, dwTimeout) == WAIT_OBJECT_0; }

    void Kill()
    {
        if (!m_hProcess)
            return;
        if (!WaitForExit(0)) {
            ::TerminateProcess(m_hProcess, 1);
            WaitForExit(INFINITE);
        }
        ::CloseHandle(m_hProcess);
        m_hProcess = nullptr;
    }

    CRows AlarmRows() const { return ReadRows(m_hProcess, m_hWndAlarmList); }
    CRows LogRows() const { return ReadRows(m_hProcess, m_hWndLogList); }
    RECT AlarmRowRect(int nRow) const { return RowRect(m_hProcess, m_hWndAlarmList, nRow); }
    std::wstring MainItemText(int nID) const { return WindowText(::GetDlgItem(m_hWndMain, nID)); }
    CRow DetailPanel() const
    {
        return {MainItemText(IDC_DETAIL_AP), MainItemText(IDC_DETAIL_TIME), MainItemText(IDC_DETAIL_TYPE),
                MainItemText(IDC_DETAIL_CONTENT)};
    }
    void ClickMainButton(int nID) const { SendTo(::GetDlgItem(m_hWndMain, nID), BM_CLICK, 0, 0); }
    void ClickLogPageButton(int nID) const { SendTo(::GetDlgItem(m_hWndLogPage, nID), BM_CLICK, 0, 0); }

    HANDLE m_hProcess = nullptr;
    DWORD m_dwProcessId = 0;
    HWND m_hWndMain = nullptr;
    HWND m_hWndLogPage = nullptr;
    HWND m_hWndAlarmList = nullptr;
    HWND m_hWndLogList = nullptr;
};

class CEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring from = ExeFolder();
        ASSERT_TRUE(::CopyFileW((from + L"\\Wendle.exe").c_str(), (m_dir.Path() + L"\\Wendle.exe").c_str(), FALSE));
        CopyFolder(from + L"\\image", m_dir.Path() + L"\\image");
        MovePointer(PT_AWAY);
    }
    void TearDown() override { m_run.Kill(); }

    std::wstring LogFile() const { return m_dir.Path() + L"\\myfile.txt"; }
    // The log's archives, oldest first, and then the log.
    std::string LoggedBytes() const
    {
        std::vector<std::wstring> archives;
        WIN32_FIND_DATAW found;
        HANDLE hFind = ::FindFirstFileW((m_dir.Path() + L"\\myfile-*.txt").c_str(), &found);
        for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = ::FindNextFileW(hFind, &found))
            archives.push_back(m_dir.Path() + L"\\" + found.cFileName);
        if (hFind != INVALID_HANDLE_VALUE)
            ::FindClose(hFind);
        std::sort(archives.begin(), archives.end());
        std::string bytes;
        for (const std::wstring& archive : archives)
            bytes += ReadFileBytes(archive);
        return bytes + ReadFileBytes(LogFile());
    }
    bool LogFileIs(const std::string& bytes) const
    {
        // The file is opened only once it has the expected size, when Wendle is done with it:
        // a reader that holds it open at the moment Wendle retries a failing log makes that
        // retry fail too, and one that opens it while Wendle writes finds it locked.
        return PumpUntil([&] { return FileSize(LogFile()) == bytes.size() && ReadFileBytes(LogFile()) == bytes; },
                         EFFECT_TIMEOUT);
    }
    bool AlarmCountsAre(int nAlarmRows, int nLogRows) const
    {
        return PumpUntil([&] { return ItemCount(m_run.m_hWndAlarmList) == nAlarmRows &&
                                      ItemCount(m_run.m_hWndLogList) == nLogRows; },
                         EFFECT_TIMEOUT);
    }
    // Closes the program as the operator does and waits for its end.
    void Close()
    {
        m_run.ClickMainButton(IDC_BTN_CLOSE);
        ASSERT_TRUE(m_run.WaitForExit(EXIT_TIMEOUT)) << "Wendle.exe is still running after its close button";
    }

    CTempDir m_dir;
    CWendleRun m_run;
};

TEST_F(CEndToEndTest, RecordsEveryDatagramAndListsOnlyAlarmsNewestFirst)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ReadFileBytes(LogFile()), "<absent>");

    SendAlarm(L"AP-01", L"2024-05-01 08:00:00", L"CPU", L"high");
    SendRaw(L"hello");
    SendRaw(L"");
    // 32 bytes of content: the lists keep the 30 that end on a whole character, the file keeps all.
    SendAlarm(L"机房A", L"2024-05-01 08:00:01", L"温度", L"机房温度过高告警机房温度过高告警");

    // Narrow literals are compiled to code page 936: these are the bytes on the wire.
    const std::string expected = "AP-01;2024-05-01 08:00:00;CPU;high;\r\n"
                                 "hello\r\n"
                                 "\r\n"
                                 "机房A;2024-05-01 08:00:01;温度;机房温度过高告警机房温度过高告警;\r\n";
    EXPECT_TRUE(LogFileIs(expected)) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ASSERT_TRUE(AlarmCountsAre(2, 2)) << ItemCount(m_run.m_hWndAlarmList) << " alarm rows, "
                                      << ItemCount(m_run.m_hWndLogList) << " log rows";

    const CRows rows = {{L"机房A", L"2024-05-01 08:00:01", L"温度", L"机房温度过高告警机房温度过高告"},
                        {L"AP-01", L"2024-05-01 08:00:00", L"CPU", L"high"}};
    EXPECT_EQ(m_run.AlarmRows(), rows);
    EXPECT_EQ(m_run.LogRows(), rows);
}

TEST_F(CEndToEndTest, ClickOnARowShowsItsFieldsInTheDetailPanel)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    SendAlarm(L"机房B", L"08:00:01", L"温度", L"过高");
    ASSERT_TRUE(AlarmCountsAre(2, 2));

    ASSERT_TRUE(BringToFront(m_run.m_hWndMain)) << "the main window does not come to the front";

    // A little right of the row's left edge: the first column, never the border.
    const auto rowPoint = [&](int nRow) {
        const RECT rc = m_run.AlarmRowRect(nRow);
        return POINT{rc.left + 20, (rc.top + rc.bottom) / 2};
    };
    Click(rowPoint(1));
    const CRow older = {L"AP-01", L"08:00:00", L"CPU", L"high"};
    EXPECT_TRUE(PumpUntil([&] { return m_run.DetailPanel() == older; }, EFFECT_TIMEOUT))
        << "detail panel: " << ::testing::PrintToString(m_run.DetailPanel());

    Click(rowPoint(0));
    const CRow newer = {L"机房B", L"08:00:01", L"温度", L"过高"};
    EXPECT_TRUE(PumpUntil([&] { return m_run.DetailPanel() == newer; }, EFFECT_TIMEOUT))
        << "detail panel: " << ::testing::PrintToString(m_run.DetailPanel());
    SaveScreenshot(m_run.m_hWndMain, L"alarm-page.bmp");
}

TEST_F(CEndToEndTest, PointerOverTheHideButtonShowsItsHoverImage)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    ASSERT_TRUE(AlarmCountsAre(1, 1));

    const CPixels normal(m_dir.Path() + L"\\image\\hide_1.bmp");
    const CPixels hover(m_dir.Path() + L"\\image\\hide.bmp");
    ASSERT_FALSE(normal == hover) << "the hide button's images cannot be told apart";
    const RECT rcHide = ScreenRect(::GetDlgItem(m_run.m_hWndMain, IDC_BTN_HIDE));
    // The image sits in the button's top left corner, unscaled.
    const RECT rcImage{rcHide.left, rcHide.top, rcHide.left + normal.Size().cx, rcHide.top + normal.Size().cy};
    const auto shows = [&](const CPixels& image) {
        return PumpUntil([&] { return CPixels(rcImage) == image; }, EFFECT_TIMEOUT);
    };
    EXPECT_TRUE(shows(normal)) << "the hide button does not show its normal image";
    // The operator's window is the active one.
    ASSERT_TRUE(BringToFront(m_run.m_hWndMain)) << "the main window does not come to the front";

    ASSERT_TRUE(MovePointer(Centre(rcHide)));
    EXPECT_TRUE(shows(hover)) << "the hide button does not show its hover image under the pointer";
    // The window system's own hover tracking comes due after the hover time and may repaint
    // the button: the image has to outlast it for as long as the pointer stays.
    UINT nHoverTime = 400;
    ::SystemParametersInfoW(SPI_GETMOUSEHOVERTIME, 0, &nHoverTime, 0);
    PumpMessages(nHoverTime + 500);
    EXPECT_TRUE(CPixels(rcImage) == hover) << "the hover image goes while the pointer stays on the button";
    SaveScreenshot(m_run.m_hWndMain, L"caption-hover.bmp");

    ASSERT_TRUE(MovePointer(PT_AWAY));
    EXPECT_TRUE(shows(normal)) << "the hide button keeps its hover image after the pointer left";
}

TEST_F(CEndToEndTest, DeleteOnTheLogPageEmptiesItAndRemovesTheFileUntilTheNextDatagram)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    SendAlarm(L"AP-02", L"08:00:01", L"内存", L"不足");
    ASSERT_TRUE(AlarmCountsAre(2, 2));

    m_run.ClickMainButton(IDC_BTN_LOG);
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(m_run.m_hWndLogPage) != FALSE; }))
        << "the log page does not show";
    EXPECT_FALSE(::IsWindowVisible(m_run.m_hWndAlarmList));
    SaveScreenshot(m_run.m_hWndMain, L"log-page.bmp");

    m_run.ClickLogPageButton(IDC_LOG_DELETE);
    EXPECT_TRUE(PumpUntil([&] { return ItemCount(m_run.m_hWndLogList) == 0 && !FileExists(LogFile()); }))
        << ItemCount(m_run.m_hWndLogList) << " log rows; myfile.txt holds: " << ReadFileBytes(LogFile());
    // The alarm page keeps what it showed.
    EXPECT_EQ(ItemCount(m_run.m_hWndAlarmList), 2);

    SendAlarm(L"AP-03", L"08:00:02", L"磁盘", L"满");
    EXPECT_TRUE(LogFileIs("AP-03;08:00:02;磁盘;满;\r\n")) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ASSERT_TRUE(AlarmCountsAre(3, 1));
    EXPECT_EQ(m_run.LogRows(), (CRows{{L"AP-03", L"08:00:02", L"磁盘", L"满"}}));
}

TEST_F(CEndToEndTest, NextRunShowsTheHistoryNewestFirstOnTheLogPageOnly)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"a", L"b", L"c", L"d");
    SendAlarm(L"机房A", L"10:00:00", L"温度", L"过高");
    SendRaw(L"x");
    SendAlarm(L"e", L"f", L"g", L"h");
    ASSERT_TRUE(AlarmCountsAre(3, 3));
    ASSERT_TRUE(LogFileIs("a;b;c;d;\r\n机房A;10:00:00;温度;过高;\r\nx\r\ne;f;g;h;\r\n"));
    Close();
    ASSERT_FALSE(HasFatalFailure());

    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(AlarmCountsAre(0, 3)) << ItemCount(m_run.m_hWndLogList) << " log rows";
    EXPECT_EQ(m_run.LogRows(), (CRows{{L"e", L"f", L"g", L"h"}, {L"机房A", L"10:00:00", L"温度", L"过高"},
                                      {L"a", L"b", L"c", L"d"}}));
}

TEST_F(CEndToEndTest, CloseButtonEndsTheProcessAndTakesTheTrayIconAway)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    const HWND hWndMain = m_run.m_hWndMain;
    // Only where the notification area answers for a live icon does its absence mean anything.
    const bool bTrayAnswers = TrayIconExists(hWndMain);
    EXPECT_TRUE(bTrayAnswers) << "the notification area knows no icon " << TRAY_ICON_ID << " of the main window";

    Close();
    ASSERT_FALSE(HasFatalFailure());
    DWORD dwExit = STILL_ACTIVE;
    ::GetExitCodeProcess(m_run.m_hProcess, &dwExit);
    EXPECT_EQ(dwExit, 0u);
    if (bTrayAnswers) {
        EXPECT_FALSE(TrayIconExists(hWndMain)) << "the tray icon outlives the program";
    }
}

TEST_F(CEndToEndTest, SecondStartHandsOverToTheRunningMonitorHiddenInTheTray)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    m_run.ClickMainButton(IDC_BTN_HIDE);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindowVisible(m_run.m_hWndMain); })) << "the hide button leaves the window";

    HANDLE hSecond = StartProgram(m_dir.Path() + L"\\Wendle.exe", {}, m_dir.Path(), 0);
    ASSERT_NE(hSecond, nullptr);
    EXPECT_EQ(FinishProgram(hSecond), 0u) << "the second Wendle.exe does not end by itself";

    EXPECT_TRUE(PumpUntil([&] {
        return ::IsWindowVisible(m_run.m_hWndMain) && ::GetForegroundWindow() == m_run.m_hWndMain;
    })) << "the running monitor does not come back to the front";
    EXPECT_FALSE(m_run.WaitForExit(0));
    EXPECT_EQ(PortOwner(), m_run.m_dwProcessId);
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    EXPECT_TRUE(AlarmCountsAre(1, 1)) << "the running monitor no longer lists alarms";
}

} // namespace

TEST_F(CEndToEndTest, ALogHeldByAnotherProgramGetsEveryLineOnceReleased)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    // This test program is the other program: it holds the file without sharing, as an editor
    // or a virus scanner may, for longer than Wendle waits for it.
    HANDLE hHeld = ::CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    SendAlarm(L"AP-01", L"1", L"t", L"c");
    SendRaw(L"not an alarm");
    SendAlarm(L"AP-02", L"2", L"t", L"c");
    // The lists go on while the file cannot be written.
    EXPECT_TRUE(AlarmCountsAre(2, 2));
    ::CloseHandle(hHeld);
    SendAlarm(L"AP-03", L"3", L"t", L"c");
    EXPECT_TRUE(LogFileIs("AP-01;1;t;c;\r\nnot an alarm\r\nAP-02;2;t;c;\r\nAP-03;3;t;c;\r\n"))
        << "myfile.txt holds: " << ReadFileBytes(LogFile());
}

namespace {

TEST_F(CEndToEndTest, CloseInAFloodEndsTheProcessWithEveryLineWhole)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(LogFile()).size() > 20000; }, START_TIMEOUT));
    const ULONGLONG start = ::GetTickCount64();
    Close();
    ASSERT_FALSE(HasFatalFailure());
    // A figure for the record, not a check: the machine's speed is not the program's.
    std::printf("close in a flood of about 2,000 alarms a second: process ended after %llu ms\n",
                static_cast<unsigned long long>(::GetTickCount64() - start));
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(LoggedBytes());
}

TEST_F(CEndToEndTest, TheEndOfTheSessionInAFloodWritesEverythingAndEndsTheProcess)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    const bool bTrayAnswers = TrayIconExists(m_run.m_hWndMain);
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(LogFile()).size() > 20000; }, START_TIMEOUT));
    EXPECT_EQ(SendTo(m_run.m_hWndMain, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendTo(m_run.m_hWndMain, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // Windows may end the process as soon as the message is answered: all is done by then.
    if (bTrayAnswers) {
        EXPECT_FALSE(TrayIconExists(m_run.m_hWndMain)) << "the tray icon outlives the session";
    }
    const std::string written = LoggedBytes();
    EXPECT_TRUE(m_run.WaitForExit(EXIT_TIMEOUT)) << "Wendle.exe does not end after the session";
    EXPECT_EQ(LoggedBytes(), written) << "lines written after the end of the session";
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(written);
}

TEST_F(CEndToEndTest, ASecondStartWhileTheFirstClosesTakesOverOnceItHasEnded)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    const DWORD dwFirst = m_run.m_dwProcessId;
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(LogFile()).size() > 20000; }, START_TIMEOUT));
    m_run.ClickMainButton(IDC_BTN_CLOSE);
    CWendleRun second;
    second.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure()) << "the second start did not take over";
    EXPECT_TRUE(m_run.WaitForExit(0)) << "the first monitor still runs";
    EXPECT_NE(second.m_dwProcessId, dwFirst);
    flood.Stop();
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    EXPECT_TRUE(PumpUntil([&] { return ItemCount(second.m_hWndAlarmList) > 0; }, EFFECT_TIMEOUT));
}

TEST_F(CEndToEndTest, AViewerInAnotherProgramHoldsUpNoLine)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    // This test program is the viewer: it reads the file and lets others read, write and
    // delete it, as viewers, backup and indexing do.
    HANDLE hViewer = ::CreateFileW(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hViewer, INVALID_HANDLE_VALUE);
    SendAlarm(L"AP-01", L"1", L"t", L"c");
    SendRaw(L"not an alarm");
    EXPECT_TRUE(LogFileIs("AP-01;1;t;c;\r\nnot an alarm\r\n")) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ::CloseHandle(hViewer);
}

} // namespace
