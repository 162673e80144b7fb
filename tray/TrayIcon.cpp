#include "TrayIcon.h"

#include "Text.h"
#include "WinApp.h"

#include <commctrl.h>

#include <cwchar>

namespace {

// Vista-or-later fields are in use (NIF_REALTIME), so every request carries the record's full
// size, as the documentation asks, rather than an older one's.
constexpr DWORD TRAY_RECORD_SIZE = sizeof(NOTIFYICONDATAW);

template <std::size_t N> void CopyField(wchar_t (&field)[N], const std::string& text)
{
    std::wcsncpy(field, Widen(text).c_str(), N - 1);
    field[N - 1] = L'\0';
}

// The fields that name the icon, as adding and removing it both set them.
void FillIconFields(NOTIFYICONDATAW& data, HWND hWnd)
{
    data.hWnd = hWnd;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uID = TRAY_ICON_ID;
    data.cbSize = TRAY_RECORD_SIZE;
}

struct CMenuPolicy {
    static void Release(HMENU hMenu) { ::DestroyMenu(hMenu); }
};

using SetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)(HANDLE);
// DPI_AWARENESS_CONTEXT_SYSTEM_AWARE, a documented value that older headers do not have.
const HANDLE SYSTEM_AWARE_CONTEXT = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// Windows 10 version 1607 on; resolved at run time, since the program starts on older Windows.
SetThreadDpiAwarenessContextFn SetThreadDpiAwarenessContextProc()
{
    static const auto pfn = reinterpret_cast<SetThreadDpiAwarenessContextFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    return pfn;
}

} // namespace

UINT TaskbarCreatedMessage()
{
    static const UINT nMessage = ::RegisterWindowMessageW(L"TaskbarCreated");
    return nMessage;
}

// The process is DPI-unaware (Windows scales its windows), so there the small-icon metric is
// 96 dpi's 16 pixels at every scaling, and the shell would stretch that image to its own size. In
// a system-aware thread context the metric is the system DPI's, and the icon's own 20- or 24-pixel
// image is taken; without that call, today's metric.
CIcon LoadTrayIcon(UINT nIDResource)
{
    const SetThreadDpiAwarenessContextFn pfnSetContext = SetThreadDpiAwarenessContextProc();
    const HANDLE hOldContext = pfnSetContext ? pfnSetContext(SYSTEM_AWARE_CONTEXT) : nullptr;
    HICON hIcon = nullptr;
    if (FAILED(::LoadIconMetric(AfxGetInstanceHandle(), MAKEINTRESOURCEW(nIDResource), LIM_SMALL, &hIcon)))
        hIcon = nullptr;
    if (hOldContext)
        pfnSetContext(hOldContext);
    return CIcon(hIcon);
}

BOOL AddTrayIcon(NOTIFYICONDATAW& data, HWND hWnd, HICON hIcon, const std::string& strTip)
{
    FillIconFields(data, hWnd);
    data.hIcon = hIcon;
    CopyField(data.szTip, strTip);
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    // NIM_ADD fails while the shell is still starting, and may report a time-out for an icon it
    // did add: an icon that takes a change is there.
    if (!::Shell_NotifyIconW(NIM_ADD, &data) && !::Shell_NotifyIconW(NIM_MODIFY, &data))
        return FALSE;
    // Asked after every add, as documented: the keyboard's select and key-select notifications
    // come only with it, while the callback keeps its classic form (wParam the icon, lParam the event).
    data.uVersion = NOTIFYICON_VERSION;
    ::Shell_NotifyIconW(NIM_SETVERSION, &data);
    return TRUE;
}

BOOL DeleteTrayIcon(NOTIFYICONDATAW& data, HWND hWnd)
{
    FillIconFields(data, hWnd);
    return ::Shell_NotifyIconW(NIM_DELETE, &data);
}

BOOL SetTrayIconLook(NOTIFYICONDATAW& data, HICON hIcon, const std::string& strTip)
{
    data.cbSize = TRAY_RECORD_SIZE;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = hIcon;
    CopyField(data.szTip, strTip);
    return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL ShowTrayBalloon(NOTIFYICONDATAW& data, const char* pszText, const char* pszTitle, UINT uTimeout,
                     DWORD dwInfoFlags, bool bRealtime)
{
    data.cbSize = TRAY_RECORD_SIZE;
    // No NIF_GUID: the record carries no GUID, and a request that claims one is refused. The
    // balloon goes to the icon that hWnd and uID name. A real-time balloon that Windows cannot
    // show at once (quiet hours, a full-screen program, another notification) is discarded
    // instead of shown later; Wine shows every balloon at once.
    data.uFlags = NIF_INFO | (bRealtime ? NIF_REALTIME : 0);
    data.uTimeout = uTimeout;
    data.dwInfoFlags = dwInfoFlags;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    CopyField(data.szInfo, pszText ? pszText : "");
    CopyField(data.szInfoTitle, pszTitle ? pszTitle : "");
    return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL HideTrayBalloon(NOTIFYICONDATAW& data)
{
    data.cbSize = TRAY_RECORD_SIZE;
    data.uFlags = NIF_INFO;
    data.szInfo[0] = L'\0';
    return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

std::string TrayBalloonText(const NOTIFYICONDATAW& data)
{
    return Narrow(data.szInfo);
}

std::string TrayBalloonTitle(const NOTIFYICONDATAW& data)
{
    return Narrow(data.szInfoTitle);
}

void TrackTrayMenu(HWND hWnd)
{
    POINT pt;
    ::GetCursorPos(&pt);
    const CHandleOwner<HMENU, CMenuPolicy> hMenu(::LoadMenuW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_TRAY_MENU)));
    // As TrackPopupMenu's documentation asks of a notification-area menu: the window is made the
    // foreground one first, or the menu would not close when the user clicks elsewhere, and a
    // message is posted to it afterwards, or a second right-click would close the menu at once.
    ::SetForegroundWindow(hWnd);
    ::TrackPopupMenu(::GetSubMenu(hMenu, 0), 0, pt.x, pt.y, 0, hWnd, nullptr);
    ::PostMessageW(hWnd, WM_NULL, 0, 0);
}
