#include "LogPageDlg.h"

#include "AlarmReceiver.h"
#include "resource.h"

CLogPageDlg* g_pLogPage = nullptr;

namespace {

constexpr int LOG_COLUMN_WIDTH = 150;

// Inserts a row with its columns' texts at the given index. The row goes in with its first
// column, one list message fewer per row in a storm.
void InsertRow(CListCtrl& list, int nRow, const std::vector<std::string>& columns)
{
    std::wstring strFirst = columns.empty() ? std::wstring() : Widen(columns[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = nRow;
    item.pszText = strFirst.data();
    item.iImage = I_IMAGECALLBACK;
    nRow = list.InsertItem(item);
    for (std::size_t column = 1; column < columns.size(); ++column)
        list.SetItemText(nRow, static_cast<int>(column), columns[column]);
}

} // namespace

void InsertRowsOnTop(CListCtrl& list, const std::vector<CAlarmRow>& rowsOldestFirst)
{
    for (const CAlarmRow& row : rowsOldestFirst)
        InsertRow(list, 0, row);
}

void AppendRows(CListCtrl& list, const std::vector<CAlarmRow>& rows)
{
    for (const CAlarmRow& row : rows)
        InsertRow(list, list.GetItemCount(), row);
}

CLogPageDlg::CLogPageDlg() : CDialog(IDD_LOG_PAGE) {}

const CMessageMap& CLogPageDlg::GetThisMessageMap()
{
    static const CMessageMap map = CMessageMap(&CDialog::GetThisMessageMap())
                                       .OnPaint(&CLogPageDlg::OnPaint)
                                       .OnShowWindow(&CLogPageDlg::OnShowWindow)
                                       .OnNotify(IDC_LOG_LIST, LVN_DELETEALLITEMS, &CLogPageDlg::OnDeleteAllItems)
                                       .OnCommand(IDC_LOG_DELETE, &CLogPageDlg::OnDeleteLog);
    return map;
}

const CMessageMap& CLogPageDlg::GetMessageMap() const
{
    return GetThisMessageMap();
}

void CLogPageDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_LOG_LIST, m_logList);
    DDX_Text(pDX, IDC_LOG_EDIT, m_strLogEdit);
}

BOOL CLogPageDlg::PreTranslateMessage(MSG* pMsg)
{
    // Enter and Escape reach the focused control as plain keys: they must never press the
    // delete button or close the page.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return FALSE;
    return CDialog::PreTranslateMessage(pMsg);
}

BOOL CLogPageDlg::OnInitDialog()
{
    m_bgBitmap.LoadBitmap(IDB_LOG_BG);
    CDialog::OnInitDialog();
    m_imageList.Create(24, 16, ILC_COLOR32 | ILC_MASK, 0, 1);
    m_logList.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    m_logList.SetExtendedStyle(m_logList.GetExtendedStyle() | LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT);
    // "告警内容" goes in before "告警类型", which then pushes it to the last place.
    m_logList.InsertColumn(0, "Ap名称", LVCFMT_LEFT, LOG_COLUMN_WIDTH);
    m_logList.InsertColumn(1, "日志时间", LVCFMT_LEFT, LOG_COLUMN_WIDTH);
    m_logList.InsertColumn(2, "告警内容", LVCFMT_LEFT, LOG_COLUMN_WIDTH);
    m_logList.InsertColumn(2, "告警类型", LVCFMT_LEFT, LOG_COLUMN_WIDTH);
    // Without LVS_SHAREIMAGELISTS the list destroys its image list with itself: it owns it now.
    m_logList.SetImageList(m_imageList.Detach(), LVSIL_SMALL);
    ::ShowWindow(GetDlgItem(IDC_LOG_EDIT), SW_HIDE);
    return TRUE;
}

void CLogPageDlg::OnPaint()
{
    CPaintDC dc(m_hWnd);
    RECT rcClient;
    GetClientRect(&rcClient);
    StretchBitmap(dc, rcClient, m_bgBitmap);
    Default();
}

void CLogPageDlg::OnShowWindow(BOOL, UINT)
{
}

void CLogPageDlg::OnDeleteAllItems(NMHDR*, LRESULT* pResult)
{
    // The rows carry no data of ours: emptying a full list needs no word about each of them.
    *pResult = TRUE;
}

void CLogPageDlg::OnDeleteLog()
{
    m_logList.DeleteAllItems();
    if (m_pReceiver)
        m_pReceiver->RequestLogDeletion();
}
