// Per-class message maps. Each window class lists its handlers once, in a small typed table
// that chains to its base class's table; a handler keeps the signature its message needs and
// the adapter named for the message unpacks the parameters for it.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

class CWnd;

// Mouse positions are signed: a captured mouse left of or above the window gives negative values.
inline POINT PointFromLParam(LPARAM lParam)
{
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

class CMessageMap {
public:
    using Handler = std::function<LRESULT(CWnd&, WPARAM, LPARAM)>;
    using NotifyHandler = std::function<void(CWnd&, NMHDR*, LRESULT*)>;

    explicit CMessageMap(const CMessageMap* pBase = nullptr) : m_pBase(pBase) {}

    // One adapter per message, named for it and taking only a handler of that message's shape,
    // so that a handler cannot be listed under a message it was not written for.
    template <class T> CMessageMap& OnPaint(void (T::*pfn)()) { return AddVoid(WM_PAINT, pfn); }
    template <class T> CMessageMap& OnDestroy(void (T::*pfn)()) { return AddVoid(WM_DESTROY, pfn); }
    template <class T> CMessageMap& OnMouseLeave(void (T::*pfn)()) { return AddVoid(WM_MOUSELEAVE, pfn); }
    // Mouse messages: key flags and the point in client coordinates.
    template <class T> CMessageMap& OnLButtonDown(void (T::*pfn)(UINT, POINT)) { return AddMouse(WM_LBUTTONDOWN, pfn); }
    template <class T> CMessageMap& OnMouseMove(void (T::*pfn)(UINT, POINT)) { return AddMouse(WM_MOUSEMOVE, pfn); }
    template <class T> CMessageMap& OnMouseHover(void (T::*pfn)(UINT, POINT)) { return AddMouse(WM_MOUSEHOVER, pfn); }
    template <class T> CMessageMap& OnTimer(void (T::*pfn)(UINT_PTR nIDEvent))
    {
        return Add(WM_TIMER, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT { (static_cast<T&>(w).*pfn)(wp); return 0; });
    }
    // TRUE: the background is erased.
    template <class T> CMessageMap& OnEraseBkgnd(BOOL (T::*pfn)(HDC hDC))
    {
        return Add(WM_ERASEBKGND, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
            return (static_cast<T&>(w).*pfn)(reinterpret_cast<HDC>(wp));
        });
    }
    // TRUE: the cursor is set and the parent is not asked.
    template <class T> CMessageMap& OnSetCursor(BOOL (T::*pfn)(HWND hWnd, UINT nHitTest, UINT nMouseMsg))
    {
        return Add(WM_SETCURSOR, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            return (static_cast<T&>(w).*pfn)(reinterpret_cast<HWND>(wp), LOWORD(lp), HIWORD(lp));
        });
    }
    template <class T> CMessageMap& OnEnable(void (T::*pfn)(BOOL bEnable)) { return AddFlag(WM_ENABLE, pfn); }
    template <class T> CMessageMap& OnEndSession(void (T::*pfn)(BOOL bEnding)) { return AddFlag(WM_ENDSESSION, pfn); }
    template <class T> CMessageMap& OnShowWindow(void (T::*pfn)(BOOL bShow, UINT nStatus))
    {
        return Add(WM_SHOWWINDOW, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<BOOL>(wp), static_cast<UINT>(lp));
            return 0;
        });
    }
    template <class T> CMessageMap& OnSysCommand(void (T::*pfn)(UINT nID, LPARAM lParam))
    {
        return Add(WM_SYSCOMMAND, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), lp);
            return 0;
        });
    }
    // TRUE: the session may end.
    template <class T> CMessageMap& OnQueryEndSession(BOOL (T::*pfn)())
    {
        return Add(WM_QUERYENDSESSION, [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT { return (static_cast<T&>(w).*pfn)(); });
    }
    template <class T> CMessageMap& OnDisplayChange(void (T::*pfn)(UINT nBitsPerPixel, UINT cx, UINT cy))
    {
        return Add(WM_DISPLAYCHANGE, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), LOWORD(lp), HIWORD(lp));
            return 0;
        });
    }
    template <class T> CMessageMap& OnSettingChange(void (T::*pfn)(UINT uFlags, LPCWSTR pszSection))
    {
        return Add(WM_SETTINGCHANGE, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), reinterpret_cast<LPCWSTR>(lp));
            return 0;
        });
    }
    template <class T> CMessageMap& OnQueryDragIcon(HCURSOR (T::*pfn)())
    {
        return Add(WM_QUERYDRAGICON, [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
            return reinterpret_cast<LRESULT>((static_cast<T&>(w).*pfn)());
        });
    }
    // The program's own messages and registered ones, in their raw form; a system message has
    // an adapter of its own above.
    template <class T> CMessageMap& OnMessage(UINT nMsg, LRESULT (T::*pfn)(WPARAM, LPARAM))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT { return (static_cast<T&>(w).*pfn)(wp, lp); });
    }
    // Every control-colour message; the handler gets the kind as a CTLCOLOR_ value.
    template <class T> CMessageMap& OnCtlColor(HBRUSH (T::*pfn)(HDC, HWND, UINT))
    {
        for (UINT nMsg = WM_CTLCOLORMSGBOX; nMsg <= WM_CTLCOLORSTATIC; ++nMsg) {
            Add(nMsg, [pfn, nMsg](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
                return reinterpret_cast<LRESULT>((static_cast<T&>(w).*pfn)(
                    reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), nMsg - WM_CTLCOLORMSGBOX));
            });
        }
        return *this;
    }
    // WM_COMMAND from a button click or menu item with this identifier.
    template <class T> CMessageMap& OnCommand(UINT nID, void (T::*pfn)())
    {
        m_entries.push_back({WM_COMMAND, nID, 0,
                             [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT { (static_cast<T&>(w).*pfn)(); return 0; }});
        return *this;
    }
    // WM_NOTIFY with this control identifier and notification code.
    template <class T> CMessageMap& OnNotify(UINT nID, UINT nCode, void (T::*pfn)(NMHDR*, LRESULT*))
    {
        m_entries.push_back({WM_NOTIFY, nID, nCode, [pfn](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
                                 LRESULT result = 0;
                                 (static_cast<T&>(w).*pfn)(reinterpret_cast<NMHDR*>(lp), &result);
                                 return result;
                             }});
        return *this;
    }

    // Finds the handler for a message in this table or, failing that, in the base tables.
    const Handler* Find(UINT nMsg, WPARAM wParam, LPARAM lParam) const;

private:
    struct Entry {
        UINT nMessage;
        UINT nID;
        UINT nCode;
        Handler handler;
    };

    CMessageMap& Add(UINT nMsg, Handler handler)
    {
        m_entries.push_back({nMsg, 0, 0, std::move(handler)});
        return *this;
    }
    template <class T> CMessageMap& AddVoid(UINT nMsg, void (T::*pfn)())
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT { (static_cast<T&>(w).*pfn)(); return 0; });
    }
    template <class T> CMessageMap& AddMouse(UINT nMsg, void (T::*pfn)(UINT, POINT))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), PointFromLParam(lp));
            return 0;
        });
    }
    template <class T> CMessageMap& AddFlag(UINT nMsg, void (T::*pfn)(BOOL))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<BOOL>(wp));
            return 0;
        });
    }

    const CMessageMap* m_pBase;
    std::vector<Entry> m_entries;
};
