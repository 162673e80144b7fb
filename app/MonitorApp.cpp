#include "MonitorApp.h"

#include "MonitorDlg.h"

CMonitorApp theApp;

BOOL CMonitorApp::InitInstance()
{
    CMonitorDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop follows: the program ends when its window has.
    return FALSE;
}
