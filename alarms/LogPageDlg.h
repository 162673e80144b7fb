// The log management page: the accumulated alarm log in a list, and the button that deletes it.
#pragma once

#include "AlarmFeed.h"
#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"

#include <string>
#include <vector>

class CAlarmReceiver;

// Inserts each row at row 0 of an alarm list, so the last one ends on top.
void InsertRowsOnTop(CListCtrl& list, const std::vector<CAlarmRow>& rowsOldestFirst);
// Appends the rows below the list's rows, in their order.
void AppendRows(CListCtrl& list, const std::vector<CAlarmRow>& rows);

class CLogPageDlg : public CDialog {
public:
    CLogPageDlg();
    // Where the delete button sends the log's deletion, so that it falls in the file's order.
    void SetReceiver(CAlarmReceiver* pReceiver) { m_pReceiver = pReceiver; }

    // What the main window does to the page's list as alarms are fed to it.
    void InsertRowsOnTop(const std::vector<CAlarmRow>& rowsOldestFirst) { ::InsertRowsOnTop(m_logList, rowsOldestFirst); }
    void AppendRows(const std::vector<CAlarmRow>& rows) { ::AppendRows(m_logList, rows); }
    void Empty() { m_logList.DeleteAllItems(); }
    // The list's drawing is held while the page is hidden, or while many rows change, and let
    // go only while the page shows.
    void HoldRedraw() { m_logList.SetRedraw(FALSE); }
    void ReleaseRedraw() { m_logList.ResumeRedraw(); }

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
    void OnDeleteAllItems(NMHDR* pNMHDR, LRESULT* pResult);

private:
    CAlarmReceiver* m_pReceiver = nullptr;
};

// The one log page; set by the main window before the receiver starts.
extern CLogPageDlg* g_pLogPage;
