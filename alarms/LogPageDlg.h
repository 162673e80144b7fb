// The log management page: the accumulated alarm log in a list, and the button that deletes it.
#pragma once

#include "AlarmListCtrl.h"
#include "Dialog.h"
#include "Gdi.h"

#include <string>

class CAlarmReceiver;

class CLogPageDlg : public CWindowImpl<CLogPageDlg, CDialog> {
public:
    CLogPageDlg();
    static const CMessageMap& GetThisMessageMap();
    // Where the delete button sends the log's deletion, so that it falls in the file's order.
    void SetReceiver(CAlarmReceiver* pReceiver) { m_pReceiver = pReceiver; }

    CAlarmListCtrl m_logList;
    std::string m_strLogEdit;
    CBitmap m_bgBitmap;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnDeleteLog();

private:
    CAlarmReceiver* m_pReceiver = nullptr;
};

// The one log page; set by the main window before the receiver starts.
extern CLogPageDlg* g_pLogPage;
