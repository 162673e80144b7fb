// Watches the log from outside the writer, as another program reading it would, and notes when
// each line of a phase first showed in it.
#pragma once

#include "BenchSupport.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A line not on disk this long after the sending ended, or the last alarm was listed, never
// will be.
constexpr DWORD ON_DISK_WAIT_MILLISECONDS = 10000;

class CDiskWatcher {
public:
    // From the log's start, or from its end as it is now, for a log too long to read at once.
    CDiskWatcher(char chPhase, int nCount, bool bFromEnd = false);
    CDiskWatcher(const CDiskWatcher&) = delete;
    CDiskWatcher& operator=(const CDiskWatcher&) = delete;
    ~CDiskWatcher();

    // Waits until every line of the phase was seen or the time is up; true when all were.
    bool WaitForAll(DWORD dwMilliseconds);
    // Seconds from each seen line's send until it was seen on disk, in sequence order.
    std::vector<double> Delays();
    // Seconds from the send of this line until it was seen, or -1 when it never was.
    double DelayOf(int nSeq);
    int Seen();
    // The longest the reader went without looking, so that a delay it measured can be told
    // from a delay of its own.
    double LongestPauseSeconds();

private:
    void Run();
    // Reads what was added to the open file; false when nothing was.
    bool ReadMore();
    // Opens the file the log's name stands for now, when the open one is no longer it.
    void FollowName();
    void TakeLines();

    const char m_chPhase;
    std::mutex m_mutex;
    std::vector<LONGLONG> m_vecSentAt;
    std::vector<LONGLONG> m_vecSeenAt;
    int m_nSeen = 0;
    LONGLONG m_llLongestPause = 0;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    ULONGLONG m_ullOffset = 0;
    std::string m_strPending;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
