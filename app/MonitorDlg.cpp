#include "MonitorDlg.h"

#include "AboutDlg.h"
#include "WinApp.h"
#include "resource.h"

#include <iterator>

namespace {

constexpr int ALARM_COLUMN_WIDTH = 130;
// The log page's place on the main window's client area, in pixels.
constexpr int LOG_PAGE_X = 10;
constexpr int LOG_PAGE_Y = 100;

// The controls of the alarm page, in the order both page switches walk them.
constexpr int ALARM_PAGE_CONTROLS[] = {
    IDC_DETAIL_AP,    IDC_STATIC,        IDC_LABEL_TYPE,     IDC_DETAIL_TYPE,  IDC_LABEL_TIME, IDC_DETAIL_ICON,
    IDC_DETAIL_TIME,  IDC_LABEL_CONTENT, IDC_DETAIL_CONTENT, IDC_DETAIL_GROUP, IDC_ALARM_LIST,
};

// The detail control of each list column.
constexpr int DETAIL_CONTROLS[] = {IDC_DETAIL_AP, IDC_DETAIL_TIME, IDC_DETAIL_TYPE, IDC_DETAIL_CONTENT};

} // namespace

POINT MinimizedIconPosition(SIZE client, SIZE icon)
{
    return {(client.cx - icon.cx + 1) / 2, (client.cy - icon.cy + 1) / 2};
}

CMonitorDlg::CMonitorDlg(CWnd* pParent)
    : CWindowImpl(IDD_MAIN, pParent),
      m_hIcon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      // The window's small icon from its own image at the small-icon size, not the big one shrunk.
      m_hSmallIcon(static_cast<HICON>(::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                   LR_SHARED))),
      m_trayIconData{},
      m_pReceiver(std::make_unique<CAlarmReceiver>())
{
}

CMonitorDlg::~CMonitorDlg()
{
    StopReceiver();
    g_pLogPage = nullptr;
}

const CMessageMap& CMonitorDlg::GetThisMessageMap()
{
    static const CMessageMap map = CMessageMap(&CDialog::GetThisMessageMap())
                                       .OnSysCommand(&CMonitorDlg::OnSysCommand)
                                       .OnCtlColor(&CMonitorDlg::OnCtlColor)
                                       .OnPaint(&CMonitorDlg::OnPaint)
                                       .OnDestroy(&CMonitorDlg::OnDestroy)
                                       .OnQueryDragIcon(&CMonitorDlg::OnQueryDragIcon)
                                       .OnCommand(IDOK, &CMonitorDlg::ShowAlarmPage)
                                       .OnCommand(IDCANCEL, &CMonitorDlg::ShowLogPage)
                                       .OnLButtonDown(&CMonitorDlg::OnLButtonDown)
                                       .OnNotify(IDC_ALARM_LIST, NM_CLICK, &CMonitorDlg::OnClickAlarmList)
                                       .OnCommand(IDC_BTN_HIDE, &CMonitorDlg::OnBtnHide)
                                       .OnCommand(IDC_BTN_MIN, &CMonitorDlg::OnBtnMin)
                                       .OnCommand(IDC_BTN_CLOSE, &CMonitorDlg::OnCloseApp)
                                       .OnCommand(IDC_BTN_ALARM, &CMonitorDlg::ShowAlarmPage)
                                       .OnCommand(IDC_BTN_LOG, &CMonitorDlg::ShowLogPage)
                                       .OnCommand(ID_TRAY_EXIT, &CMonitorDlg::OnCloseApp)
                                       .OnMessage(WM_TRAY_NOTIFY, &CMonitorDlg::OnTrayNotify)
                                       .OnMessage(TaskbarCreatedMessage(), &CMonitorDlg::OnTaskbarCreated)
                                       .OnMessage(WM_ALARM_FEED, &CMonitorDlg::OnAlarmFeed)
                                       .OnMessage(WM_RESTORE_MONITOR, &CMonitorDlg::OnRestoreMonitor)
                                       .OnTimer(&CMonitorDlg::OnTimer)
                                       .OnDisplayChange(&CMonitorDlg::OnDisplayChange)
                                       .OnSettingChange(&CMonitorDlg::OnSettingChange)
                                       .OnQueryEndSession(&CMonitorDlg::OnQueryEndSession)
                                       .OnEndSession(&CMonitorDlg::OnEndSession);
    return map;
}

void CMonitorDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_ALARM_LIST, m_alarmList);
    DDX_Control(pDX, IDC_DETAIL_ICON, m_detailIcon);
    DDX_Control(pDX, IDC_BTN_HIDE, m_btnHide);
    DDX_Control(pDX, IDC_BTN_MIN, m_btnMin);
    DDX_Control(pDX, IDC_BTN_CLOSE, m_btnClose);
    DDX_Control(pDX, IDC_BTN_ALARM, m_btnAlarm);
    DDX_Control(pDX, IDC_HEALTH_TEXT, m_healthText);
}

BOOL CMonitorDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t szAbout[64] = {};
        ::LoadStringW(AfxGetInstanceHandle(), IDS_ABOUTBOX, szAbout, static_cast<int>(std::size(szAbout)));
        if (szAbout[0]) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, szAbout);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon ? m_hSmallIcon : m_hIcon));

    m_pLogPage = std::make_unique<CLogPageDlg>();
    g_pLogPage = m_pLogPage.get();
    g_pLogPage->Create(IDD_LOG_PAGE, this);
    g_pLogPage->SetReceiver(m_pReceiver.get());
    // The page starts hidden: its list's drawing is held until it shows.
    g_pLogPage->m_logList.HoldRedraw();

    LoadIcons();
    AddTrayIconUntilThere();
    // An elevated monitor would not hear that the shell restarted, nor a second start's call,
    // without this: both come from processes of lower integrity.
    ::ChangeWindowMessageFilterEx(m_hWnd, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    ::ChangeWindowMessageFilterEx(m_hWnd, WM_RESTORE_MONITOR, MSGFLT_ALLOW, nullptr);

    m_bgBitmap.LoadBitmap(IDB_MAIN_BG);

    m_btnClose.LoadImages("image\\close_1.bmp", "image\\close.bmp", "image\\close_2.bmp", "image\\close.bmp");
    m_btnClose.SetWindowText("");
    m_btnMin.LoadImages("image\\min_1.bmp", "image\\min.bmp", "image\\min_2.bmp", "image\\min3.bmp");
    m_btnMin.SetWindowText("");
    m_btnHide.LoadImages("image\\hide_1.bmp", "image\\hide.bmp", "image\\hide_2.bmp", "image\\hide.bmp");
    m_btnHide.SetWindowText("");

    m_alarmList.Setup(ALARM_COLUMN_WIDTH, true);

    // The start-up balloon, then whatever is known to stop monitoring already.
    ShowHealth();
    AnnounceHealth();

    ::SetPropW(m_hWnd, MONITOR_WINDOW_PROPERTY, m_hWnd);
    m_pReceiver->SetNotifyWindow(m_hWnd);
    m_hReceiverThread.Attach(::CreateThread(nullptr, 0, AlarmReceiverThread, m_pReceiver.get(), 0, nullptr));
    StartHealthTimer();
    return TRUE;
}

LRESULT CMonitorDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    if (wParam != TRAY_ICON_ID)
        return 1;
    switch (lParam) {
    case WM_LBUTTONDBLCLK:
    // The keyboard's Enter or Space on the icon (Win+B, then the arrows).
    case NIN_SELECT:
    case NIN_KEYSELECT:
        RestoreWindow();
        break;
    case WM_RBUTTONUP:
        TrackTrayMenu(m_hWnd);
        break;
    case NIN_BALLOONUSERCLICK:
        RestoreWindow();
        ShowAlarmPage();
        ShowAlarmDetails(m_nAlarmToShow);
        break;
    default:
        break;
    }
    return 0;
}

