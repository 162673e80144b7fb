// Hands datagram texts from the thread that drains the socket to the thread that writes the
// log, together with the operator's requests to delete the log, in the order they happened.
// Plain C++: it builds natively for sanitizer runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// What the writer takes in one go: texts in arrival order, then, when set, the log's deletion.
struct CIntake {
    std::vector<std::string> texts;
    bool bDeleteLog = false;
};

enum class TakeResult { Taken, TimedOut, Finished };

class CDatagramQueue {
public:
    explicit CDatagramQueue(std::size_t nMaxBytes = 256u << 20, std::size_t nMaxCount = 4u << 20);

    // Never waits for the consumer: when full, the text is dropped and counted.
    bool Push(std::string text);
    // The log is to be deleted after every text pushed so far. Never dropped.
    void PushDeleteRequest();

    // Waits up to the timeout until something is queued or Stop() was called, then replaces
    // the intake with at most nMax texts in arrival order, ending at the next delete request.
    // Finished once stopped and empty.
    TakeResult Take(CIntake& intake, std::size_t nMax, std::chrono::milliseconds timeout);

    // Wakes every waiter; texts pushed later are still queued and drained.
    void Stop();
    // Empties the queue. A delete request still in it is the operator's and stays to be carried
    // out (bDeleteLog); the texts before it would have gone with the file. Returns how many texts
    // came after the last request, or were queued at all when there is none.
    std::size_t Discard(bool& bDeleteLog);

    // Drops counted since the last call.
    std::size_t TakeDropped();

private:
    bool IsReady() const { return m_bStopped || !m_dqTexts.empty() || !m_dqDeleteAt.empty(); }

    const std::size_t m_nMaxBytes;
    const std::size_t m_nMaxCount;
    std::mutex m_mutex;
    std::condition_variable m_cvReady;
    std::deque<std::string> m_dqTexts;
    // Each request as the number of texts ever queued before it.
    std::deque<std::uint64_t> m_dqDeleteAt;
    std::uint64_t m_nQueuedEver = 0;
    std::uint64_t m_nTakenEver = 0;
    std::size_t m_nQueuedBytes = 0;
    std::size_t m_nDropped = 0;
    bool m_bStopped = false;
};
