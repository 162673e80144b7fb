// The real main window in the benchmark's thread, with its real receiver on UDP 6000 and its log
// in the current directory, and how what it recorded is counted afterwards.
#pragma once

#include "BenchSupport.h"
#include "MonitorDlg.h"

#include <memory>
#include <vector>

// How long a window may take before its receiver listens and its history is listed.
constexpr DWORD LIVE_READY_MILLISECONDS = 60000;

class CLiveWendle {
public:
    CLiveWendle();
    CLiveWendle(const CLiveWendle&) = delete;
    CLiveWendle& operator=(const CLiveWendle&) = delete;
    // Closes the window; its receiver writes what it took in before it ends.
    ~CLiveWendle();

    CListCtrl& MainList() { return m_pDlg->m_alarmList; }
    // The receiver's log writer.
    HANDLE WriterThread() const { return m_pDlg->m_hReceiverThread; }
    CListCtrl& LogList();
    // The receiver took the port, not another program, and the history it read is listed.
    bool IsReady();

    // Pumps until the newest alarm shows as row 0 of the main list, or, after the last send,
    // nothing has changed for a while with nothing waiting for the window (a lost last alarm
    // never shows). Returns when it showed, or 0.
    LONGLONG Drain(const CSender& sender, char chPhase, int nLastSeq);
    // The longest the window went without serving a message during the last Drain.
    double LongestBusySeconds() const { return m_dLongestBusy; }

private:
    std::unique_ptr<CMonitorDlg> m_pDlg;
    double m_dLongestBusy = 0;
};

// True while some socket is bound to UDP 6000, found from the system's table of endpoints, so
// that looking never takes the port from the receiver.
bool AlarmPortBound();

// Waits for the port, starts Wendle and waits until its receiver listens with an empty history.
// Null when the port never came free.
std::unique_ptr<CLiveWendle> StartLiveWendle();

// What a record of alarms holds and what it missed.
struct CRecordCount {
    int nHeld = 0;
    int nLost = 0;
    int nDisordered = 0;
};

// A list of a fresh window: both lists start afresh at every ALARM_LIST_CAP-th alarm by design,
// so what the list once held is worked out from where the last cap fell.
CRecordCount CountList(const std::vector<int>& vecSeqs, int nSent);
std::vector<int> ListSeqs(const CListCtrl& list, char chPhase);

// The log and its archives hold every line between them, in the order of the file names.
CRecordCount CountOnDisk(const std::vector<int>& vecSeqs, int nSent);
std::vector<int> SeqsOnDisk(char chPhase);
