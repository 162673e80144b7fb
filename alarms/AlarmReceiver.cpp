#include "AlarmReceiver.h"

#include "ReceiverNotices.h"

#include <utility>

namespace {

// A burst waits in the socket while the capture thread is not running instead of being dropped.
constexpr int SOCKET_RECEIVE_BUFFER = 8 << 20;
// Large enough for any UDP payload, so nothing arrives truncated; the text is cut afterwards.
constexpr int DATAGRAM_BUFFER = 65536;
// An unexpected receive error is not retried at once, so a broken socket cannot spin the CPU.
constexpr DWORD RECEIVE_ERROR_PAUSE = 50;
// A thread that failed starts again after this pause, so a fault that persists cannot spin.
constexpr DWORD FAULT_PAUSE = 1000;
// Datagrams written with one flush.
constexpr std::size_t WRITE_BATCH_MAX = 4096;
// Lines waiting for a file that cannot be written are tried again this often.
constexpr std::chrono::milliseconds PENDING_RETRY{1000};
constexpr std::chrono::milliseconds IDLE_WAIT{60000};
// What a close leaves the writer to put on disk what was taken in; the rest is counted lost.
constexpr ULONGLONG STOP_DRAIN_MILLISECONDS = 1200;

struct CWsaEventPolicy {
    static void Release(WSAEVENT hEvent) { ::WSACloseEvent(hEvent); }
};

// The disk gets the CPU before the window: a storm's lines reach the file while the window is
// busy listing. Above normal is the documented means for threads that must not wait behind the
// process's others; nothing these threads do spins.
void RaisePriority()
{
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

} // namespace

class CAlarmReceiver::CSocket {
public:
    CSocket() = default;
    explicit CSocket(SOCKET s) : m_socket(s) {}
    CSocket(CSocket&& other) noexcept : m_socket(std::exchange(other.m_socket, INVALID_SOCKET)) {}
    CSocket& operator=(CSocket&& other) noexcept
    {
        std::swap(m_socket, other.m_socket);
        return *this;
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    ~CSocket()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(m_socket);
    }
    bool IsValid() const { return m_socket != INVALID_SOCKET; }
    operator SOCKET() const { return m_socket; }

    // UDP 6000 on every local address, or an invalid socket and the Winsock error.
    static CSocket Bind(int& nError)
    {
        CSocket s(::socket(AF_INET, SOCK_DGRAM, 0));
        if (!s.IsValid()) {
            nError = ::WSAGetLastError();
            return s;
        }
        // On Windows a second program may bind the same port with SO_REUSEADDR and take the
        // alarms; exclusive use, asked for before the bind, refuses it.
        const BOOL bExclusive = TRUE;
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&bExclusive),
                     sizeof(bExclusive));
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&SOCKET_RECEIVE_BUFFER),
                     sizeof(SOCKET_RECEIVE_BUFFER));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(ALARM_PORT);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
            nError = ::WSAGetLastError();
            return CSocket();
        }
        return s;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

CAlarmReceiver::CAlarmReceiver() : m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void CAlarmReceiver::Stop()
{
    // The deadline is the stop itself, so whoever sees the stop sees its deadline.
    ULONGLONG nRunning = 0;
    m_nStopDeadline.compare_exchange_strong(nRunning, ::GetTickCount64() + STOP_DRAIN_MILLISECONDS);
    ::SetEvent(m_hStopEvent);
}

void CAlarmReceiver::Wake(bool bWake)
{
    // A posted message, never a sent one: the writer must not wait for the window.
    if (bWake && !::PostMessageW(m_hWndNotify, WM_ALARM_FEED, 0, 0))
        m_feed.WakeFailed();
}

void CAlarmReceiver::Notify(const std::string& text, bool bWarning) noexcept
{
    // Raised from fault handlers too: a notice that cannot be built must not end the thread.
    try {
        Wake(m_feed.PublishNotice(text, bWarning));
    } catch (...) {
    }
}

