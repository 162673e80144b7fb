#include "Dialog.h"

#include "WinApp.h"

#include <algorithm>
#include <vector>

namespace {

// The dialogs of this thread whose modal loops run, outermost first.
std::vector<CDialog*>& RunningModalLoops()
{
    static std::vector<CDialog*> loops;
    return loops;
}

} // namespace

void EndNestedLoops(HWND hWnd)
{
    ::EndMenu();
    // Releases the capture that a move, a size or a scroll bar's drag keeps its loop on.
    ::SendMessageW(hWnd, WM_CANCELMODE, 0, 0);
    for (CDialog* pDialog : RunningModalLoops()) {
        if (pDialog->GetSafeHwnd() != hWnd)
            pDialog->EndDialog(IDCANCEL);
    }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (!rControl.GetSafeHwnd())
        rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value)
{
    HWND hControl = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (pDX->m_bSaveAndValidate) {
        std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hControl)) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(hControl, text.data(), static_cast<int>(text.size()))));
        value = Narrow(text);
    } else {
        ::SetWindowTextW(hControl, Widen(value).c_str());
    }
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

const CMessageMap& CDialog::GetThisMessageMap()
{
    static const CMessageMap map = CMessageMap(&CWnd::GetThisMessageMap())
                                       .OnCommand(IDOK, &CDialog::OnOK)
                                       .OnCommand(IDCANCEL, &CDialog::OnCancel);
    return map;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT nMsg, WPARAM, LPARAM lParam)
{
    if (nMsg != WM_INITDIALOG)
        return FALSE;
    // From here on the dialog's messages go through the object; the dialog manager's own
    // processing stays behind it as the default.
    auto* pDialog = reinterpret_cast<CDialog*>(lParam);
    pDialog->SubclassWindow(hWnd);
    return Guarded([pDialog] { return static_cast<LRESULT>(pDialog->OnInitDialog()); }, TRUE);
}

HWND CDialog::CreateFromTemplate(UINT nIDTemplate, HWND hParent)
{
    return ::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(nIDTemplate), hParent, &CDialog::DialogProc,
                                reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    return CreateFromTemplate(nIDTemplate, pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal()
{
    CWnd* pOwner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    HWND hOwner = pOwner && pOwner != this ? pOwner->GetSafeHwnd() : nullptr;
    m_nModalResult = -1;
    m_bEndRequested = false;
    if (!CreateFromTemplate(m_nIDTemplate, hOwner))
        return -1;
    if (!IsWindowVisible()) {
        // A dialog that its initialisation left hidden opens centred over its owner.
        RECT rcDlg, rcOwner;
        GetWindowRect(&rcDlg);
        if (hOwner)
            ::GetWindowRect(hOwner, &rcOwner);
        else
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcOwner, 0);
        const int x = rcOwner.left + ((rcOwner.right - rcOwner.left) - (rcDlg.right - rcDlg.left)) / 2;
        const int y = rcOwner.top + ((rcOwner.bottom - rcOwner.top) - (rcDlg.bottom - rcDlg.top)) / 2;
        ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(SW_SHOWNORMAL);
    }
    if (hOwner)
        ::EnableWindow(hOwner, FALSE);
    RunModalLoop();
    if (hOwner) {
        // The owner must be enabled again before the dialog goes, or activation leaves the program.
        ::EnableWindow(hOwner, TRUE);
        ::SetActiveWindow(hOwner);
    }
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    DestroyWindow();
    return m_nModalResult;
}

void CDialog::RunModalLoop()
{
    struct CRunning {
        CDialog* pDialog;
        explicit CRunning(CDialog* p) : pDialog(p) { RunningModalLoops().push_back(p); }
        ~CRunning()
        {
            auto& loops = RunningModalLoops();
            loops.erase(std::remove(loops.begin(), loops.end(), pDialog), loops.end());
        }
    } running(this);
    MSG msg;
    while (!m_bEndRequested) {
        const BOOL bResult = ::GetMessageW(&msg, nullptr, 0, 0);
        if (bResult == 0) {
            // Leave WM_QUIT for whoever runs the loop outside this one.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (bResult == -1)
            break;
        if (!WalkPreTranslate(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

BOOL CDialog::WalkPreTranslate(MSG* pMsg)
{
    for (HWND hWnd = pMsg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        if (CWnd* pWnd = FromHandle(hWnd); pWnd && pWnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == m_hWnd)
            break;
    }
    return FALSE;
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bEndRequested = true;
    // Wakes the loop in case nothing else is queued.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    // Only keyboard input needs the dialog manager: tab, arrows, mnemonics, default and cancel keys.
    if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST)
        return FALSE;
    if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd))
        return FALSE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
