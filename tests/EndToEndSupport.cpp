#include "EndToEndSupport.h"

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

HANDLE StartProgram(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& folder,
                    DWORD dwFlags, DWORD* pdwProcessId)
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

namespace {

bool TrySendTo(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    DWORD_PTR answer = 0;
    const bool bAnswered = ::SendMessageTimeoutW(hWnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT,
                                                 &answer) != 0;
    result = static_cast<LRESULT>(answer);
    return bAnswered;
}

} // namespace

LRESULT SendTo(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    EXPECT_TRUE(TrySendTo(hWnd, nMessage, wParam, lParam, result))
        << "window " << hWnd << " does not answer message " << nMessage << ": error " << ::GetLastError();
    return result;
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t text[512] = {};
    SendTo(hWnd, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

int ItemCount(HWND hWndList)
{
    LRESULT nCount = 0;
    return TrySendTo(hWndList, LVM_GETITEMCOUNT, 0, 0, nCount) ? static_cast<int>(nCount) : -1;
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

void SendMouse(DWORD dwFlags, LONG dx, LONG dy)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = dwFlags;
    ::SendInput(1, &input, sizeof(input));
}

void SendMouseAt(DWORD dwFlags, POINT pt)
{
    const LONG cx = ::GetSystemMetrics(SM_CXSCREEN);
    const LONG cy = ::GetSystemMetrics(SM_CYSCREEN);
    // Rounded up, so that scaling back to pixels lands on the pixel asked for.
    SendMouse(dwFlags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (pt.x * 65536 + cx - 1) / cx,
              (pt.y * 65536 + cy - 1) / cy);
}

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

HWND FindLogPage(HWND hWndMain)
{
    for (HWND hWnd = ::GetWindow(hWndMain, GW_CHILD); hWnd; hWnd = ::GetWindow(hWnd, GW_HWNDNEXT)) {
        if (HasClass(hWnd, L"#32770") && HasClass(::GetDlgItem(hWnd, IDC_LOG_LIST), WC_LISTVIEWW))
            return hWnd;
    }
    return nullptr;
}
