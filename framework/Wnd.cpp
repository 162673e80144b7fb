#include "Wnd.h"

#include <mutex>
#include <unordered_map>

namespace {

// Every message of a subclassed window looks its object up, so the map stays in the process: a
// window property is kept by the window server (under Wine, one round trip per message).
std::mutex g_wndMapMutex;
std::unordered_map<HWND, CWnd*> g_wndMap;

} // namespace

CWnd::~CWnd()
{
    if (m_hWnd && ::IsWindow(m_hWnd))
        Detach();
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    std::lock_guard<std::mutex> lock(g_wndMapMutex);
    const auto found = g_wndMap.find(hWnd);
    return found == g_wndMap.end() ? nullptr : found->second;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || FromHandle(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    {
        std::lock_guard<std::mutex> lock(g_wndMapMutex);
        g_wndMap[hWnd] = this;
    }
    PreSubclassWindow();
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassedWndProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    return SubclassWindow(pParent->GetDlgItem(static_cast<int>(nID)));
}

void CWnd::Detach()
{
    if (m_pfnSuper)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    {
        std::lock_guard<std::mutex> lock(g_wndMapMutex);
        g_wndMap.erase(m_hWnd);
    }
    m_pfnSuper = nullptr;
    m_hWnd = nullptr;
}

std::string CWnd::GetWindowText() const
{
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd)
{
    const DWORD dwStyle = GetStyle();
    const DWORD dwNewStyle = (dwStyle & ~dwRemove) | dwAdd;
    if (dwStyle == dwNewStyle)
        return FALSE;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(dwNewStyle));
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

const CMessageMap& CWnd::GetThisMessageMap()
{
    static const CMessageMap map;
    return map;
}

const CMessageMap& CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (const CMessageMap::Handler* handler = GetMessageMap().Find(nMsg, wParam, lParam))
        return (*handler)(*this, wParam, lParam);
    // What the parent does not take goes back to the control it came from, if it is one of ours.
    HWND hControl = nullptr;
    LRESULT result = 0;
    if (nMsg == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        hControl = item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
        result = TRUE;
    } else if (nMsg == WM_NOTIFY) {
        hControl = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
    }
    if (CWnd* control = hControl ? FromHandle(hControl) : nullptr;
        control && control->OnChildNotify(nMsg, wParam, lParam, &result))
        return result;
    return DefWindowProc(nMsg, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, nMsg, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_current.nMsg, m_current.wParam, m_current.lParam);
}

LRESULT CALLBACK CWnd::SubclassedWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = FromHandle(hWnd);
    if (!pWnd)
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    const CurrentMessage outer = pWnd->m_current;
    pWnd->m_current = {nMsg, wParam, lParam};
    const LRESULT result = Guarded([&] { return pWnd->WindowProc(nMsg, wParam, lParam); });
    pWnd->m_current = outer;
    if (nMsg == WM_NCDESTROY)
        pWnd->Detach();
    return result;
}
