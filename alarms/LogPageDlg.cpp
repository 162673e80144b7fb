#include "LogPageDlg.h"

#include "AlarmReceiver.h"
#include "resource.h"

CLogPageDlg* g_pLogPage = nullptr;

namespace {

constexpr int LOG_COLUMN_WIDTH = 150;

} // namespace

CLogPageDlg::CLogPageDlg() : CWindowImpl(IDD_LOG_PAGE) {}

const CMessageMap& CLogPageDlg::GetThisMessageMap()
{
    static const CMessageMap map = CMessageMap(&CDialog::GetThisMessageMap())
                                       .OnPaint(&CLogPageDlg::OnPaint)
                                       .OnShowWindow(&CLogPageDlg::OnShowWindow)
                                       .OnCommand(IDC_LOG_DELETE, &CLogPageDlg::OnDeleteLog);
    return map;
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
    m_logList.Setup(LOG_COLUMN_WIDTH, false);
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

void CLogPageDlg::OnDeleteLog()
{
    m_logList.DeleteAllItems();
    if (m_pReceiver)
        m_pReceiver->RequestLogDeletion();
}
