// The main window's icon in the notification area.
#pragma once

#include "resource.h"

#include <windows.h>

// The tray icon's callback message to the main window.
constexpr UINT WM_TRAY_NOTIFY = 5021;
// The icon's identifier among the main window's tray icons.
constexpr UINT TRAY_ICON_ID = IDR_MAINFRAME;
constexpr UINT BALLOON_TIMEOUT = 3000;

// The message the shell broadcasts when it starts again and every tray icon is gone.
UINT TaskbarCreatedMessage();
