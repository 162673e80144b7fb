// The receiver's capture thread: UDP 6000 on every local address, one socket per family, each
// drained into the queue from the moment it is bound.
#include "AlarmReceiver.h"

#include "SessionPeers.h"
#include "Socket.h"

#include <ws2tcpip.h>

#include <array>

namespace {

// A burst waits in the socket while the capture thread is not running instead of being dropped.
constexpr int SOCKET_RECEIVE_BUFFER = 8 << 20;
// Large enough for any UDP payload, so nothing arrives truncated; the text is cut afterwards.
constexpr int DATAGRAM_BUFFER = 65536;
// An unexpected receive error is not retried at once, so a broken socket cannot spin the CPU.
constexpr DWORD RECEIVE_ERROR_PAUSE = 50;
// A socket's turn in a drain: a flood on one family cannot hold up the other.
constexpr int DRAIN_TURN = 256;

// The errors of a family the machine does not have; IPv4 alone then takes every alarm.
bool IsMissingFamily(int nError)
{
    return nError == WSAEAFNOSUPPORT || nError == WSAEPFNOSUPPORT || nError == WSAEPROTONOSUPPORT ||
           nError == WSAEADDRNOTAVAIL;
}

// UDP 6000 on every local address of the family, with exclusive use, or an invalid socket and the
// Winsock error.
CSocket BindFamily(int nFamily, int& nError)
{
    CSocket s(::socket(nFamily, SOCK_DGRAM, IPPROTO_UDP));
    if (!s.IsValid()) {
        nError = ::WSAGetLastError();
        return s;
    }
    // On Windows a second program may bind the same port with SO_REUSEADDR and take the
    // alarms; exclusive use, asked for before the bind, refuses it.
    const BOOL bTrue = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&bTrue), sizeof(bTrue));
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&SOCKET_RECEIVE_BUFFER),
                 sizeof(SOCKET_RECEIVE_BUFFER));
    sockaddr_storage address{};
    int nLength = 0;
    if (nFamily == AF_INET6) {
        // IPv6 only: IPv4 has its own socket, so that each family's bind fails or succeeds alone.
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&bTrue), sizeof(bTrue));
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(ALARM_PORT);
        v6.sin6_addr = in6addr_any;
        nLength = sizeof(v6);
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(ALARM_PORT);
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        nLength = sizeof(v4);
    }
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), nLength) == SOCKET_ERROR) {
        nError = ::WSAGetLastError();
        return CSocket();
    }
    return s;
}

// One family's socket, with the event its arrivals set.
class CFamilySocket {
public:
    explicit CFamilySocket(int nFamily) : m_nFamily(nFamily) {}
    CFamilySocket(const CFamilySocket&) = delete;
    CFamilySocket& operator=(const CFamilySocket&) = delete;
    // The socket lets go of the event before the event goes.
    ~CFamilySocket()
    {
        if (IsBound())
            ::WSAEventSelect(m_socket, nullptr, 0);
    }

    bool IsBound() const { return m_socket.IsValid() && m_hReadable.IsValid(); }
    // Done for good: bound, or the machine has no such family.
    bool IsSettled() const { return IsBound() || m_nError == NO_SUCH_FAMILY; }
    // The bind's Winsock error while not bound, NO_SUCH_FAMILY, or 0.
    long Error() const { return IsBound() ? 0 : m_nError; }
    SOCKET Socket() const { return m_socket; }
    WSAEVENT Readable() const { return m_hReadable; }

    void Bind()
    {
        int nError = 0;
        m_socket = BindFamily(m_nFamily, nError);
        if (!m_socket.IsValid()) {
            m_nError = m_nFamily == AF_INET6 && IsMissingFamily(nError) ? NO_SUCH_FAMILY : nError;
            return;
        }
        m_hReadable.Attach(::WSACreateEvent());
        if (!m_hReadable.IsValid() || ::WSAEventSelect(m_socket, m_hReadable, FD_READ) == SOCKET_ERROR) {
            m_nError = ::WSAGetLastError();
            m_hReadable.Close();
            m_socket.Close();
        }
    }

private:
    int m_nFamily;
    CSocket m_socket;
    CWsaEvent m_hReadable;
    long m_nError = 0;
};

} // namespace

