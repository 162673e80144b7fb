// The alarm log file "myfile.txt" in the current directory: one line per datagram, appended
// only; archived beside itself when the log page's list is capped or the file has grown to its
// bound, deleted whole only by the operator. Used by the log writer's thread alone, apart from
// the watchdog's look at the file call under way.
#pragma once

#include "AlarmFeed.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

constexpr wchar_t ALARM_LOG_FILE[] = L"myfile.txt";
// What a close could not write, beside the log: a name the archives' rules leave alone and a
// shipper's "myfile*.txt" takes in. The next start moves it into the log ahead of its own lines.
constexpr wchar_t ALARM_LOG_UNSAVED_FILE[] = L"myfile-unsaved.txt";
// There while a run may still write, holding when it started: found at the next start, it tells
// of a run that ended before its last write (let go at the close's bound, or a crash).
constexpr wchar_t RUN_MARKER_FILE[] = L"myfile.running";
// Lines kept in memory while the file cannot be written; beyond this the oldest are dropped and
// counted, and the log says so once it can be written again.
constexpr std::size_t ALARM_LOG_PENDING_MAX = 100000;
// The log is archived at this size too, whatever its lines hold, so that the archives' bound
// holds for every byte a sender sends.
constexpr std::uint64_t ALARM_LOG_ARCHIVE_BYTES = std::uint64_t{16} << 20;

// How the file fared, so that the operator hears once when it stops and once when it starts
// taking lines again.
enum class LogHealth { Unchanged, Failing, Recovered };

// Why datagrams taken in never reached the file; each cause gets its own line in the log.
enum class LossCause { WriteFailed, Overflow, Closing };

// Deferred: lines still wait for the file, so an archive would leave them out of it.
enum class ArchiveResult { Archived, Deferred, Failed };

// The log's archives in the current directory, oldest first.
std::vector<std::wstring> ListArchives();

class CAlarmLog {
public:
    // Waits for a file another program holds end early once hStop is set (may be null).
    explicit CAlarmLog(HANDLE hStop = nullptr) : m_hStop(hStop) {}

    // A run begins: what an earlier close could not write waits first, then a line for an
    // earlier run that ended before its last write.
    void BeginRun();
    // The run ends, after the last write: what still waits goes to the unsaved file, and only
    // once nothing taken in is in memory alone does the run count as finished.
    void EndRun();

    // The newest rows of the file, as a read from its start would list them, newest first.
    std::vector<CAlarmRow> ReadTail(std::size_t nMaxRows);
    // Why the last ReadTail found fewer rows than the file holds, or ERROR_SUCCESS.
    DWORD ReadError() const { return m_dwReadError; }
    // Appends the lines of these texts, after any still waiting, with one open, write, flush
    // and close. Lines that cannot be written wait, in order; while the file fails it is tried
    // again at most once a second.
    LogHealth Append(const std::vector<std::string>& texts);
    // One last try for every line still waiting, however soon after the one before.
    void AppendLast();
    bool HasPending() const;
    // While the file fails: why, how many lines wait for it and how many were dropped.
    bool IsFailing() const { return m_bFailing; }
    DWORD WriteError() const { return m_dwWriteError; }
    std::size_t PendingLines() const { return m_dqPending.size(); }
    std::uint64_t DroppedLines() const { return m_nDropped; }
    // Datagrams taken in that will never reach the file; the log gets a line that says so.
    void CountLost(std::size_t nLost, LossCause cause);
    // From now on a file that another program holds is not waited for: the close has a bound.
    void SetStopping() { m_bStopping = true; }
    // True when the file has reached its bound and an archive is worth trying now.
    bool IsDueForArchive() const;
    // Renames the file to a new archive beside it, then removes the oldest archives beyond
    // the bytes kept. Only when every line so far is in the file.
    ArchiveResult Archive();
    // Why the last archive failed.
    DWORD ArchiveError() const { return m_dwArchiveError; }
    // Deletes the file; the lines still waiting belonged to it and go with it. Returns the
    // error that kept the file, or ERROR_SUCCESS.
    DWORD Delete();

    // When the file call under way began (GetTickCount64), 0 while none runs; for a watchdog
    // on another thread.
    ULONGLONG FileCallSince() const { return m_nCallSince; }

private:
    struct CLoss {
        std::size_t nLost = 0;
        SYSTEMTIME first{};
        SYSTEMTIME last{};
    };
    // Marks the file call under way for as long as it lives.
    class CFileCall {
    public:
        explicit CFileCall(std::atomic<ULONGLONG>& nSince) : m_nSince(nSince) { m_nSince = ::GetTickCount64(); }
        CFileCall(const CFileCall&) = delete;
        CFileCall& operator=(const CFileCall&) = delete;
        ~CFileCall() { m_nSince = 0; }

    private:
        std::atomic<ULONGLONG>& m_nSince;
    };

    LogHealth Write(bool bForce);
    std::string LossLines() const;
    // What waits for the file, in the order it goes there.
    std::string WaitingBytes() const;
    bool IsPatient() const { return !m_bFailing && !m_bStopping; }
    bool SaveUnsaved();
    void RecoverUnsaved();
    void ForgetUnsaved();

    HANDLE m_hStop;
    std::deque<std::string> m_dqPending;
    bool m_bFailing = false;
    bool m_bStopping = false;
    // The unsaved file's lines are among those waiting, until they are written.
    bool m_bUnsavedFile = false;
    DWORD m_dwWriteError = ERROR_SUCCESS;
    DWORD m_dwReadError = ERROR_SUCCESS;
    DWORD m_dwArchiveError = ERROR_SUCCESS;
    ULONGLONG m_nLastTry = 0;
    // The file's size after the last write; 0 until then, and after an archive or a delete.
    std::uint64_t m_nBytes = 0;
    ULONGLONG m_nArchiveRetryAt = 0;
    std::array<CLoss, 3> m_losses{};
    // Lines dropped beyond the bound since the file last took them.
    std::uint64_t m_nDropped = 0;
    std::atomic<ULONGLONG> m_nCallSince{0};
};
