#include "MonitorApp.h"

#include "Handle.h"
#include "MonitorDlg.h"

namespace {

const wchar_t SINGLE_INSTANCE_MUTEX[] = L"Local\\Wendle.Monitor";
// How long a second start waits for a running monitor that is closing, or not yet showing.
constexpr ULONGLONG HANDOVER_WAIT_MILLISECONDS = 8000;
constexpr DWORD HANDOVER_POLL_MILLISECONDS = 200;
const char HANDOVER_FAILED[] = "进程监控程序已在运行，但找不到它的窗口，它也没有退出。请稍后再启动。";

BOOL CALLBACK FindMonitorWindow(HWND hWnd, LPARAM lParam)
{
    if (!::GetPropW(hWnd, MONITOR_WINDOW_PROPERTY))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// Brings the running monitor's window back, from the tray or the task bar, to the front.
bool ShowRunningMonitor()
{
    HWND hMonitor = nullptr;
    ::EnumWindows(&FindMonitorWindow, reinterpret_cast<LPARAM>(&hMonitor));
    if (!hMonitor)
        return false;
    ::ShowWindow(hMonitor, ::IsIconic(hMonitor) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(hMonitor);
    return true;
}

// With another monitor running: true once it has ended and this one may start. A monitor that
// is closing drops its window's mark first and ends within seconds; one that is starting shows
// its window soon. Anything else is said to the operator, never passed over in silence.
bool WaitForRunningMonitor(HANDLE hInstanceMutex)
{
    const ULONGLONG deadline = ::GetTickCount64() + HANDOVER_WAIT_MILLISECONDS;
    do {
        if (ShowRunningMonitor())
            return false;
        const DWORD dwWait = ::WaitForSingleObject(hInstanceMutex, HANDOVER_POLL_MILLISECONDS);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED)
            return true;
    } while (::GetTickCount64() < deadline);
    ::MessageBoxW(nullptr, Widen(HANDOVER_FAILED).c_str(), Widen(PROGRAM_TITLE).c_str(), MB_OK | MB_ICONWARNING);
    return false;
}

} // namespace

CMonitorApp theApp;

BOOL CMonitorApp::InitInstance()
{
    // A second copy could not take the port; it hands over to the one that runs. The mutex is
    // held while the monitor runs, so that a second start can wait for one that is closing.
    CHandle hInstanceMutex(::CreateMutexW(nullptr, TRUE, SINGLE_INSTANCE_MUTEX));
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !WaitForRunningMonitor(hInstanceMutex))
        return FALSE;
    {
        CMonitorDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    ::ReleaseMutex(hInstanceMutex);
    // No message loop follows: the program ends when its window has.
    return FALSE;
}
