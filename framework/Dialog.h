// Dialogs on resource templates: modal with a message loop of our own, so that every window's
// PreTranslateMessage sees a message before the dialog manager does, or modeless as a child.
#pragma once

#include "Wnd.h"

#include <string>

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds a control object to the dialog's control, once; binding subclasses the control.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Exchanges a control's text with a string.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

// Ends every loop that runs inside the window's own on this thread: a menu's, a modal dialog's of
// ours, a move's or a size's. Each returns to its caller, and the window's own loop goes on.
void EndNestedLoops(HWND hWnd);

class CDialog : public CWindowImpl<CDialog, CWnd> {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    static const CMessageMap& GetThisMessageMap();

    virtual INT_PTR DoModal();
    // Creates the dialog modeless, as a child of pParentWnd when the template asks for WS_CHILD.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd);
    void EndDialog(int nResult);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    HWND CreateFromTemplate(UINT nIDTemplate, HWND hParent);
    // Offers the message to the window it is for and to each of its parents up to this dialog.
    BOOL WalkPreTranslate(MSG* pMsg);
    void RunModalLoop();

    // Set from the start of DoModal: an end asked for while the dialog is still opening (its
    // initialisation lets messages sent from other threads in) must still end it.
    bool m_bEndRequested = false;
    int m_nModalResult = -1;
};
