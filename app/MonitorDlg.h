// The main window: the alarm list with its detail panel, the log page, the tray icon and the
// receiver, wired together when the window starts.
#pragma once

#include "AlarmReceiver.h"
#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"
#include "LogPageDlg.h"
#include "SkinBtn.h"

#include <shellapi.h>

#include <memory>
#include <mutex>

// Marks the monitor's main window, so that a second start of the program can find it.
constexpr wchar_t MONITOR_WINDOW_PROPERTY[] = L"Wendle.Monitor";

// Where the icon goes in a minimised window's client area: centred, halves truncated toward zero.
POINT MinimizedIconPosition(SIZE client, SIZE icon);

class CMonitorDlg : public CDialog {
public:
    explicit CMonitorDlg(CWnd* pParent = nullptr);
    ~CMonitorDlg() override;

    void ShowAlarmPage();
    void ShowLogPage();
    void ShowAlarmDetails(int nRow);

    BOOL AddTrayIcon();
    BOOL DeleteTrayIcon();
    // Either text may be null for an empty one; callers keep them within the record's fields.
    BOOL ShowBalloon(const char* pszText, const char* pszTitle, UINT uTimeout, DWORD dwInfoFlags);
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    void OnCloseApp();

    HANDLE m_hReceiverThread = nullptr;
    int m_nAlarmToShow = 0;
    CListCtrl m_alarmList;
    CStatic m_detailIcon;
    CSkinBtn m_btnHide;
    CSkinBtn m_btnMin;
    CSkinBtn m_btnClose;
    CButton m_btnAlarm;
    HICON m_hIcon;
    CImageList m_imageList;
    CBitmap m_bgBitmap;
    NOTIFYICONDATAW m_trayIconData;
    CAlarmReceiver m_receiver;

protected:
    const CMessageMap& GetMessageMap() const override;
    static const CMessageMap& GetThisMessageMap();
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
    LRESULT OnAlarmBatch(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnReceiverNotice(WPARAM wParam, LPARAM lParam);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);

private:
    void ApplyAlarm(const CAlarmBatch::Alarm& alarm, std::size_t& nCapText);
    void StopReceiver();
    // Alarms go into the lists at once; the lists repaint shortly after, once for all of them.
    void SuspendListRedraw();
    // The fields that name and show the icon, as adding and removing it both set them.
    void FillTrayIconFields();

    std::unique_ptr<CLogPageDlg> m_pLogPage;
    bool m_bListRedrawPending = false;
    // ShowBalloon may run on any thread; the shell must never see a half-written record.
    std::mutex m_trayMutex;
};
