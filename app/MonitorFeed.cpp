// The main window's side of the receiver: taking what it feeds, the tray icon's retries, and
// the close, Exit and end of the session.
#include "MonitorDlg.h"

#include <utility>

namespace {

// A backlog of fed rows is applied in passes of about this long, so the window keeps answering
// the operator in a storm; the next pass comes on a timer, which waits behind input and paint.
constexpr UINT_PTR TIMER_FEED = 1;
constexpr UINT FEED_PAUSE = 10;
constexpr ULONGLONG FEED_PASS_MILLISECONDS = 50;
constexpr std::size_t FEED_SLICE_ROWS = 100;
// While the shell is still starting (a monitor started at logon) the icon cannot be added yet.
constexpr UINT_PTR TIMER_TRAY_ADD = 2;
constexpr UINT TRAY_ADD_RETRY = 2000;
// The shown list repaints at most this often while alarms arrive: a list that repaints for
// every alarm holds up the next one.
constexpr UINT_PTR TIMER_REDRAW = 3;
constexpr UINT REDRAW_DELAY = 30;
// Close and logoff wait this long at most for the receiver to write what it took in.
constexpr DWORD RECEIVER_STOP_MILLISECONDS = 1700;
const char ALARM_BALLOON_TITLE[] = "警告警告";

} // namespace

void CMonitorDlg::AddTrayIconUntilThere()
{
    if (!AddTrayIcon())
        ::SetTimer(m_hWnd, TIMER_TRAY_ADD, TRAY_ADD_RETRY, nullptr);
}

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
    if (!m_hReceiverThread)
        return;
    // Nothing of ours sends to this thread, so waiting without serving messages cannot
    // deadlock, and no handler can run into the half-done close.
    if (::WaitForSingleObject(m_hReceiverThread, RECEIVER_STOP_MILLISECONDS) == WAIT_TIMEOUT)
        static_cast<void>(m_pReceiver.release());
    ::CloseHandle(m_hReceiverThread);
    m_hReceiverThread = nullptr;
}

void CMonitorDlg::Shutdown()
{
    m_bClosing = true;
    // A second start from now on waits for this one to end instead of showing it.
    ::RemovePropW(m_hWnd, MONITOR_WINDOW_PROPERTY);
    ::KillTimer(m_hWnd, TIMER_FEED);
    ::KillTimer(m_hWnd, TIMER_TRAY_ADD);
    // The icon goes first: the receiver's drain needs none, and an icon that stayed for the
    // drain's time after Exit would look like a program that hangs.
    DeleteTrayIcon();
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
    if (m_bLogPageShown) {
        bRedraw ? g_pLogPage->ReleaseRedraw() : g_pLogPage->HoldRedraw();
        return;
    }
    bRedraw ? m_alarmList.ResumeRedraw() : m_alarmList.SetRedraw(FALSE);
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
    std::vector<CFeedNotice> notices;
    HoldShownListRedraw();
    const ULONGLONG start = ::GetTickCount64();
    do {
        CFeedSlice slice;
        bMore = m_pReceiver->Feed().Take(slice, FEED_SLICE_ROWS);
        if (slice.bClearLog)
            g_pLogPage->Empty();
        g_pLogPage->InsertRowsOnTop(slice.logRows);
        g_pLogPage->AppendRows(slice.history);
        if (slice.bClearMain)
            m_alarmList.DeleteAllItems();
        InsertRowsOnTop(m_alarmList, slice.mainRows);
        bAlarms = bAlarms || !slice.mainRows.empty();
        notices.insert(notices.end(), slice.notices.begin(), slice.notices.end());
    } while (bMore && ::GetTickCount64() - start < FEED_PASS_MILLISECONDS);
    if (bAlarms) {
        m_nAlarmToShow = 0;
        ShowBalloon(m_alarmList.GetItemText(0, 1).c_str(), ALARM_BALLOON_TITLE, BALLOON_TIMEOUT, NIIF_INFO, true);
    }
    // A notice outlives the alarm balloon of the same pass: the operator must read it.
    for (const CFeedNotice& notice : notices) {
        if (!m_bClosing)
            ShowBalloon(notice.text.c_str(), PROGRAM_TITLE, BALLOON_TIMEOUT, notice.bWarning ? NIIF_WARNING : NIIF_INFO);
    }
}

void CMonitorDlg::OnTimer(UINT_PTR nIDEvent)
{
    ::KillTimer(m_hWnd, nIDEvent);
    if (nIDEvent == TIMER_FEED) {
        ApplyFeed();
    } else if (nIDEvent == TIMER_REDRAW) {
        ReleaseShownListRedraw();
    } else if (nIDEvent == TIMER_TRAY_ADD && !m_bClosing && !AddTrayIcon()) {
        ::SetTimer(m_hWnd, TIMER_TRAY_ADD, TRAY_ADD_RETRY, nullptr);
    }
}

