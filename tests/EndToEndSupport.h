// What the end-to-end tests share: starting the shipped Wendle.exe in a folder of its own,
// feeding it with alarmsend.exe, and reading its windows, its tray icon and its files from
// outside its process.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <commctrl.h>
#include <iphlpapi.h>
#include <shellapi.h>

#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

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

void CopyFolder(const std::wstring& from, const std::wstring& to);

// Starts the program with these arguments in that folder (the test's own when empty); returns
// its process handle, or null.
HANDLE StartProgram(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& folder,
                    DWORD dwFlags, DWORD* pdwProcessId = nullptr);

// Waits for the process to end and returns its exit code; one that does not end is killed.
DWORD FinishProgram(HANDLE hProcess);

// Runs alarmsend.exe with these arguments to the end and returns its exit code.
DWORD RunAlarmSend(const std::vector<std::wstring>& args);

void SendAlarm(const std::wstring& ap, const std::wstring& time, const std::wstring& type, const std::wstring& content);

void SendRaw(const std::wstring& text);

// Sends the message to a window of the program; one that does not answer within a minute, or is
// hung, fails the test.
LRESULT SendTo(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);

std::wstring WindowText(HWND hWnd);

// The list's rows, or -1 while it does not answer: a hung window is no empty list.
int ItemCount(HWND hWndList);

CRows ReadRows(HANDLE hProcess, HWND hWndList);

// The row's place on the screen.
RECT RowRect(HANDLE hProcess, HWND hWndList, int nRow);

RECT ScreenRect(HWND hWnd);

POINT Centre(const RECT& rc);

void SendMouse(DWORD dwFlags, LONG dx = 0, LONG dy = 0);

// Sends a mouse event at a point of the screen.
void SendMouseAt(DWORD dwFlags, POINT pt);

// Moves the pointer as the mouse would, so the window under it gets its WM_MOUSEMOVE.
bool MovePointer(POINT pt);

bool BringToFront(HWND hWnd);

void Click(POINT pt);

// Saves what the screen shows of the window when WENDLE_SCREENSHOT_DIR names a folder. Under
// Wine the folder may be given as a Unix path.
void SaveScreenshot(HWND hWnd, const wchar_t* pszName);

bool TrayIconExists(HWND hWndOwner);

HWND FindLogPage(HWND hWndMain);

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

// One run of Wendle.exe in a folder; whatever happens to the test, the process does not outlive it.
class CWendleRun {
public:
    CWendleRun() = default;
    CWendleRun(const CWendleRun&) = delete;
    CWendleRun& operator=(const CWendleRun&) = delete;
    ~CWendleRun() { Kill(); }

    // Starts the program in its folder, or in startIn with these arguments, and waits until its
    // window is up and it listens on the port.
    void Start(const std::wstring& folder, const std::vector<std::wstring>& args = {}, const std::wstring& startIn = {})
    {
        Kill();
        m_hProcess = StartProgram(folder + L"\\Wendle.exe", args, startIn.empty() ? folder : startIn, 0, &m_dwProcessId);
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
            EXPECT_TRUE(WaitForExit(EXIT_TIMEOUT)) << "Wendle.exe does not end when terminated";
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
