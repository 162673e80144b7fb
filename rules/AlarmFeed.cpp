#include "AlarmFeed.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

CAlarmRow RowOf(const AlarmRecord& record)
{
    return {record.szApName, record.szLogTime, record.szAlarmType, record.szAlarmContent};
}

// Moves at most nMax elements from the front of from to the back of to.
template <typename T> void MoveFront(std::vector<T>& from, std::vector<T>& to, std::size_t nMax)
{
    const auto count = static_cast<std::ptrdiff_t>(std::min(nMax, from.size()));
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.begin() + count));
    from.erase(from.begin(), from.begin() + count);
}

} // namespace

bool CAlarmFeed::Wake()
{
    if (m_bAwake)
        return false;
    m_bAwake = true;
    return true;
}

void CAlarmFeed::ClearLog()
{
    m_pending.bClearLog = true;
    m_pending.logRows.clear();
    m_pending.history.clear();
}

bool CAlarmFeed::PublishHistory(std::vector<CAlarmRow> rowsNewestFirst)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed || rowsNewestFirst.empty())
        return false;
    m_pending.history = std::move(rowsNewestFirst);
    return Wake();
}

bool CAlarmFeed::PublishAlarms(const std::vector<CFeedAlarm>& alarms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed || alarms.empty())
        return false;
    for (const CFeedAlarm& alarm : alarms) {
        // A cap empties the list: the rows waiting for it would go with it.
        if (alarm.bCapsLog)
            ClearLog();
        m_pending.logRows.push_back(RowOf(alarm.record));
        if (alarm.bCapsMain) {
            m_pending.bClearMain = true;
            m_pending.mainRows.clear();
        }
        m_pending.mainRows.push_back(RowOf(alarm.record));
    }
    return Wake();
}

bool CAlarmFeed::PublishLogCleared()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed)
        return false;
    ClearLog();
    return Wake();
}

bool CAlarmFeed::PublishHealth(const CHealthChange& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed)
        return false;
    if (!IsHealthEvent(change.kind)) {
        std::string told = change.bSet ? HealthText(change.kind, change.detail) : std::string();
        std::string& last = m_told[static_cast<std::size_t>(change.kind)];
        if (told == last)
            return false;
        last = std::move(told);
    }
    // One waiting change per kind keeps the feed bounded without losing any: the window only
    // ever needs a condition's latest state and an event's total.
    std::vector<CHealthChange>& health = m_pending.health;
    const auto same = std::find_if(health.begin(), health.end(),
                                   [&change](const CHealthChange& waiting) { return waiting.kind == change.kind; });
    if (same == health.end()) {
        health.push_back(change);
    } else {
        const std::uint64_t nEarlier = same->detail.nCount;
        *same = change;
        if (IsHealthEvent(change.kind))
            same->detail.nCount += nEarlier;
    }
    return Wake();
}

void CAlarmFeed::WakeFailed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAwake = false;
}

bool CAlarmFeed::Take(CFeedSlice& slice, std::size_t nMaxRows)
{
    slice = CFeedSlice();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed)
        return false;
    slice.bClearLog = std::exchange(m_pending.bClearLog, false);
    slice.bClearMain = std::exchange(m_pending.bClearMain, false);
    // The lists share the slice: a flood of log rows must not hold up the alarm list and its
    // balloon, nor the other way round. Each list's rows stay in their order, and the lists
    // are independent of each other.
    const std::size_t nLogWaiting = m_pending.logRows.size() + m_pending.history.size();
    const std::size_t nMain = std::min(m_pending.mainRows.size(), nMaxRows - std::min(nLogWaiting, nMaxRows / 2));
    MoveFront(m_pending.mainRows, slice.mainRows, nMain);
    MoveFront(m_pending.logRows, slice.logRows, nMaxRows - slice.RowCount());
    MoveFront(m_pending.history, slice.history, nMaxRows - slice.RowCount());
    slice.health = std::move(m_pending.health);
    m_pending.health.clear();
    m_bAwake = m_pending.RowCount() > 0;
    return m_bAwake;
}

void CAlarmFeed::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
    m_pending = CFeedSlice();
}

bool CAlarmFeed::IsIdle()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_bAwake;
}
