#include "Controls.h"

namespace {

// Item texts are read in growing buffers: the list view does not tell a text's length.
std::wstring ReadText(HWND hList, UINT nMsg, int nItem, LVITEMW& item)
{
    std::wstring text(64, L'\0');
    for (;;) {
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const auto length = static_cast<size_t>(::SendMessageW(hList, nMsg, nItem, reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(text.size() * 2);
    }
}

} // namespace

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const std::string& strText)
{
    std::wstring text = Widen(strText);
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = text.data();
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, nItem, reinterpret_cast<LPARAM>(&item)));
}

std::wstring CListCtrl::GetItemTextW(int nItem, int nSubItem) const
{
    LVITEMW item{};
    item.iSubItem = nSubItem;
    return ReadText(m_hWnd, LVM_GETITEMTEXTW, nItem, item);
}

std::string CListCtrl::GetItemText(int nItem, int nSubItem) const
{
    return Narrow(GetItemTextW(nItem, nSubItem));
}

int CListCtrl::InsertColumn(int nCol, const std::string& strHeading, int nFormat, int nWidth, int nSubItem)
{
    std::wstring heading = Widen(strHeading);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.fmt = nFormat;
    column.cx = nWidth;
    column.pszText = heading.data();
    if (nSubItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = nSubItem;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, nCol, reinterpret_cast<LPARAM>(&column)));
}

std::string CListCtrl::GetColumnHeading(int nCol) const
{
    wchar_t heading[128] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = heading;
    column.cchTextMax = 128;
    SendMessage(LVM_GETCOLUMNW, nCol, reinterpret_cast<LPARAM>(&column));
    return Narrow(heading);
}

BOOL CButton::OnChildNotify(UINT nMsg, WPARAM, LPARAM lParam, LRESULT* pResult)
{
    if (nMsg != WM_DRAWITEM)
        return FALSE;
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    *pResult = TRUE;
    return TRUE;
}
