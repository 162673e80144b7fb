// The main window: the alarm list with its detail panel, the log page, the tray icon and the
// receiver, wired together when the window starts, and the line that says what stops monitoring.
#pragma once

#include "AlarmReceiver.h"
#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"
#include "Health.h"
#include "LogPageDlg.h"
#include "SkinBtn.h"
#include "TrayIcon.h"

#include <memory>

inline constexpr char PROGRAM_TITLE[] = "进程监控程序";

// Marks the monitor's main window, so that a second start of the program can find it.
constexpr wchar_t MONITOR_WINDOW_PROPERTY[] = L"Wendle.Monitor";

// Where the icon goes in a minimised window's client area: centred, halves truncated toward zero.
POINT MinimizedIconPosition(SIZE client, SIZE icon);

class CMonitorDlg : public CWindowImpl<CMonitorDlg, CDialog> {
public:
    explicit CMonitorDlg(CWnd* pParent = nullptr);
    ~CMonitorDlg() override;
    static const CMessageMap& GetThisMessageMap();

    void ShowAlarmPage();
    void ShowLogPage();
    void ShowAlarmDetails(int nRow);
    // The folder asked for could not be entered and the program's own is used; before the start.
    void ReportWorkingFolder(const std::string& strAsked, DWORD dwError);

    BOOL AddTrayIcon() { return ::AddTrayIcon(m_trayIconData, m_hWnd, TrayImage(), TrayTip()); }
    BOOL DeleteTrayIcon() { return ::DeleteTrayIcon(m_trayIconData, m_hWnd); }
    // Either text may be null for an empty one. A real-time balloon is one Windows drops when
    // it cannot show it at once, so that an old alarm is never shown as news.
    BOOL ShowBalloon(const char* pszText, const char* pszTitle, UINT uTimeout, DWORD dwInfoFlags, bool bRealtime = false)
    {
        return ShowTrayBalloon(m_trayIconData, pszText, pszTitle, uTimeout, dwInfoFlags, bRealtime);
    }
    std::string LastBalloonText() const { return TrayBalloonText(m_trayIconData); }
    std::string LastBalloonTitle() const { return TrayBalloonTitle(m_trayIconData); }
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    void OnCloseApp();

    CHandle m_hReceiverThread;
    int m_nAlarmToShow = 0;
    CAlarmListCtrl m_alarmList;
    CStatic m_detailIcon;
    CSkinBtn m_btnHide;
    CSkinBtn m_btnMin;
    CSkinBtn m_btnClose;
    CButton m_btnAlarm;
    CStatic m_healthText;
    HICON m_hIcon;
    HICON m_hSmallIcon;
    CBitmap m_bgBitmap;
    NOTIFYICONDATAW m_trayIconData;
    CHealth m_health;
    // On the heap: a receiver that does not end in time when the window closes is left to the
    // process's exit instead of being destroyed under its threads.
    std::unique_ptr<CAlarmReceiver> m_pReceiver;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    HBRUSH OnCtlColor(HDC hDC, HWND hWnd, UINT nCtlColor);
    void OnPaint();
    void OnDestroy();
    HCURSOR OnQueryDragIcon();
    void OnLButtonDown(UINT nFlags, POINT point);
    void OnClickAlarmList(NMHDR* pNMHDR, LRESULT* pResult);
    void OnBtnHide();
    void OnBtnMin();
    void InvalidateControl(int nID);
    LRESULT OnAlarmFeed(WPARAM wParam, LPARAM lParam);
    LRESULT OnRestoreMonitor(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    void OnDisplayChange(UINT nBitsPerPixel, UINT cx, UINT cy);
    void OnSettingChange(UINT uFlags, LPCWSTR pszSection);
    BOOL OnQueryEndSession();
    void OnEndSession(BOOL bEnding);

private:
    // The window's timers, in one list so that no two share a number.
    enum : UINT_PTR { TIMER_FEED = 1, TIMER_TRAY_ADD, TIMER_REDRAW, TIMER_HEALTH };

    // Brings the window back from the tray, the task bar or behind others.
    void RestoreWindow();
    // The icon is added again and again until the shell takes it.
    void AddTrayIconUntilThere();
    // The icons at the size the shell and the window draw them now.
    void LoadIcons();
    HICON TrayImage() const;
    std::string TrayTip() const;
    // Holds or lets go the drawing of the list on the page that shows.
    void SetShownListRedraw(BOOL bRedraw);
    // While alarms arrive the shown list's drawing is held, and let go shortly after.
    void HoldShownListRedraw();
    void ReleaseShownListRedraw();
    // Applies what the receiver fed, for a bounded time; the rest follows on a timer.
    void ApplyFeed();
    void ShowAlarmBalloon(const std::string& strTime);
    // A change of health: the line, the tip and the icon follow it, and its balloon is due.
    void ApplyHealth(const CHealthChange& change);
    void ShowHealth();
    // Shows every balloon that is due; one the shell refuses waits for the icon.
    void AnnounceHealth();
    void SetTrayIconThere(bool bThere);
    void RetryTrayIcon();
    // Once a second: the watchdog over the writer's file calls, which must not wait for the
    // writer, and the balloons that wait for their time or for the icon.
    void StartHealthTimer();
    void WatchFileCalls();
    // Takes the icon away, ends every loop that runs inside the window's, stops the hand-offs,
    // then the receiver (what it took in is written).
    void Shutdown();
    void StopReceiver();

    std::unique_ptr<CLogPageDlg> m_pLogPage;
    CIcon m_trayIcon;
    CIcon m_trayWarningIcon;
    bool m_bLogPageShown = false;
    bool m_bRedrawHeld = false;
    bool m_bClosing = false;
    bool m_bStartBalloonDue = true;
    // The balloon that shows is an alarm's: the next alarm's replaces it.
    bool m_bAlarmBalloonShown = false;
};
