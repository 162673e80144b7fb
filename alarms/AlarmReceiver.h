// The receiver: takes every datagram from UDP port 6000, records it in the log file and hands
// the alarms to the main window. One thread drains the socket into a queue so that a burst is
// never lost while the other writes the file and waits for the window.
#pragma once

#include "AlarmRules.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// The datagrams taken in one go, in arrival order, and the alarms among them.
struct CAlarmBatch {
    struct Alarm {
        AlarmRecord record;
        std::size_t nText; // index of the alarm's datagram in texts
    };
    std::vector<std::string> texts;
    std::vector<Alarm> alarms;
};

// Sent to the main window with a CAlarmBatch in lParam; the window applies it in one pass.
constexpr UINT WM_ALARM_BATCH = WM_APP + 1;
// Sent to the main window with a code-page-936 text in lParam that the operator must read, and
// the balloon icon (NIIF_INFO or NIIF_WARNING) in wParam.
constexpr UINT WM_RECEIVER_NOTICE = WM_APP + 2;

// How long a port held by another program waits before the next try.
constexpr DWORD BIND_RETRY_MILLISECONDS = 3000;
// Datagrams applied to the window in one hand-off; more wait for the next one. Small enough
// that the window answers the operator between hand-offs even in a storm.
constexpr std::size_t ALARM_BATCH_MAX = 256;

class CAlarmReceiver {
public:
    CAlarmReceiver();
    CAlarmReceiver(const CAlarmReceiver&) = delete;
    CAlarmReceiver& operator=(const CAlarmReceiver&) = delete;
    ~CAlarmReceiver();

    void SetNotifyWindow(HWND hWnd) { m_hWndNotify = hWnd; }
    // Asks the receiver to end; from any thread. The thread still records what it has taken in.
    void Stop();
    bool IsStopping() const { return m_bStopping; }
    // True once the port is bound, the history loaded and datagrams are being taken in.
    bool IsListening() const { return m_bListening; }

private:
    friend DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);

    SOCKET BindSocket();
    void Notify(const char* pszText, DWORD dwInfoFlags);
    void CaptureLoop();
    void Process(CAlarmBatch& batch);

    HWND m_hWndNotify = nullptr;
    HANDLE m_hStopEvent;
    std::atomic<bool> m_bStopping{false};
    std::atomic<bool> m_bListening{false};
    SOCKET m_socket = INVALID_SOCKET;
    CDatagramQueue m_queue;
};

// The receiver's thread procedure; its parameter is the CAlarmReceiver.
DWORD WINAPI AlarmReceiverThread(LPVOID pReceiver);