void CMonitorDlg::RestoreWindow()
{
    // A minimised window is shown minimised by SW_SHOW: only SW_RESTORE brings it back.
    ShowWindow(::IsIconic(m_hWnd) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
}

LRESULT CMonitorDlg::OnRestoreMonitor(WPARAM, LPARAM)
{
    if (!m_bClosing)
        RestoreWindow();
    return 0;
}

// The list of the hidden page keeps its drawing held, so alarms cost it no painting. A list view
// keeps its redraw state itself and, let go, is repainted whole. It is held only once hidden and
// let go only once shown, so a page switch never paints a list that is about to hide.
void CMonitorDlg::ShowAlarmPage()
{
    ReleaseShownListRedraw();
    if (g_pLogPage) {
        g_pLogPage->ShowWindow(SW_HIDE);
        g_pLogPage->m_logList.HoldRedraw();
        g_pLogPage->UpdateData(FALSE);
    }
    for (int nID : ALARM_PAGE_CONTROLS)
        ::ShowWindow(GetDlgItem(nID), nID == IDC_DETAIL_ICON ? SW_HIDE : SW_SHOW);
    m_alarmList.ReleaseRedraw();
    m_bLogPageShown = false;
}

void CMonitorDlg::ShowLogPage()
{
    ReleaseShownListRedraw();
    if (g_pLogPage) {
        RECT rcPage;
        g_pLogPage->GetWindowRect(&rcPage);
        ScreenToClient(&rcPage);
        g_pLogPage->ShowWindow(SW_SHOW);
        ::SetWindowPos(g_pLogPage->GetSafeHwnd(), HWND_TOP, LOG_PAGE_X, LOG_PAGE_Y, rcPage.right - rcPage.left,
                       rcPage.bottom - rcPage.top, SWP_FRAMECHANGED);
        g_pLogPage->m_logList.ReleaseRedraw();
    }
    for (int nID : ALARM_PAGE_CONTROLS)
        ::ShowWindow(GetDlgItem(nID), SW_HIDE);
    m_alarmList.HoldRedraw();
    m_bLogPageShown = true;
}

void CMonitorDlg::ShowAlarmDetails(int nRow)
{
    for (int nColumn = 0; nColumn < static_cast<int>(std::size(DETAIL_CONTROLS)); ++nColumn) {
        const int nID = DETAIL_CONTROLS[nColumn];
        ::SetWindowTextW(GetDlgItem(nID), m_alarmList.GetItemTextW(nRow, nColumn).c_str());
        InvalidateControl(nID);
    }
}

void CMonitorDlg::OnClickAlarmList(NMHDR* pNMHDR, LRESULT* pResult)
{
    const auto* pActivate = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    if (pActivate->iItem != -1)
        ShowAlarmDetails(pActivate->iItem);
    *pResult = 0;
}

void CMonitorDlg::InvalidateControl(int nID)
{
    RECT rc;
    ::GetWindowRect(GetDlgItem(nID), &rc);
    ScreenToClient(&rc);
    // The static is transparent: the background under it must be repainted, or its old text stays.
    ::InvalidateRect(m_hWnd, &rc, TRUE);
}

void CMonitorDlg::OnPaint()
{
    if (::IsIconic(m_hWnd)) {
        CPaintDC dc(m_hWnd);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);
        RECT rc;
        GetClientRect(&rc);
        const POINT pt = MinimizedIconPosition({rc.right - rc.left, rc.bottom - rc.top},
                                               {::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)});
        ::DrawIcon(dc, pt.x, pt.y, m_hIcon);
        return;
    }
    CPaintDC dc(m_hWnd);
    RECT rcClient;
    GetClientRect(&rcClient);
    StretchBitmap(dc, rcClient, m_bgBitmap);
    Default();
}

HCURSOR CMonitorDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CMonitorDlg::OnLButtonDown(UINT, POINT point)
{
    // The window has no caption: a press on its background is made a press on a caption, so
    // that the window follows the mouse.
    ::PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    Default();
}

void CMonitorDlg::OnBtnHide()
{
    ShowWindow(SW_HIDE);
}

void CMonitorDlg::OnBtnMin()
{
    ShowWindow(SW_SHOWMINIMIZED);
}

HBRUSH CMonitorDlg::OnCtlColor(HDC hDC, HWND hWnd, UINT nCtlColor)
{
    const auto hbr = reinterpret_cast<HBRUSH>(Default());
    if (nCtlColor != CTLCOLOR_STATIC)
        return hbr;
    // Static texts are drawn straight onto the background bitmap; what stops monitoring in red.
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, hWnd == m_healthText ? RGB(192, 0, 0) : RGB(0, 0, 0));
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

BOOL CMonitorDlg::PreTranslateMessage(MSG* pMsg)
{
    // Enter and Escape are plain keys for the focused control, never the dialog's accept or
    // cancel: the window must not switch pages or end on a stray key.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return FALSE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CMonitorDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.DoModal();
    } else {
        Default();
    }
}
