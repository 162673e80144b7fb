#include "AlarmListCtrl.h"

#include "Gdi.h"
#include "resource.h"

#include <iterator>

namespace {

constexpr const char* ALARM_HEADINGS[] = {"Ap名称", "日志时间", "告警类型", "告警内容"};
// The images: the green state, then the red alarm disc.
constexpr int ALARM_IMAGE = 1;

} // namespace

void CAlarmListCtrl::Setup(int nColumnWidth, bool bAlarmDisc)
{
    m_bAlarmDisc = bAlarmDisc;
    CImageList images;
    images.Create(24, 16, ILC_COLOR32 | ILC_MASK, 0, 1);
    if (bAlarmDisc) {
        CBitmap bmpOk, bmpAlarm;
        bmpOk.LoadBitmap(IDB_STATE_OK);
        images.Add(bmpOk, RGB(255, 255, 255));
        bmpAlarm.LoadBitmap(IDB_STATE_ALARM);
        images.Add(bmpAlarm, RGB(255, 255, 255));
    }
    SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
    for (int nColumn = 0; nColumn < static_cast<int>(std::size(ALARM_HEADINGS)); ++nColumn)
        InsertColumn(nColumn, ALARM_HEADINGS[nColumn], LVCFMT_LEFT, nColumnWidth);
    // Without LVS_SHAREIMAGELISTS the list destroys its image list with itself: it owns it now.
    SetImageList(images.Detach(), LVSIL_SMALL);
}

// The row goes in with its first column, one list message fewer per row in a storm.
void CAlarmListCtrl::InsertRow(int nRow, const CAlarmRow& columns)
{
    std::wstring strFirst = columns.empty() ? std::wstring() : Widen(columns[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = nRow;
    item.pszText = strFirst.data();
    item.iImage = I_IMAGECALLBACK;
    nRow = InsertItem(item);
    for (std::size_t column = 1; column < columns.size(); ++column)
        SetItemText(nRow, static_cast<int>(column), columns[column]);
}

void CAlarmListCtrl::InsertRowsOnTop(const std::vector<CAlarmRow>& rowsOldestFirst)
{
    for (const CAlarmRow& row : rowsOldestFirst)
        InsertRow(0, row);
}

void CAlarmListCtrl::AppendRows(const std::vector<CAlarmRow>& rows)
{
    for (const CAlarmRow& row : rows)
        InsertRow(GetItemCount(), row);
}

BOOL CAlarmListCtrl::OnChildNotify(UINT nMsg, WPARAM, LPARAM lParam, LRESULT* pResult)
{
    if (nMsg != WM_NOTIFY)
        return FALSE;
    const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
    if (pHeader->code == LVN_DELETEALLITEMS) {
        // The rows carry no data of ours: emptying a full list needs no word about each of them.
        *pResult = TRUE;
        return TRUE;
    }
    if (pHeader->code != LVN_GETDISPINFOW || !m_bAlarmDisc)
        return FALSE;
    // Every row asks for its image: each is an alarm, marked with the red disc in its first
    // column. The list shows sub-item images too, and asks for those: they have none.
    auto* pInfo = reinterpret_cast<NMLVDISPINFOW*>(lParam);
    if (pInfo->item.mask & LVIF_IMAGE)
        pInfo->item.iImage = pInfo->item.iSubItem == 0 ? ALARM_IMAGE : I_IMAGENONE;
    *pResult = 0;
    return TRUE;
}