std::thread CAlarmReceiver::StartCapture()
{
    for (;;) {
        try {
            return std::thread(&CAlarmReceiver::CaptureThread, this);
        } catch (...) {
            Notify(NOTICE_RECEIVE_FAULT, true);
        }
        if (StoppedWithin(FAULT_PAUSE)) {
            // Nothing was taken in: the writer may run dry at once.
            m_queue.Stop();
            return std::thread();
        }
    }
}

void CAlarmReceiver::CaptureThread()
{
    RaisePriority();
    CSocket socket;
    // A fault costs a pause, never the monitoring: the next round takes up the same socket.
    while (!IsStopping()) {
        try {
            if (!socket.IsValid())
                socket = BindUntilBound();
            if (!socket.IsValid())
                break;
            m_bBound = true;
            if (Receive(socket))
                break;
        } catch (...) {
        }
        Notify(NOTICE_RECEIVE_FAULT, true);
        StoppedWithin(FAULT_PAUSE);
    }
    m_bBound = false;
    // Only now may the writer run dry: whatever was taken in gets written.
    m_queue.Stop();
}

CAlarmReceiver::CSocket CAlarmReceiver::BindUntilBound()
{
    int nReported = 0;
    for (;;) {
        int nError = 0;
        CSocket s = CSocket::Bind(nError);
        if (s.IsValid()) {
            if (nReported)
                Notify(NOTICE_PORT_OPEN, false);
            return s;
        }
        if (nError != nReported)
            Notify(PortNotice(nError), true);
        nReported = nError;
        if (StoppedWithin(BIND_RETRY_MILLISECONDS))
            return CSocket();
    }
}