struct CAlarmReceiver::CListener {
    std::array<CFamilySocket, 2> families{CFamilySocket(AF_INET), CFamilySocket(AF_INET6)};
    CFamilySocket& V4() { return families[0]; }
    CFamilySocket& V6() { return families[1]; }
    bool IsSettled() const { return families[0].IsSettled() && families[1].IsSettled(); }
};

void CAlarmReceiver::BindMissing(CListener& listener)
{
    for (CFamilySocket& family : listener.families) {
        if (!family.IsSettled())
            family.Bind();
    }
    CHealthDetail port;
    port.nError = listener.V4().Error();
    port.nErrorV6 = listener.V6().Error();
    const bool bFailing = port.nError || (port.nErrorV6 && port.nErrorV6 != NO_SUCH_FAMILY);
    if (bFailing && (port.nError == WINSOCK_ADDRESS_IN_USE || port.nErrorV6 == WINSOCK_ADDRESS_IN_USE))
        port.nSession = OtherSessionMonitor();
    m_bBound = !bFailing;
    // A retry that fails the same way is no news: the feed passes on only a change.
    Publish(HealthKind::Port, bFailing, port);
}

CAlarmReceiver::Waited CAlarmReceiver::WaitForDatagrams(CListener& listener)
{
    // The stop request first: in a flood a socket is always readable.
    WSAEVENT events[3] = {m_hStopEvent};
    DWORD nEvents = 1;
    for (const CFamilySocket& family : listener.families) {
        if (family.IsBound())
            events[nEvents++] = family.Readable();
    }
    const DWORD dwWait = ::WSAWaitForMultipleEvents(nEvents, events, FALSE,
                                                    listener.IsSettled() ? WSA_INFINITE : BIND_RETRY_MILLISECONDS, FALSE);
    if (dwWait == WSA_WAIT_EVENT_0)
        return Waited::Stopped;
    if (dwWait == WSA_WAIT_TIMEOUT)
        return Waited::Rebind;
    return dwWait < WSA_WAIT_EVENT_0 + nEvents ? Waited::Readable : Waited::Failed;
}

void CAlarmReceiver::Drain(CListener& listener, std::string& buffer)
{
    for (CFamilySocket& family : listener.families) {
        WSANETWORKEVENTS happened;
        if (family.IsBound())
            ::WSAEnumNetworkEvents(family.Socket(), family.Readable(), &happened);
    }
    // Everything waiting is taken before sleeping again, a turn of each socket at a time,
    // looking at the stop request between datagrams.
    for (bool bMore = true; bMore && !IsStopping();) {
        bMore = false;
        for (CFamilySocket& family : listener.families) {
            for (int nTaken = 0; family.IsBound() && !IsStopping(); ++nTaken) {
                if (nTaken == DRAIN_TURN) {
                    bMore = true;
                    break;
                }
                sockaddr_storage from{};
                int nFromLength = sizeof(from);
                const int n = ::recvfrom(family.Socket(), buffer.data(), DATAGRAM_BUFFER, 0,
                                         reinterpret_cast<sockaddr*>(&from), &nFromLength);
                if (n != SOCKET_ERROR) {
                    m_queue.Push(DatagramText(buffer.data(), static_cast<std::size_t>(n)));
                    continue;
                }
                // Windows reports an ICMP port unreachable for an earlier send on a UDP socket.
                const int nError = ::WSAGetLastError();
                if (nError == WSAECONNRESET)
                    continue;
                if (nError != WSAEWOULDBLOCK)
                    StoppedWithin(RECEIVE_ERROR_PAUSE);
                break;
            }
        }
    }
}

void CAlarmReceiver::CaptureThread()
{
    RaisePriority();
    CListener listener;
    std::string buffer(DATAGRAM_BUFFER, '\0');
    // A fault costs a pause, never the monitoring: the next round takes up the same sockets.
    while (!IsStopping()) {
        try {
            if (!listener.IsSettled())
                BindMissing(listener);
            Drain(listener, buffer);
            const Waited waited = WaitForDatagrams(listener);
            if (waited == Waited::Stopped)
                break;
            if (waited != Waited::Failed)
                continue;
        } catch (...) {
        }
        Publish(HealthKind::ReceiveFault, true, CountDetail(1));
        StoppedWithin(FAULT_PAUSE);
    }
    m_bBound = false;
    // Only now may the writer run dry: whatever was taken in gets written.
    m_queue.Stop();
}
