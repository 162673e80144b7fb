// Other Windows sessions of the machine (fast user switching, Remote Desktop) may each run a
// monitor, while UDP 6000 is the machine's: only one of them takes the alarms. Each monitor marks
// its session with a name in the machine-wide namespace, beside the session's own instance mutex.
#pragma once

#include <windows.h>

#include <string>

// The name a monitor marks its session with.
std::wstring SessionMonitorName(DWORD dwSession);
// This process's session.
DWORD OwnSession();
// The session of a monitor in another session of this machine, or -1 when there is none.
long OtherSessionMonitor();