bool CAlarmReceiver::Receive(SOCKET s)
{
    CHandleOwner<WSAEVENT, CWsaEventPolicy> hReadable(::WSACreateEvent());
    if (!hReadable || ::WSAEventSelect(s, hReadable, FD_READ) == SOCKET_ERROR)
        return false;
    // The socket lets go of the event before the event goes.
    struct CSelection {
        SOCKET s;
        ~CSelection() { ::WSAEventSelect(s, nullptr, 0); }
    } selection{s};
    // The stop request first: in a flood the socket is always readable.
    const WSAEVENT events[2] = {m_hStopEvent, hReadable};
    std::string buffer(DATAGRAM_BUFFER, '\0');
    while (!IsStopping()) {
        WSANETWORKEVENTS happened;
        ::WSAEnumNetworkEvents(s, hReadable, &happened);
        // Drain everything waiting before sleeping again, looking at the stop request between
        // datagrams.
        while (!IsStopping()) {
            sockaddr_in from{};
            int nFromLength = sizeof(from);
            const int n = ::recvfrom(s, buffer.data(), DATAGRAM_BUFFER, 0, reinterpret_cast<sockaddr*>(&from),
                                     &nFromLength);
            if (n != SOCKET_ERROR) {
                m_queue.Push(DatagramText(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            const int nError = ::WSAGetLastError();
            if (nError == WSAECONNRESET)
                continue;
            if (nError != WSAEWOULDBLOCK)
                StoppedWithin(RECEIVE_ERROR_PAUSE);
            break;
        }
        const DWORD dwWait = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (dwWait != WSA_WAIT_EVENT_0 && dwWait != WSA_WAIT_EVENT_0 + 1)
            return false;
    }
    return true;
}

void CAlarmReceiver::ReportHealth(LogHealth health)
{
    if (health == LogHealth::Failing)
        Notify(NOTICE_LOG_FAILING, true);
    else if (health == LogHealth::Recovered)
        Notify(NOTICE_LOG_RECOVERED, false);
}

void CAlarmReceiver::Write(const CIntake& intake)
{
    std::vector<CFeedAlarm> alarms;
    std::vector<std::string> segment;
    for (const std::string& text : intake.texts) {
        segment.push_back(text);
        CFeedAlarm alarm;
        if (!ParseAlarm(text, alarm.record))
            continue;
        alarm.bCapsLog = m_nLogRows >= ALARM_LIST_CAP;
        if (alarm.bCapsLog) {
            // The capping alarm's line goes with the archive; the next line starts the new file.
            ReportHealth(m_log.Append(segment));
            segment.clear();
            const bool bArchived = m_log.Archive();
            if (!bArchived && !m_bArchiveFailing)
                Notify(NOTICE_ARCHIVE_FAILING, true);
            m_bArchiveFailing = !bArchived;
            m_nLogRows = 0;
        }
        ++m_nLogRows;
        alarm.bCapsMain = m_nMainRows >= ALARM_LIST_CAP;
        if (alarm.bCapsMain)
            m_nMainRows = 0;
        ++m_nMainRows;
        alarms.push_back(alarm);
    }
    ReportHealth(m_log.Append(segment));
    Wake(m_feed.PublishAlarms(alarms));
    if (intake.bDeleteLog)
        DeleteLog();
    if (const std::size_t nDropped = m_queue.TakeDropped()) {
        m_log.CountLost(nDropped, LossCause::Overflow);
        Notify(DroppedNotice(nDropped), true);
    }
}

void CAlarmReceiver::DeleteLog()
{
    // The page was emptied by the button: its count starts again whatever the file does.
    m_nLogRows = 0;
    Wake(m_feed.PublishLogCleared());
    if (const DWORD dwError = m_log.Delete())
        Notify(DeleteFailedNotice(dwError), true);
}

void CAlarmReceiver::ReadHistory()
{
    // Read before the first line is written, while the capture already takes in whatever
    // arrives meanwhile.
    try {
        std::vector<CAlarmRow> history = m_log.ReadTail(ALARM_LIST_CAP);
        m_nLogRows = static_cast<int>(history.size());
        Wake(m_feed.PublishHistory(std::move(history)));
    } catch (...) {
        Notify(NOTICE_WRITE_FAULT, true);
    }
    m_bHistoryRead = true;
}

void CAlarmReceiver::WriteUntilStopped()
{
    CIntake intake;
    for (;;) {
        try {
            if (IsStopping())
                m_log.SetStopping();
            const TakeResult result =
                m_queue.Take(intake, WRITE_BATCH_MAX, m_log.HasPending() ? PENDING_RETRY : IDLE_WAIT);
            if (result == TakeResult::Finished)
                return;
            // A wait that timed out is the time to try the waiting lines again.
            if (result == TakeResult::Taken)
                Write(intake);
            else
                ReportHealth(m_log.Append({}));
        } catch (...) {
            m_log.CountLost(intake.texts.size(), LossCause::WriteFailed);
            Notify(NOTICE_WRITE_FAULT, true);
        }
        if (IsStopping() && ::GetTickCount64() > m_nStopDeadline)
            return;
    }
}

void CAlarmReceiver::Run()
{
    RaisePriority();
    std::thread capture = StartCapture();
    ReadHistory();
    WriteUntilStopped();
    if (capture.joinable())
        capture.join();
    m_bHistoryRead = false;
    // Whatever the close leaves in the queue, and what the queue dropped after the last batch,
    // is counted in the log with one last try.
    m_log.SetStopping();
    m_log.CountLost(m_queue.Discard(), LossCause::Closing);
    m_log.CountLost(m_queue.TakeDropped(), LossCause::Overflow);
    m_log.AppendLast();
}

DWORD WINAPI AlarmReceiverThread(LPVOID pParam)
{
    auto& receiver = *static_cast<CAlarmReceiver*>(pParam);
    // Winsock 2.2: the receiver uses Winsock 2 calls (WSAEventSelect, WSAWaitForMultipleEvents).
    // Without it the writer still runs, and the binds that fail tell the operator why.
    WSADATA wsaData;
    const bool bWinsock = ::WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    // Nothing may leave a thread's entry function: the process would end with the alarms in it.
    try {
        receiver.Run();
    } catch (...) {
    }
    if (bWinsock)
        ::WSACleanup();
    return 0;
}
