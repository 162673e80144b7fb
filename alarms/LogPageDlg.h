// The log management page: the accumulated alarm log in a list, and the button that deletes it.
#pragma once

#include "AlarmRules.h"
#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"

#include <string>
#include <vector>

// A block of rows read back from the log file, newest first, for the page to append below its rows.
struct CLogRows {
    const std::vector<std::string>* pRows;
    std::size_t nCount;
};
// Sent to the page with a CLogRows in lParam.
constexpr UINT WM_LOG_ROWS = WM_APP + 10;

// Inserts an alarm as row 0 of an alarm list.
void InsertAlarmRow(CListCtrl& list, const AlarmRecord& record);

class CLogPageDlg : public CDialog {
public:
    CLogPageDlg();

    CListCtrl m_logList;
    std::string m_strLogEdit;
    CImageList m_imageList;
    CBitmap m_bgBitmap;

protected:
    const CMessageMap& GetMessageMap() const override;
    static const CMessageMap& GetThisMessageMap();
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnDeleteLog();
    LRESULT OnLogRows(WPARAM wParam, LPARAM lParam);
};

// The one log page; set by the main window before the receiver starts.
extern CLogPageDlg* g_pLogPage;
