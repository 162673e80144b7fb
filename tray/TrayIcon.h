// The main window's icon in the notification area.
#pragma once

#include "Messages.h"
#include "resource.h"

#include <windows.h>

// The icon's identifier among the main window's tray icons.
constexpr UINT TRAY_ICON_ID = IDR_MAINFRAME;
constexpr UINT BALLOON_TIMEOUT = 3000;

// The message the shell broadcasts when it starts again and every tray icon is gone.
UINT TaskbarCreatedMessage();
