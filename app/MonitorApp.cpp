#include "MonitorApp.h"

#include "Handle.h"
#include "MonitorDlg.h"

namespace {

const wchar_t SINGLE_INSTANCE_MUTEX[] = L"Local\\Wendle.Monitor";

BOOL CALLBACK FindMonitorWindow(HWND hWnd, LPARAM lParam)
{
    if (!::GetPropW(hWnd, MONITOR_WINDOW_PROPERTY))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// Brings the running monitor's window back, from the tray or the task bar, to the front.
void ShowRunningMonitor()
{
    HWND hMonitor = nullptr;
    ::EnumWindows(&FindMonitorWindow, reinterpret_cast<LPARAM>(&hMonitor));
    if (!hMonitor)
        return;
    ::ShowWindow(hMonitor, ::IsIconic(hMonitor) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(hMonitor);
}

} // namespace

CMonitorApp theApp;

BOOL CMonitorApp::InitInstance()
{
    // A second copy could not take the port; it hands over to the one that runs.
    CHandle hInstanceMutex(::CreateMutexW(nullptr, FALSE, SINGLE_INSTANCE_MUTEX));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowRunningMonitor();
        return FALSE;
    }
    CMonitorDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop follows: the program ends when its window has.
    return FALSE;
}
