// Owners of Winsock's handles: a socket, and the event its network events set.
#pragma once

#include <winsock2.h>

#include "Handle.h"

struct CSocketPolicy {
    static SOCKET Empty() { return INVALID_SOCKET; }
    static void Release(SOCKET s) { ::closesocket(s); }
};
using CSocket = CHandleOwner<SOCKET, CSocketPolicy>;

struct CWsaEventPolicy {
    static void Release(WSAEVENT hEvent) { ::WSACloseEvent(hEvent); }
};
using CWsaEvent = CHandleOwner<WSAEVENT, CWsaEventPolicy>;
