// The receiver: takes every datagram from UDP port 6000, records it in the log file and feeds
// the alarms to the main window. One thread drains the socket from the moment it is bound;
// the other loads the history, then writes the file at its own speed and never waits for the
// window, which takes what is fed to it when it can.
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
    // True once the port is bound, the history read and datagrams are being taken in.
    bool IsListening() const { return m_bListening; }

private:
    friend DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);

    void Run();
    SOCKET BindSocket(int& nError);
    void CaptureLoop();
    void Capture();
    void WriteUntilStopped();
    void Write(const CIntake& intake);
    void ReportHealth(LogHealth health);
    void Notify(const std::string& text, bool bWarning);
    void Wake(bool bWake);

    HWND m_hWndNotify = nullptr;
    CHandle m_hStopEvent;
    std::atomic<bool> m_bStopping{false};
    std::atomic<bool> m_bListening{false};
    std::atomic<ULONGLONG> m_nStopDeadline{0};
    SOCKET m_socket = INVALID_SOCKET;
    CDatagramQueue m_queue;
    CAlarmFeed m_feed;
    CAlarmLog m_log;
    // The rows each list holds once the feed is applied, counted in the file's order.
    int m_nLogRows = 0;
    int m_nMainRows = 0;
    bool m_bArchiveFailing = false;
};

// The receiver's thread procedure; its parameter is the CAlarmReceiver.
DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);
