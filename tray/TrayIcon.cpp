// The tray operations of the main window.
#include "TrayIcon.h"

#include "MonitorDlg.h"
#include "WinApp.h"

#include <cwchar>

namespace {

const char TRAY_TIP[] = "Alarm";

template <std::size_t N> void CopyField(wchar_t (&field)[N], const char* pszText)
{
    std::wcsncpy(field, Widen(pszText ? pszText : "").c_str(), N - 1);
    field[N - 1] = L'\0';
}

} // namespace

UINT TaskbarCreatedMessage()
{
    static const UINT nMessage = ::RegisterWindowMessageW(L"TaskbarCreated");
    return nMessage;
}

void CMonitorDlg::FillTrayIconFields()
{
    m_trayIconData.hWnd = m_hWnd;
    m_trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_trayIconData.uID = TRAY_ICON_ID;
    m_trayIconData.cbSize = NOTIFYICONDATAW_V3_SIZE;
    m_trayIconData.hIcon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    CopyField(m_trayIconData.szTip, TRAY_TIP);
}

// The shell call is made on a copy with the record unlocked: waiting for the shell, this thread
// serves messages sent to it, and one of them (a close, an alarm) may use the record again.
BOOL CMonitorDlg::AddTrayIcon()
{
    NOTIFYICONDATAW data;
    {
        std::lock_guard<std::mutex> lock(m_trayMutex);
        FillTrayIconFields();
        m_trayIconData.uCallbackMessage = WM_TRAY_NOTIFY;
        data = m_trayIconData;
    }
    return ::Shell_NotifyIconW(NIM_ADD, &data);
}

BOOL CMonitorDlg::DeleteTrayIcon()
{
    NOTIFYICONDATAW data;
    {
        std::lock_guard<std::mutex> lock(m_trayMutex);
        FillTrayIconFields();
        data = m_trayIconData;
    }
    return ::Shell_NotifyIconW(NIM_DELETE, &data);
}

BOOL CMonitorDlg::ShowBalloon(const char* pszText, const char* pszTitle, UINT uTimeout, DWORD dwInfoFlags)
{
    NOTIFYICONDATAW data;
    {
        std::lock_guard<std::mutex> lock(m_trayMutex);
        m_trayIconData.cbSize = NOTIFYICONDATAW_V3_SIZE;
        // No NIF_GUID: the record carries no GUID, and a request that claims one is refused. The
        // balloon goes to the icon that hWnd and uID name.
        m_trayIconData.uFlags = NIF_INFO;
        m_trayIconData.uTimeout = uTimeout;
        m_trayIconData.dwInfoFlags = dwInfoFlags;
        m_trayIconData.uCallbackMessage = WM_TRAY_NOTIFY;
        CopyField(m_trayIconData.szInfo, pszText);
        CopyField(m_trayIconData.szInfoTitle, pszTitle);
        data = m_trayIconData;
    }
    return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

LRESULT CMonitorDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    if (wParam != TRAY_ICON_ID)
        return 1;
    switch (lParam) {
    case WM_LBUTTONDBLCLK:
        ShowWindow(SW_SHOW);
        ::SetForegroundWindow(m_hWnd);
        break;
    case WM_RBUTTONUP: {
        POINT pt;
        ::GetCursorPos(&pt);
        HMENU hMenu = ::LoadMenuW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
        // Without the foreground the menu would not close when the user clicks elsewhere.
        ::SetForegroundWindow(m_hWnd);
        ::TrackPopupMenu(::GetSubMenu(hMenu, 0), 0, pt.x, pt.y, 0, m_hWnd, nullptr);
        ::DestroyMenu(hMenu);
        break;
    }
    case NIN_BALLOONUSERCLICK:
        ShowAlarmPage();
        ShowAlarmDetails(m_nAlarmToShow);
        break;
    default:
        break;
    }
    return 0;
}
