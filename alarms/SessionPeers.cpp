#include "SessionPeers.h"

#include "Handle.h"

#include <wtsapi32.h>

namespace {

struct CWtsMemoryPolicy {
    static void Release(PWTS_SESSION_INFOW pInfo) { ::WTSFreeMemory(pInfo); }
};

// A mark that exists but may not be opened belongs to another user's monitor: there all the same.
bool MonitorRunsIn(DWORD dwSession)
{
    const CHandle hMark(::OpenMutexW(SYNCHRONIZE, FALSE, SessionMonitorName(dwSession).c_str()));
    return hMark.IsValid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

std::wstring SessionMonitorName(DWORD dwSession)
{
    // Creating a mutex in the Global namespace needs no privilege, unlike a file mapping there.
    return L"Global\\Wendle.Monitor.Session" + std::to_wstring(dwSession);
}

DWORD OwnSession()
{
    DWORD dwSession = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &dwSession);
    return dwSession;
}

long OtherSessionMonitor()
{
    PWTS_SESSION_INFOW pSessions = nullptr;
    DWORD dwCount = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &pSessions, &dwCount))
        return -1;
    const CHandleOwner<PWTS_SESSION_INFOW, CWtsMemoryPolicy> sessions(pSessions);
    const DWORD dwOwn = OwnSession();
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pSessions[i].SessionId != dwOwn && MonitorRunsIn(pSessions[i].SessionId))
            return static_cast<long>(pSessions[i].SessionId);
    }
    return -1;
}
