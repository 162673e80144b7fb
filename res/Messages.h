// The program's own window messages, all in one place so that no two share a number.
// They count up from WM_APP, the range no system class or common control uses, except where
// something outside the program fixes the number: the tray icon's callback message keeps the
// value installations have always seen.
#pragma once

#include <windows.h>

// The shell's notifications about the tray icon; wParam: the icon, lParam: the mouse or balloon event.
constexpr UINT WM_TRAY_NOTIFY = 5021;

// Posted to the main window when the alarm feed has something for it.
constexpr UINT WM_ALARM_FEED = WM_APP + 1;
// Posted by a second start of the program to the running monitor, which brings its window back;
// the second start has let it take the foreground first.
constexpr UINT WM_RESTORE_MONITOR = WM_APP + 3;
// Sent once per press of a glyph-cell skin button to the window it notifies;
// wParam, lParam: pointer x, y on the screen.
constexpr UINT WM_SKINBTN_PRESS = WM_APP + 2;
