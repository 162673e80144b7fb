// The receiver: takes every datagram from UDP port 6000, records it in the log file and feeds
// the alarms to the main window. One thread binds the port on every local address, IPv4 and
// IPv6, and drains the sockets from the moment they are bound; the other loads the history, then
// writes the file at its own speed and serves the operator's deletes whatever the sockets do, and
// never waits for the window, which takes what is fed to it when it can. Whatever stops alarms
// from being received or logged is fed to the window as a change of its health.
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
    // True once the port is bound on every local address and the history read, while datagrams
    // are being taken in.
    bool IsListening() const { return m_bBound && m_bHistoryRead; }
    // How long the writer's file call under way has run, 0 while none does; for a watchdog that
    // must not wait for the writer.
    ULONGLONG FileCallRunningFor(ULONGLONG nNow) const
    {
        const ULONGLONG nSince = m_log.FileCallSince();
        return nSince && nNow > nSince ? nNow - nSince : 0;
    }

private:
    friend DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);

    struct CListener;
    enum class Waited { Stopped, Readable, Rebind, Failed };

    // A thread that failed starts again after this pause, so a fault that persists cannot spin.
    static constexpr DWORD FAULT_PAUSE = 1000;

    // The disk gets the CPU before the window: a storm's lines reach the file while the window
    // is busy listing. Above normal is the documented means for threads that must not wait
    // behind the process's others; nothing these threads do spins.
    static void RaisePriority() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }
    bool IsStopping() const { return m_nStopDeadline != 0; }
    // Pauses for this long at most; true when the stop was asked for meanwhile.
    bool StoppedWithin(DWORD dwMilliseconds) const
    {
        return ::WaitForSingleObject(m_hStopEvent, dwMilliseconds) != WAIT_TIMEOUT;
    }
    void Run();
    std::thread StartCapture();
    void CaptureThread();
    void BindMissing(CListener& listener);
    Waited WaitForDatagrams(CListener& listener);
    void Drain(CListener& listener, std::string& buffer);
    void ReadHistory();
    void WriteUntilStopped();
    void Write(const CIntake& intake);
    void ArchiveLog();
    void DeleteLog();
    void ReportLog();
    void Publish(const CHealthChange& change) noexcept;
    void Publish(HealthKind kind, bool bSet, const CHealthDetail& detail = {}) noexcept
    {
        Publish(CHealthChange{kind, bSet, detail});
    }
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
