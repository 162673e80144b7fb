#include "AlarmLog.h"

#include "AlarmRules.h"
#include "LogPageDlg.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

namespace {

// A program that holds the file open for a moment (an editor, a virus scanner) gets this long
// to let go before a line is kept back.
constexpr DWORD OPEN_RETRY_MILLISECONDS = 500;
constexpr DWORD OPEN_RETRY_STEP = 25;
// Rows go to the log page in blocks, one cross-thread message each, small enough that the
// window never stops answering for long.
constexpr std::size_t LOAD_BLOCK_ROWS = 500;

std::mutex g_logMutex;
std::deque<std::string> g_dqPendingLines;
bool g_bFailing = false;

HANDLE OpenForAppend()
{
    // No sharing: nobody else opens or deletes the file while a line is half written.
    return ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

HANDLE OpenWithRetry(bool bRetry)
{
    HANDLE hFile = OpenForAppend();
    for (DWORD waited = 0; hFile == INVALID_HANDLE_VALUE && bRetry && waited < OPEN_RETRY_MILLISECONDS;
         waited += OPEN_RETRY_STEP) {
        ::Sleep(OPEN_RETRY_STEP);
        hFile = OpenForAppend();
    }
    return hFile;
}

// Writes the bytes at the end of the file and makes them durable; on failure the file is cut
// back to where it was, so a line is never left half written.
bool WriteDurably(HANDLE hFile, const std::string& bytes)
{
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(hFile, LARGE_INTEGER{}, &end, FILE_END))
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && ::FlushFileBuffers(hFile);
    if (!ok) {
        ::SetFilePointerEx(hFile, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(hFile);
    }
    return ok;
}

void KeepPending(std::deque<std::string>&& lines)
{
    for (std::string& line : lines)
        g_dqPendingLines.push_back(std::move(line));
    while (g_dqPendingLines.size() > ALARM_LOG_PENDING_MAX)
        g_dqPendingLines.pop_front();
}

// Called with the lock held.
LogHealth AppendLocked(const std::vector<std::string>& texts)
{
    std::deque<std::string> lines;
    lines.swap(g_dqPendingLines);
    for (const std::string& text : texts)
        lines.push_back(LogLine(text));
    if (lines.empty())
        return LogHealth::Unchanged;

    std::string bytes;
    for (const std::string& line : lines)
        bytes += line;
    // Once the file is known to fail, each batch tries once: a storm must not wait on it.
    HANDLE hFile = OpenWithRetry(!g_bFailing);
    const bool ok = hFile != INVALID_HANDLE_VALUE && WriteDurably(hFile, bytes);
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);

    if (!ok) {
        KeepPending(std::move(lines));
        return std::exchange(g_bFailing, true) ? LogHealth::Unchanged : LogHealth::Failing;
    }
    return std::exchange(g_bFailing, false) ? LogHealth::Recovered : LogHealth::Unchanged;
}

void DeleteLocked()
{
    g_dqPendingLines.clear();
    ::DeleteFileW(ALARM_LOG_FILE);
}

std::string ReadWholeFile()
{
    std::string bytes;
    HANDLE hFile = ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[64 * 1024];
    DWORD read = 0;
    while (::ReadFile(hFile, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    ::CloseHandle(hFile);
    return bytes;
}

} // namespace

LogHealth AppendAlarmLog(const std::vector<std::string>& texts)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return AppendLocked(texts);
}

void DeleteAlarmLog()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    DeleteLocked();
}

void ReplaceAlarmLog(const std::vector<std::string>& texts)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    DeleteLocked();
    AppendLocked(texts);
}

std::vector<std::vector<std::string>> ReadAlarmLogRows()
{
    std::string bytes;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        bytes = ReadWholeFile();
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> columns;
    for (const std::string& piece : SplitLogPieces(bytes)) {
        if (ParseLogPiece(piece, columns))
            rows.push_back(std::move(columns));
    }
    return rows;
}

void LoadAlarmLog(const std::function<bool()>& stopRequested)
{
    if (!g_pLogPage)
        return;
    std::vector<std::vector<std::string>> rows = ReadAlarmLogRows();
    // The list shows no more than its cap: the next alarm would empty a fuller list anyway, and
    // a long history would take minutes to list. The file itself keeps every line.
    if (rows.size() > static_cast<std::size_t>(ALARM_LIST_CAP))
        rows.erase(rows.begin(), rows.end() - ALARM_LIST_CAP);
    // The page appends each block below the rows it has, so the blocks go newest first.
    std::reverse(rows.begin(), rows.end());
    for (std::size_t first = 0; first < rows.size() && !stopRequested(); first += LOAD_BLOCK_ROWS) {
        const std::size_t last = std::min(rows.size(), first + LOAD_BLOCK_ROWS);
        const CLogRows block{&rows[first], last - first};
        ::SendMessageW(g_pLogPage->GetSafeHwnd(), WM_LOG_ROWS, 0, reinterpret_cast<LPARAM>(&block));
    }
}
