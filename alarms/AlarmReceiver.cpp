#include "AlarmReceiver.h"

#include <thread>

namespace {

// A burst waits in the socket while the capture thread is not running instead of being dropped.
constexpr int SOCKET_RECEIVE_BUFFER = 8 << 20;
// Large enough for any UDP payload, so nothing arrives truncated; the text is cut afterwards.
constexpr int DATAGRAM_BUFFER = 65536;
// An unexpected receive error is not retried at once, so a broken socket cannot spin the CPU.
constexpr DWORD RECEIVE_ERROR_PAUSE = 50;
// Datagrams written with one flush.
constexpr std::size_t WRITE_BATCH_MAX = 4096;
// Lines waiting for a file that cannot be written are tried again this often.
constexpr std::chrono::milliseconds PENDING_RETRY{1000};
constexpr std::chrono::milliseconds IDLE_WAIT{60000};
// What a close leaves the writer to put on disk what was taken in; the rest is counted lost.
constexpr ULONGLONG STOP_DRAIN_MILLISECONDS = 1200;

const char NOTICE_PORT_OPEN[] = "已开始监听 UDP 端口 6000";
const char NOTICE_LOG_FAILING[] = "无法写入告警日志 myfile.txt，告警暂存于内存中";
const char NOTICE_LOG_RECOVERED[] = "告警日志 myfile.txt 已恢复写入";
const char NOTICE_ARCHIVE_FAILING[] = "无法归档告警日志 myfile.txt，日志继续写入原文件";
const char NOTICE_WRITER_FAULT[] = "写入告警日志时出错，部分数据报可能未记录";

std::string PortNotice(int nError)
{
    const std::string cause = nError == WSAEADDRINUSE || nError == WSAEACCES ? "端口被占用" : "出错";
    return "无法监听 UDP 端口 6000，" + cause + "（Winsock 错误 " + std::to_string(nError) + "），正在重试...";
}

} // namespace

CAlarmReceiver::CAlarmReceiver() : m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void CAlarmReceiver::Stop()
{
    if (!m_bStopping.exchange(true))
        m_nStopDeadline = ::GetTickCount64() + STOP_DRAIN_MILLISECONDS;
    ::SetEvent(m_hStopEvent);
}

void CAlarmReceiver::Wake(bool bWake)
{
    // A posted message, never a sent one: the writer must not wait for the window.
    if (bWake && !::PostMessageW(m_hWndNotify, WM_ALARM_FEED, 0, 0))
        m_feed.WakeFailed();
}

void CAlarmReceiver::Notify(const std::string& text, bool bWarning)
{
    Wake(m_feed.PublishNotice(text, bWarning));
}

SOCKET CAlarmReceiver::BindSocket(int& nError)
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) {
        nError = ::WSAGetLastError();
        return s;
    }
    // On Windows a second program may bind the same port with SO_REUSEADDR and take the
    // alarms; exclusive use, asked for before the bind, refuses it.
    const BOOL bExclusive = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&bExclusive), sizeof(bExclusive));
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&SOCKET_RECEIVE_BUFFER),
                 sizeof(SOCKET_RECEIVE_BUFFER));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ALARM_PORT);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
        nError = ::WSAGetLastError();
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void CAlarmReceiver::CaptureLoop()
{
    try {
        Capture();
    } catch (...) {
        Notify(NOTICE_WRITER_FAULT, true);
    }
    // Only now may the writer run dry: whatever was taken in gets written.
    m_queue.Stop();
}

