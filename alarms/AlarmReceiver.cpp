#include "AlarmReceiver.h"

#include "AlarmLog.h"

#include <shellapi.h>

#include <thread>

namespace {

// A burst waits in the socket while the receiver is busy instead of being dropped.
constexpr int SOCKET_RECEIVE_BUFFER = 8 << 20;
// Large enough for any UDP payload, so nothing arrives truncated; the text is cut afterwards.
constexpr int DATAGRAM_BUFFER = 65536;
// An unexpected receive error is not retried at once, so a broken socket cannot spin the CPU.
constexpr DWORD RECEIVE_ERROR_PAUSE = 50;

const char NOTICE_PORT_BLOCKED[] = "无法监听 UDP 端口 6000，端口被占用，正在重试...";
const char NOTICE_PORT_OPEN[] = "已开始监听 UDP 端口 6000";
const char NOTICE_LOG_FAILING[] = "无法写入告警日志 myfile.txt，告警暂存于内存中";
const char NOTICE_LOG_RECOVERED[] = "告警日志 myfile.txt 已恢复写入";

} // namespace

CAlarmReceiver::CAlarmReceiver() : m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CAlarmReceiver::~CAlarmReceiver()
{
    ::CloseHandle(m_hStopEvent);
}

void CAlarmReceiver::Stop()
{
    m_bStopping = true;
    ::SetEvent(m_hStopEvent);
}

void CAlarmReceiver::Notify(const char* pszText, DWORD dwInfoFlags)
{
    if (!m_bStopping)
        ::SendMessageW(m_hWndNotify, WM_RECEIVER_NOTICE, dwInfoFlags, reinterpret_cast<LPARAM>(pszText));
}

SOCKET CAlarmReceiver::BindSocket()
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&SOCKET_RECEIVE_BUFFER),
                 sizeof(SOCKET_RECEIVE_BUFFER));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ALARM_PORT);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void CAlarmReceiver::CaptureLoop()
{
    WSAEVENT hReadable = ::WSACreateEvent();
    ::WSAEventSelect(m_socket, hReadable, FD_READ);
    const WSAEVENT events[2] = {hReadable, m_hStopEvent};
    std::string buffer(DATAGRAM_BUFFER, '\0');
    for (;;) {
        WSANETWORKEVENTS happened;
        ::WSAEnumNetworkEvents(m_socket, hReadable, &happened);
        // Drain everything waiting before sleeping again: in a storm this loop is all that runs.
        for (;;) {
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
        if (::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) != WSA_WAIT_EVENT_0)
            break;
    }
    ::WSACloseEvent(hReadable);
    // Only now may the processing side run dry: whatever was taken in gets recorded.
    m_queue.Stop();
}

void CAlarmReceiver::Process(CAlarmBatch& batch)
{
    // Every datagram is on disk before anything looks at its content.
    switch (AppendAlarmLog(batch.texts)) {
    case LogHealth::Failing:
        Notify(NOTICE_LOG_FAILING, NIIF_WARNING);
        break;
    case LogHealth::Recovered:
        Notify(NOTICE_LOG_RECOVERED, NIIF_INFO);
        break;
    case LogHealth::Unchanged:
        break;
    }
    batch.alarms.clear();
    for (std::size_t i = 0; i < batch.texts.size(); ++i) {
        CAlarmBatch::Alarm alarm{};
        alarm.nText = i;
        if (ParseAlarm(batch.texts[i], alarm.record))
            batch.alarms.push_back(alarm);
    }
    if (!batch.alarms.empty() && !m_bStopping)
        ::SendMessageW(m_hWndNotify, WM_ALARM_BATCH, 0, reinterpret_cast<LPARAM>(&batch));
    if (const std::size_t nDropped = m_queue.TakeDropped()) {
        const std::string notice = "告警过多，已丢弃 " + std::to_string(nDropped) + " 条数据报";
        Notify(notice.c_str(), NIIF_WARNING);
    }
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

    receiver.m_socket = receiver.BindSocket();
    const bool bBlocked = receiver.m_socket == INVALID_SOCKET;
    if (bBlocked)
        receiver.Notify(NOTICE_PORT_BLOCKED, NIIF_WARNING);
    // The history shows at once even while another program holds the port.
    LoadAlarmLog([&receiver] { return receiver.IsStopping(); });
    while (receiver.m_socket == INVALID_SOCKET &&
           ::WaitForSingleObject(receiver.m_hStopEvent, BIND_RETRY_MILLISECONDS) == WAIT_TIMEOUT)
        receiver.m_socket = receiver.BindSocket();
    if (bBlocked && receiver.m_socket != INVALID_SOCKET)
        receiver.Notify(NOTICE_PORT_OPEN, NIIF_INFO);

    if (receiver.m_socket != INVALID_SOCKET) {
        std::thread capture(&CAlarmReceiver::CaptureLoop, &receiver);
        receiver.m_bListening = true;
        CAlarmBatch batch;
        while (receiver.m_queue.TakeBatch(batch.texts, ALARM_BATCH_MAX))
            receiver.Process(batch);
        capture.join();
        receiver.m_bListening = false;
        ::closesocket(receiver.m_socket);
        receiver.m_socket = INVALID_SOCKET;
    }
    ::WSACleanup();
    return 0;
}
