// The list of alarms both pages show: an alarm's four fields in its columns, each alarm a new top
// row, emptied whole at its cap, its drawing held while it is hidden or many rows change. It
// answers its own notifications, which the framework hands back to it from its parent.
#pragma once

#include "AlarmFeed.h"
#include "Controls.h"

#include <vector>

class CAlarmListCtrl : public CListCtrl {
public:
    // Headings, styles and image list, with the page's column width; a list of alarms shows the
    // red alarm disc in the first column of each row.
    void Setup(int nColumnWidth, bool bAlarmDisc);
    // Inserts each row at row 0, so the last one ends on top.
    void InsertRowsOnTop(const std::vector<CAlarmRow>& rowsOldestFirst);
    // Appends the rows below the list's rows, in their order.
    void AppendRows(const std::vector<CAlarmRow>& rows);
    void Empty() { DeleteAllItems(); }
    // A list view keeps its redraw state itself and, let go, is repainted whole.
    void HoldRedraw() { SetRedraw(FALSE); }
    void ReleaseRedraw() { ResumeRedraw(); }

protected:
    BOOL OnChildNotify(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    void InsertRow(int nRow, const CAlarmRow& columns);

    bool m_bAlarmDisc = false;
};
