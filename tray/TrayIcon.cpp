#include "TrayIcon.h"

#include "Gdi.h"
#include "Text.h"
#include "WinApp.h"

#include <commctrl.h>

#include <cwchar>

namespace {

const char TRAY_TIP[] = "Alarm";

template <std::size_t N> void CopyField(wchar_t (&field)[N], const char* pszText)
{
    std::wcsncpy(field, Widen(pszText ? pszText : "").c_str(), N - 1);
    field[N - 1] = L'\0';
}

// The program's icon at the size the notification area shows, from the icon's own image of that
// size rather than shrunk from a larger one; loaded once, for the life of the process.
HICON TrayIconImage()
{
    static const CIcon s_icon([] {
        HICON hIcon = nullptr;
        return SUCCEEDED(::LoadIconMetric(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), LIM_SMALL, &hIcon))
                   ? hIcon
                   : nullptr;
    }());
    return s_icon ? static_cast<HICON>(s_icon) : ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

// The fields that name and show the icon, as adding and removing it both set them.
void FillIconFields(NOTIFYICONDATAW& data, HWND hWnd)
{
    data.hWnd = hWnd;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uID = TRAY_ICON_ID;
    data.cbSize = NOTIFYICONDATAW_V3_SIZE;
    data.hIcon = TrayIconImage();
    CopyField(data.szTip, TRAY_TIP);
}

struct CMenuPolicy {
    static void Release(HMENU hMenu) { ::DestroyMenu(hMenu); }
};

} // namespace

UINT TaskbarCreatedMessage()
{
    static const UINT nMessage = ::RegisterWindowMessageW(L"TaskbarCreated");
    return nMessage;
}

BOOL AddTrayIcon(NOTIFYICONDATAW& data, HWND hWnd)
{
    FillIconFields(data, hWnd);
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    // NIM_ADD fails while the shell is still starting, and may report a time-out for an icon it
    // did add: an icon that takes a change is there.
    return ::Shell_NotifyIconW(NIM_ADD, &data) || ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL DeleteTrayIcon(NOTIFYICONDATAW& data, HWND hWnd)
{
    FillIconFields(data, hWnd);
    return ::Shell_NotifyIconW(NIM_DELETE, &data);
}

BOOL ShowTrayBalloon(NOTIFYICONDATAW& data, const char* pszText, const char* pszTitle, UINT uTimeout,
                     DWORD dwInfoFlags, bool bRealtime)
{
    data.cbSize = NOTIFYICONDATAW_V3_SIZE;
    // No NIF_GUID: the record carries no GUID, and a request that claims one is refused. The
    // balloon goes to the icon that hWnd and uID name. A real-time balloon that Windows cannot
    // show at once (quiet hours, a full-screen program, another notification) is discarded
    // instead of shown later; Wine shows every balloon at once.
    data.uFlags = NIF_INFO | (bRealtime ? NIF_REALTIME : 0);
    data.uTimeout = uTimeout;
    data.dwInfoFlags = dwInfoFlags;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    CopyField(data.szInfo, pszText);
    CopyField(data.szInfoTitle, pszTitle);
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
