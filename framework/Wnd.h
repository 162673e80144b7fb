// A window object over a window handle. A subclassed window routes its messages through the
// object's message map; whatever no handler takes goes to the window's own procedure.
#pragma once

#include "MessageMap.h"
#include "Text.h"

#include <windows.h>

#include <string>

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    // The object bound to a window by SubclassWindow, or null.
    static CWnd* FromHandle(HWND hWnd);

    // Binds the object to an existing window and routes the window's messages through it.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    void SetWindowText(const std::string& strText) { ::SetWindowTextW(m_hWnd, Widen(strText).c_str()); }
    std::string GetWindowText() const;
    void GetClientRect(RECT* pRect) const { ::GetClientRect(m_hWnd, pRect); }
    void GetWindowRect(RECT* pRect) const { ::GetWindowRect(m_hWnd, pRect); }
    void ScreenToClient(RECT* pRect) const { ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(pRect), 2); }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd);
    LRESULT SendMessage(UINT nMsg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, nMsg, wParam, lParam);
    }

    // Offered every message before it is dispatched while a dialog of ours runs its modal loop;
    // TRUE means the message is consumed.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // The root of every class's table: no handlers.
    static const CMessageMap& GetThisMessageMap();

protected:
    // The table of the object's own class; CWindowImpl supplies it.
    virtual const CMessageMap& GetMessageMap() const;

    // Called after the object is bound to its window and before the window's messages reach it.
    virtual void PreSubclassWindow() {}
    // A notification that the parent hands back to the control it came from (WM_DRAWITEM, and
    // WM_NOTIFY that the parent's own map does not take).
    virtual BOOL OnChildNotify(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    virtual LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The window's own processing of a message, bypassing the message map.
    LRESULT DefWindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The window's own processing of the message being handled.
    LRESULT Default();

    // Runs a message's handler. A handler that fails leaves its message answered with this
    // result; it must not end the process, and with it the alarms still in memory.
    template <typename THandler> static LRESULT Guarded(THandler handler, LRESULT failed = 0) noexcept
    {
        try {
            return handler();
        } catch (...) {
            return failed;
        }
    }

    HWND m_hWnd = nullptr;

private:
    struct CurrentMessage {
        UINT nMsg = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    static LRESULT CALLBACK SubclassedWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    void Detach();

    WNDPROC m_pfnSuper = nullptr;
    CurrentMessage m_current;

    friend class CDialog;
};

// A window class's base, in the manner of WTL's window template: the class writes only its table,
// a static GetThisMessageMap() chained to its base's, and this supplies the virtual that finds it.
template <class T, class TBase> class CWindowImpl : public TBase {
public:
    using TBase::TBase;

protected:
    const CMessageMap& GetMessageMap() const override { return T::GetThisMessageMap(); }
};
