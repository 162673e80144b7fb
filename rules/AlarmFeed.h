// What the log writer hands to the window: the rows both lists are still to show, kept apart
// from the lists themselves. The writer decides every cap in the file's order; the feed keeps
// only the rows since the last cap of each list, so it never holds more than a list can show,
// and the window, applying it in any number of passes, ends exactly as if every alarm had been
// listed one at a time. Plain C++: it builds natively for sanitizer runs.
#pragma once

#include "AlarmRules.h"
#include "Health.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// The columns of one list row.
using CAlarmRow = std::vector<std::string>;

// One alarm as the writer recorded it, with the caps it met on the way into the lists.
struct CFeedAlarm {
    AlarmRecord record;
    bool bCapsLog = false;
    bool bCapsMain = false;
};

// One piece of the feed for the window to apply, in the order of its members.
struct CFeedSlice {
    bool bClearLog = false;
    std::vector<CAlarmRow> logRows;  // each inserted at row 0 of the log page, oldest first
    std::vector<CAlarmRow> history;  // appended below the log page's rows, newest first
    bool bClearMain = false;
    std::vector<CAlarmRow> mainRows; // each inserted at row 0 of the alarm list, oldest first
    std::vector<CHealthChange> health; // in the order they happened, at most one per kind

    std::size_t RowCount() const { return logRows.size() + history.size() + mainRows.size(); }
};

class CAlarmFeed {
public:
    // The writer's side. Each returns true when the window is to be woken: the feed was idle.
    bool PublishHistory(std::vector<CAlarmRow> rowsNewestFirst);
    bool PublishAlarms(const std::vector<CFeedAlarm>& alarms);
    bool PublishLogCleared();
    // A condition's latest change replaces the one still waiting; events add up. A condition
    // published as it already stands is no news, so a finder publishes what it sees whenever it
    // looks.
    bool PublishHealth(const CHealthChange& change);
    // The wake-up could not be delivered: the next publication tries again.
    void WakeFailed();

    // The window's side: moves at most nMaxRows rows, shared between the lists, and every
    // change of health, into the slice.
    // Returns true when more is waiting; the window then comes back by itself.
    bool Take(CFeedSlice& slice, std::size_t nMaxRows);
    // From now on nothing is published and nobody is woken.
    void Close();
    // True when the window has applied everything published so far.
    bool IsIdle();

private:
    bool Wake();
    void ClearLog();

    std::mutex m_mutex;
    CFeedSlice m_pending;
    // What each condition was last published as: its text while set, empty while clear.
    std::array<std::string, HEALTH_KINDS> m_told;
    bool m_bAwake = false;
    bool m_bClosed = false;
};
