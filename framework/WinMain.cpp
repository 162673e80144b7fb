#include "WinApp.h"

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    CWinApp* pApp = AfxGetApp();
    pApp->m_hInstance = hInstance;
    // A dialog-based program has no message loop of its own: it ends when InitInstance returns.
    pApp->InitInstance();
    return 0;
}
