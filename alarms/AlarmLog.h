// The alarm log file "myfile.txt" in the current directory: one line per datagram, appended
// only; archived beside itself when the log page's list is capped, deleted whole only by the
// operator. Used by the log writer's thread alone.
#pragma once

#include "AlarmFeed.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

constexpr wchar_t ALARM_LOG_FILE[] = L"myfile.txt";
// Lines kept in memory while the file cannot be written; beyond this the oldest are dropped and
// counted, and the log says so once it can be written again.
constexpr std::size_t ALARM_LOG_PENDING_MAX = 100000;

// How the file fared, so that the operator hears once when it stops and once when it starts
// taking lines again.
enum class LogHealth { Unchanged, Failing, Recovered };

// Why datagrams taken in never reached the file; each cause gets its own line in the log.
enum class LossCause { WriteFailed, Overflow, Closing };

// The log's archives in the current directory, oldest first.
std::vector<std::wstring> ListArchives();

class CAlarmLog {
public:
    // The newest rows of the file, as a read from its start would list them, newest first.
    std::vector<CAlarmRow> ReadTail(std::size_t nMaxRows) const;
    // Appends the lines of these texts, after any still waiting, with one open, write, flush
    // and close. Lines that cannot be written wait, in order; while the file fails it is tried
    // again at most once a second.
    LogHealth Append(const std::vector<std::string>& texts);
    // One last try for every line still waiting, however soon after the one before.
    void AppendLast();
    bool HasPending() const;
    // Datagrams taken in that will never reach the file; the log gets a line that says so.
    void CountLost(std::size_t nLost, LossCause cause);
    // From now on a file that another program holds is not waited for: the close has a bound.
    void SetStopping() { m_bStopping = true; }
    // Renames the file to a new archive beside it, then removes the oldest archives beyond
    // the bytes kept. Only when every line so far is in the file: false leaves the file to grow.
    bool Archive();
    // Deletes the file; the lines still waiting belonged to it and go with it. Returns the
    // error that kept the file, or ERROR_SUCCESS.
    DWORD Delete();

private:
    struct CLoss {
        std::size_t nLost = 0;
        SYSTEMTIME first{};
        SYSTEMTIME last{};
    };

    LogHealth Write(bool bForce);
    std::string LossLines() const;
    bool IsPatient() const { return !m_bFailing && !m_bStopping; }

    std::deque<std::string> m_dqPending;
    bool m_bFailing = false;
    bool m_bStopping = false;
    ULONGLONG m_nLastTry = 0;
    std::array<CLoss, 3> m_losses{};
};
