// The main window's side of the receiver: taking what it feeds, and the close, Exit and end of
// the session.
#include "MonitorDlg.h"

#include <utility>

namespace {

// A backlog of fed rows is applied in passes of about this long, so the window keeps answering
// the operator in a storm; the next pass comes on a timer, which waits behind input and paint.
constexpr UINT FEED_PAUSE = 10;
constexpr ULONGLONG FEED_PASS_MILLISECONDS = 50;
constexpr std::size_t FEED_SLICE_ROWS = 100;
// The shown list repaints at most this often while alarms arrive: a list that repaints for
// every alarm holds up the next one.
constexpr UINT REDRAW_DELAY = 30;
// Close and logoff wait this long at most for the receiver to write what it took in.
constexpr DWORD RECEIVER_STOP_MILLISECONDS = 1700;
const char ALARM_BALLOON_TITLE[] = "警告警告";

} // namespace

void CMonitorDlg::OnDestroy()
{
    Default();
    // A window destroyed without a close still takes its icon and its receiver with it.
    if (!m_bClosing)
        Shutdown();
}

void CMonitorDlg::StopReceiver()
{
    if (!m_pReceiver)
        return;
    m_pReceiver->Feed().Close();
    m_pReceiver->Stop();
    if (!m_hReceiverThread.IsValid())
        return;
    // Nothing of ours sends to this thread, so waiting without serving messages cannot
    // deadlock, and no handler can run into the half-done close.
    if (::WaitForSingleObject(m_hReceiverThread, RECEIVER_STOP_MILLISECONDS) == WAIT_TIMEOUT)
        static_cast<void>(m_pReceiver.release());
    m_hReceiverThread.Close();
}

void CMonitorDlg::Shutdown()
{
    m_bClosing = true;
    // A second start from now on waits for this one to end instead of showing it.
    ::RemovePropW(m_hWnd, MONITOR_WINDOW_PROPERTY);
    for (UINT_PTR nTimer : {TIMER_FEED, TIMER_TRAY_ADD, TIMER_HEALTH})
        ::KillTimer(m_hWnd, nTimer);
    // The icon goes first: the receiver's drain needs none, and an icon that stayed for the
    // drain's time after Exit would look like a program that hangs.
    DeleteTrayIcon();
    // The tray menu, the About box or a move of the window may be running a loop of its own
    // inside the window's: each ends, or the process would outlive the close and keep the
    // instance mutex, and nothing would monitor.
    EndNestedLoops(m_hWnd);
    StopReceiver();
}

void CMonitorDlg::OnCloseApp()
{
    if (m_bClosing)
        return;
    Shutdown();
    CDialog::OnOK();
}

BOOL CMonitorDlg::OnQueryEndSession()
{
    return TRUE;
}

void CMonitorDlg::OnEndSession(BOOL bEnding)
{
    // Windows may end the process as soon as this returns: everything is written before.
    if (bEnding)
        OnCloseApp();
}

LRESULT CMonitorDlg::OnAlarmFeed(WPARAM, LPARAM)
{
    ApplyFeed();
    return 0;
}

void CMonitorDlg::SetShownListRedraw(BOOL bRedraw)
{
    // The hidden page's list has its drawing held for as long as it is hidden.
    CAlarmListCtrl& list = m_bLogPageShown ? g_pLogPage->m_logList : m_alarmList;
    bRedraw ? list.ReleaseRedraw() : list.HoldRedraw();
}

void CMonitorDlg::HoldShownListRedraw()
{
    if (m_bRedrawHeld)
        return;
    SetShownListRedraw(FALSE);
    m_bRedrawHeld = true;
    ::SetTimer(m_hWnd, TIMER_REDRAW, REDRAW_DELAY, nullptr);
}

void CMonitorDlg::ReleaseShownListRedraw()
{
    ::KillTimer(m_hWnd, TIMER_REDRAW);
    if (std::exchange(m_bRedrawHeld, false))
        SetShownListRedraw(TRUE);
}

void CMonitorDlg::ShowAlarmBalloon(const std::string& strTime)
{
    // Without the icon there is no balloon: the retry brings the icon back.
    if (m_health.IsSet(HealthKind::Tray))
        return;
    // Only one balloon shows at a time, and a real-time one that cannot show at once is dropped:
    // the older alarm's goes first, so that the newest is never the one dropped.
    if (m_bAlarmBalloonShown)
        HideTrayBalloon(m_trayIconData);
    m_bAlarmBalloonShown = ShowBalloon(strTime.c_str(), ALARM_BALLOON_TITLE, BALLOON_TIMEOUT, NIIF_INFO, true);
    if (!m_bAlarmBalloonShown)
        SetTrayIconThere(false);
}

void CMonitorDlg::ApplyFeed()
{
    if (m_bClosing || !g_pLogPage)
        return;
    // However the pass ends, a feed that still holds rows gets the next pass: left awake with
    // no timer, it would wake the window never again.
    struct CNextPass {
        CMonitorDlg& dlg;
        ~CNextPass()
        {
            if (!dlg.m_bClosing && !dlg.m_pReceiver->Feed().IsIdle())
                ::SetTimer(dlg.m_hWnd, TIMER_FEED, FEED_PAUSE, nullptr);
        }
    } nextPass{*this};
    bool bMore = false, bAlarms = false;
    std::vector<CHealthChange> health;
    HoldShownListRedraw();
    const ULONGLONG start = ::GetTickCount64();
    do {
        CFeedSlice slice;
        bMore = m_pReceiver->Feed().Take(slice, FEED_SLICE_ROWS);
        CAlarmListCtrl& logList = g_pLogPage->m_logList;
        if (slice.bClearLog)
            logList.Empty();
        logList.InsertRowsOnTop(slice.logRows);
        logList.AppendRows(slice.history);
        if (slice.bClearMain)
            m_alarmList.Empty();
        m_alarmList.InsertRowsOnTop(slice.mainRows);
        bAlarms = bAlarms || !slice.mainRows.empty();
        health.insert(health.end(), slice.health.begin(), slice.health.end());
    } while (bMore && ::GetTickCount64() - start < FEED_PASS_MILLISECONDS);
    if (bAlarms) {
        m_nAlarmToShow = 0;
        ShowAlarmBalloon(m_alarmList.GetItemText(0, 1));
    }
    // A change's balloon outlives the alarm balloon of the same pass: the operator must read it.
    for (const CHealthChange& change : health)
        ApplyHealth(change);
    AnnounceHealth();
}

void CMonitorDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == TIMER_HEALTH) {
        WatchFileCalls();
        AnnounceHealth();
        return;
    }
    ::KillTimer(m_hWnd, nIDEvent);
    if (nIDEvent == TIMER_FEED)
        ApplyFeed();
    else if (nIDEvent == TIMER_REDRAW)
        ReleaseShownListRedraw();
    else if (nIDEvent == TIMER_TRAY_ADD && !m_bClosing)
        RetryTrayIcon();
}
