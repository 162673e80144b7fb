// Per-class message maps. Each window class lists its handlers once, in a small typed table
// that chains to its base class's table; a handler keeps the signature its message needs and
// the table adapts it.
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

    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)())
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT { (static_cast<T&>(w).*pfn)(); return 0; });
    }
    // Mouse messages: key flags and the point in client coordinates.
    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)(UINT, POINT))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), PointFromLParam(lp));
            return 0;
        });
    }
    // WM_TIMER.
    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)(UINT_PTR))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT { (static_cast<T&>(w).*pfn)(wp); return 0; });
    }
    // WM_ERASEBKGND.
    template <class T> CMessageMap& OnMessage(UINT nMsg, BOOL (T::*pfn)(HDC))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
            return (static_cast<T&>(w).*pfn)(reinterpret_cast<HDC>(wp));
        });
    }
    // WM_SETCURSOR: window, hit-test code, mouse message.
    template <class T> CMessageMap& OnMessage(UINT nMsg, BOOL (T::*pfn)(HWND, UINT, UINT))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            return (static_cast<T&>(w).*pfn)(reinterpret_cast<HWND>(wp), LOWORD(lp), HIWORD(lp));
        });
    }
    // WM_ENABLE.
    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)(BOOL))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<BOOL>(wp));
            return 0;
        });
    }
    // WM_SHOWWINDOW: show flag and status.
    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)(BOOL, UINT))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<BOOL>(wp), static_cast<UINT>(lp));
            return 0;
        });
    }
    // WM_SYSCOMMAND: command identifier and lParam.
    template <class T> CMessageMap& OnMessage(UINT nMsg, void (T::*pfn)(UINT, LPARAM))
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
            (static_cast<T&>(w).*pfn)(static_cast<UINT>(wp), lp);
            return 0;
        });
    }
    // WM_QUERYDRAGICON.
    template <class T> CMessageMap& OnMessage(UINT nMsg, HCURSOR (T::*pfn)())
    {
        return Add(nMsg, [pfn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
            return reinterpret_cast<LRESULT>((static_cast<T&>(w).*pfn)());
        });
    }
    // Any message in its raw form.
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

    const CMessageMap* m_pBase;
    std::vector<Entry> m_entries;
};