void CAlarmReceiver::Capture()
{
    WSAEVENT hReadable = ::WSACreateEvent();
    ::WSAEventSelect(m_socket, hReadable, FD_READ);
    // The stop request first: in a flood the socket is always readable.
    const WSAEVENT events[2] = {m_hStopEvent, hReadable};
    std::string buffer(DATAGRAM_BUFFER, '\0');
    while (!m_bStopping) {
        WSANETWORKEVENTS happened;
        ::WSAEnumNetworkEvents(m_socket, hReadable, &happened);
        // Drain everything waiting before sleeping again, looking at the stop request between
        // datagrams.
        while (!m_bStopping) {
            sockaddr_in from{};
            int nFromLength = sizeof(from);
            const int n = ::recvfrom(m_socket, buffer.data(), DATAGRAM_BUFFER, 0, reinterpret_cast<sockaddr*>(&from),
                                     &nFromLength);
            if (n != SOCKET_ERROR) {
                m_queue.Push(DatagramText(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            const int nError = ::WSAGetLastError();
            if (nError == WSAECONNRESET)
                continue;
            if (nError != WSAEWOULDBLOCK)
                ::WaitForSingleObject(m_hStopEvent, RECEIVE_ERROR_PAUSE);
            break;
        }
        if (::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) != WSA_WAIT_EVENT_0 + 1)
            break;
    }
    ::WSACloseEvent(hReadable);
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
    if (intake.bDeleteLog) {
        m_log.Delete();
        m_nLogRows = 0;
        Wake(m_feed.PublishLogCleared());
    }
    if (const std::size_t nDropped = m_queue.TakeDropped()) {
        m_log.CountLost(nDropped);
        Notify("告警过多，已丢弃 " + std::to_string(nDropped) + " 条数据报", true);
    }
}

void CAlarmReceiver::WriteUntilStopped()
{
    CIntake intake;
    for (;;) {
        const TakeResult result = m_queue.Take(intake, WRITE_BATCH_MAX, m_log.HasPending() ? PENDING_RETRY : IDLE_WAIT);
        if (result == TakeResult::Finished) {
            // One last try for lines still waiting for the file, once, without waiting.
            m_log.Append({});
            return;
        }
        try {
            // A wait that timed out is the time to try the waiting lines again.
            if (result == TakeResult::Taken)
                Write(intake);
            else
                ReportHealth(m_log.Append({}));
        } catch (...) {
            m_log.CountLost(intake.texts.size());
            Notify(NOTICE_WRITER_FAULT, true);
        }
        if (m_bStopping && ::GetTickCount64() > m_nStopDeadline) {
            m_log.CountLost(m_queue.Discard());
            m_log.Append({});
            return;
        }
    }
}

void CAlarmReceiver::Run()
{
    int nError = 0;
    m_socket = BindSocket(nError);
    std::thread capture;
    // Nothing may leave a thread's entry function: the process would end with the alarms in it.
    try {
        if (m_socket != INVALID_SOCKET)
            capture = std::thread(&CAlarmReceiver::CaptureLoop, this);
        else
            Notify(PortNotice(nError), true);
        // The history is read before the first line is written, while the capture already
        // takes in whatever arrives meanwhile.
        std::vector<CAlarmRow> history = m_log.ReadTail(ALARM_LIST_CAP);
        m_nLogRows = static_cast<int>(history.size());
        Wake(m_feed.PublishHistory(std::move(history)));
        while (m_socket == INVALID_SOCKET &&
               ::WaitForSingleObject(m_hStopEvent, BIND_RETRY_MILLISECONDS) == WAIT_TIMEOUT) {
            m_socket = BindSocket(nError);
            if (m_socket != INVALID_SOCKET) {
                Notify(NOTICE_PORT_OPEN, false);
                capture = std::thread(&CAlarmReceiver::CaptureLoop, this);
            }
        }
        m_bListening = capture.joinable();
        if (m_bListening)
            WriteUntilStopped();
    } catch (...) {
        Notify(NOTICE_WRITER_FAULT, true);
    }
    if (capture.joinable()) {
        Stop();
        capture.join();
    }
    m_bListening = false;
    if (m_socket != INVALID_SOCKET)
        ::closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

DWORD WINAPI AlarmReceiverThread(LPVOID pParam)
{
    auto& receiver = *static_cast<CAlarmReceiver*>(pParam);
    WSADATA wsaData;
    if (::WSAStartup(0x0101, &wsaData) != 0)
        return 0;
    if (LOBYTE(wsaData.wVersion) != 1 || HIBYTE(wsaData.wVersion) != 1) {
        ::WSACleanup();
        return 0;
    }
    receiver.Run();
    ::WSACleanup();
    return 0;
}
