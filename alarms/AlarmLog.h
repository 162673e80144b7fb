// The alarm log file "myfile.txt" in the current directory: one line per datagram, appended
// only, deleted whole. Appends and deletions are serialised inside the program.
#pragma once

#include <functional>
#include <string>
#include <vector>

constexpr wchar_t ALARM_LOG_FILE[] = L"myfile.txt";
// Lines kept in memory while the file cannot be written; older ones go first when it overflows.
constexpr std::size_t ALARM_LOG_PENDING_MAX = 100000;

// How the file fared with an append, so that the operator hears once when it stops and once
// when it starts taking lines again.
enum class LogHealth { Unchanged, Failing, Recovered };

// Appends the lines of these datagram texts with one open, write, flush and close. Lines that
// cannot be written are kept, in order, and written first at the next successful append.
LogHealth AppendAlarmLog(const std::vector<std::string>& texts);
// Deletes the file, and with it any lines still waiting to be written.
void DeleteAlarmLog();
// Deletes the file and starts a new one with these lines.
void ReplaceAlarmLog(const std::vector<std::string>& texts);
// The columns of every line kept when the file is read back, oldest first.
std::vector<std::vector<std::string>> ReadAlarmLogRows();
// Fills the log page list from the file, newest row on top; stops early when asked to.
void LoadAlarmLog(const std::function<bool()>& stopRequested);
