// The alarm log file "myfile.txt" in the current directory: one line per datagram, appended
// only; archived beside itself when the log page's list is capped, deleted whole only by the
// operator. Used by the log writer's thread alone.
#pragma once

#include "AlarmFeed.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

constexpr wchar_t ALARM_LOG_FILE[] = L"myfile.txt";
// Lines kept in memory while the file cannot be written; beyond this the oldest are dropped and
// counted, and the log says so once it can be written again.
constexpr std::size_t ALARM_LOG_PENDING_MAX = 100000;
// Archives kept beside the log; older ones are removed, so a flood cannot fill the disk.
constexpr std::size_t ALARM_LOG_ARCHIVES_KEPT = 100;

// How the file fared, so that the operator hears once when it stops and once when it starts
// taking lines again.
enum class LogHealth { Unchanged, Failing, Recovered };

// The log's archives in the current directory, oldest first.
std::vector<std::wstring> ListArchives();

class CAlarmLog {
public:
    // The newest rows of the file, as a read from its start would list them, newest first.
    std::vector<CAlarmRow> ReadTail(std::size_t nMaxRows) const;
    // Appends the lines of these texts, after any still waiting, with one open, write, flush
    // and close. Lines that cannot be written wait, in order.
    LogHealth Append(const std::vector<std::string>& texts);
    bool HasPending() const { return !m_dqPending.empty() || m_nLost > 0; }
    // Datagrams taken in that will never reach the file; the log gets a line that says so.
    void CountLost(std::size_t nLost);
    // Renames the file to a new archive beside it, then removes the oldest archives beyond
    // the limit. Only when every line so far is in the file: false leaves the file to grow.
    bool Archive();
    // Deletes the file; the lines still waiting belonged to it and go with it. False when the
    // file stays.
    bool Delete();

private:
    std::deque<std::string> m_dqPending;
    bool m_bFailing = false;
    std::size_t m_nLost = 0;
    SYSTEMTIME m_firstLoss{};
    SYSTEMTIME m_lastLoss{};
};
