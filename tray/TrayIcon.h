// The icon in the notification area, as small functions over the record the shell takes.
// They know no window class: the main window owns the record and forwards to them.
#pragma once

#include "Gdi.h"
#include "Messages.h"
#include "resource.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

// The icon's identifier among the main window's tray icons.
constexpr UINT TRAY_ICON_ID = IDR_MAINFRAME;
constexpr UINT BALLOON_TIMEOUT = 3000;

// The message the shell broadcasts when it starts again and every tray icon is gone.
UINT TaskbarCreatedMessage();

// The icon resource at the size the notification area draws it at the system's scaling.
CIcon LoadTrayIcon(UINT nIDResource);

// Adds the window's icon with this image and tip (code page 936), its callback message, and the
// keyboard's notifications. NIM_ADD fails while the shell is still starting.
BOOL AddTrayIcon(NOTIFYICONDATAW& data, HWND hWnd, HICON hIcon, const std::string& strTip);
BOOL DeleteTrayIcon(NOTIFYICONDATAW& data, HWND hWnd);
// Changes the image and tip of the icon that is there.
BOOL SetTrayIconLook(NOTIFYICONDATAW& data, HICON hIcon, const std::string& strTip);
// Either text may be null for an empty one; they are code page 936 and cut to the record's fields.
// A real-time balloon is dropped by Windows when it cannot be shown at once: news that would
// mislead later.
BOOL ShowTrayBalloon(NOTIFYICONDATAW& data, const char* pszText, const char* pszTitle, UINT uTimeout,
                     DWORD dwInfoFlags, bool bRealtime);
// Takes the balloon that shows away, as documented: an empty text.
BOOL HideTrayBalloon(NOTIFYICONDATAW& data);
// The last balloon's texts, as the record holds them.
std::string TrayBalloonText(const NOTIFYICONDATAW& data);
std::string TrayBalloonTitle(const NOTIFYICONDATAW& data);
// The tray menu at the pointer, for the window that takes its commands.
void TrackTrayMenu(HWND hWnd);
