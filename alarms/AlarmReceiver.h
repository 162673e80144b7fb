// The receiver: takes every datagram from UDP port 6000, records it in the log file and feeds
// the alarms to the main window. One thread binds the port and drains the socket from the
// moment it is bound; the other loads the history, then writes the file at its own speed and
// serves the operator's deletes whatever the socket does, and never waits for the window,
// which takes what is fed to it when it can.
#pragma once

#include "AlarmFeed.h"
#include "AlarmLog.h"
#include "DatagramQueue.h"
#include "Handle.h"
#include "Messages.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// How long a port held by another program waits before the next try.
constexpr DWORD BIND_RETRY_MILLISECONDS = 3000;

class CAlarmReceiver {
public:
    CAlarmReceiver();
    CAlarmReceiver(const CAlarmReceiver&) = delete;
    CAlarmReceiver& operator=(const CAlarmReceiver&) = delete;

    void SetNotifyWindow(HWND hWnd) { m_hWndNotify = hWnd; }
    CAlarmFeed& Feed() { return m_feed; }
    // The operator's delete: the log goes after every datagram taken in so far.
    void RequestLogDeletion() { m_queue.PushDeleteRequest(); }
    // Asks the receiver to end; from any thread. What was taken in is still written, for a
    // bounded time.
    void Stop();
    // True once the port is bound and the history read, while datagrams are being taken in.
    bool IsListening() const { return m_bBound && m_bHistoryRead; }

private:
    friend DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);

    class CSocket;

    bool IsStopping() const { return m_nStopDeadline != 0; }
    // Pauses for this long at most; true when the stop was asked for meanwhile.
    bool StoppedWithin(DWORD dwMilliseconds) const
    {
        return ::WaitForSingleObject(m_hStopEvent, dwMilliseconds) != WAIT_TIMEOUT;
    }
    void Run();
    std::thread StartCapture();
    void CaptureThread();
    CSocket BindUntilBound();
    bool Receive(SOCKET s);
    void ReadHistory();
    void WriteUntilStopped();
    void Write(const CIntake& intake);
    void DeleteLog();
    void ReportHealth(LogHealth health);
    void Notify(const std::string& text, bool bWarning) noexcept;
    void Wake(bool bWake);

    HWND m_hWndNotify = nullptr;
    CHandle m_hStopEvent;
    // Zero until the stop: then the time by which what was taken in must be written.
    std::atomic<ULONGLONG> m_nStopDeadline{0};
    std::atomic<bool> m_bBound{false};
    std::atomic<bool> m_bHistoryRead{false};
    CDatagramQueue m_queue;
    CAlarmFeed m_feed;
    CAlarmLog m_log;
    // The rows each list holds once the feed is applied, counted in the file's order.
    int m_nLogRows = 0;
    int m_nMainRows = 0;
    bool m_bArchiveFailing = false;
};

// The receiver's thread procedure, the log writer's; its parameter is the CAlarmReceiver.
DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);
