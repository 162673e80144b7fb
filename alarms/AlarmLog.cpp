#include "AlarmLog.h"

#include "AlarmRules.h"
#include "LogTail.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// A program that holds the file open without sharing it (rare: viewers, backup and indexing
// share it) gets this long to let go before the lines wait in memory.
constexpr DWORD OPEN_RETRY_MILLISECONDS = 500;
constexpr DWORD OPEN_RETRY_STEP = 25;
// Editors, viewers, backup, indexing and virus scanners keep the file open; sharing read,
// write and delete as the C runtime's fopen does lets every append and archive go on meanwhile.
constexpr DWORD LOG_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenForAppend()
{
    return ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ | GENERIC_WRITE, LOG_SHARING, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
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

// A rename or delete that another program's open handle refuses (one that does not share
// deletion, as the C runtime's fopen does not) is tried again for as long as an open is.
template <typename TAttempt> bool RetryWhileHeld(TAttempt attempt)
{
    for (DWORD waited = 0;; waited += OPEN_RETRY_STEP) {
        if (attempt())
            return true;
        const DWORD dwError = ::GetLastError();
        if ((dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_ACCESS_DENIED) || waited >= OPEN_RETRY_MILLISECONDS)
            return false;
        ::Sleep(OPEN_RETRY_STEP);
    }
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

std::string FormatTime(const SYSTEMTIME& time, const char* pszFormat)
{
    char text[32];
    std::snprintf(text, sizeof(text), pszFormat, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                  time.wSecond);
    return text;
}

// The line that stands in the log for datagrams that never reached it.
std::string LossLine(std::size_t nLost, const SYSTEMTIME& first, const SYSTEMTIME& last)
{
    const char* pszFormat = "%04u-%02u-%02u %02u:%02u:%02u";
    return LogLine("告警日志曾无法写入，丢失 " + std::to_string(nLost) + " 条数据报（" + FormatTime(first, pszFormat) +
                   " 至 " + FormatTime(last, pszFormat) + "）");
}

// Removes the oldest archives beyond the number kept.
void PruneArchives()
{
    const std::vector<std::wstring> archives = ListArchives();
    for (std::size_t i = 0; i + ALARM_LOG_ARCHIVES_KEPT < archives.size(); ++i)
        ::DeleteFileW(archives[i].c_str());
}

} // namespace

std::vector<std::wstring> ListArchives()
{
    std::vector<std::pair<std::string, std::wstring>> archives;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW(L"myfile-*.txt", &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = ::FindNextFileW(hFind, &found)) {
        std::string key;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ArchiveOrderKey(Narrow(found.cFileName), key))
            archives.emplace_back(key, found.cFileName);
    }
    if (hFind != INVALID_HANDLE_VALUE)
        ::FindClose(hFind);
    std::sort(archives.begin(), archives.end());
    std::vector<std::wstring> names;
    for (const auto& archive : archives)
        names.push_back(archive.second);
    return names;
}

std::vector<CAlarmRow> CAlarmLog::ReadTail(std::size_t nMaxRows) const
{
    HANDLE hFile = ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, LOG_SHARING, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return {};
    LARGE_INTEGER size{};
    std::vector<CAlarmRow> rows;
    if (::GetFileSizeEx(hFile, &size)) {
        const LogByteReader readAt = [hFile](std::uint64_t offset, std::size_t count, char* out) {
            LARGE_INTEGER position;
            position.QuadPart = static_cast<LONGLONG>(offset);
            DWORD read = 0;
            return ::SetFilePointerEx(hFile, position, nullptr, FILE_BEGIN) &&
                   ::ReadFile(hFile, out, static_cast<DWORD>(count), &read, nullptr) && read == count;
        };
        rows = ReadLogTail(static_cast<std::uint64_t>(size.QuadPart), readAt, nMaxRows);
    }
    ::CloseHandle(hFile);
    return rows;
}

void CAlarmLog::CountLost(std::size_t nLost)
{
    if (nLost == 0)
        return;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    if (m_nLost == 0)
        m_firstLoss = now;
    m_lastLoss = now;
    m_nLost += nLost;
}

LogHealth CAlarmLog::Append(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        m_dqPending.push_back(LogLine(text));
    if (m_dqPending.size() > ALARM_LOG_PENDING_MAX) {
        const std::size_t nDropped = m_dqPending.size() - ALARM_LOG_PENDING_MAX;
        m_dqPending.erase(m_dqPending.begin(), m_dqPending.begin() + static_cast<std::ptrdiff_t>(nDropped));
        CountLost(nDropped);
    }
    if (!HasPending())
        return LogHealth::Unchanged;

    // The oldest lines were the ones dropped, so the line that counts them goes first.
    std::string bytes = m_nLost > 0 ? LossLine(m_nLost, m_firstLoss, m_lastLoss) : std::string();
    for (const std::string& line : m_dqPending)
        bytes += line;
    // Once the file is known to fail, each try is a single one: the queue must not wait on it.
    HANDLE hFile = OpenWithRetry(!m_bFailing);
    const bool ok = hFile != INVALID_HANDLE_VALUE && WriteDurably(hFile, bytes);
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    if (!ok)
        return std::exchange(m_bFailing, true) ? LogHealth::Unchanged : LogHealth::Failing;
    m_dqPending.clear();
    m_nLost = 0;
    return std::exchange(m_bFailing, false) ? LogHealth::Recovered : LogHealth::Unchanged;
}

bool CAlarmLog::Archive()
{
    if (HasPending())
        return false;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const std::string stamp = FormatTime(now, "%04u%02u%02u-%02u%02u%02u");
    for (unsigned n = 1;; ++n) {
        const std::wstring archive = Widen(ArchiveName(stamp, n));
        if (RetryWhileHeld([&archive] { return ::MoveFileW(ALARM_LOG_FILE, archive.c_str()); }))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    PruneArchives();
    return true;
}

bool CAlarmLog::Delete()
{
    if (!RetryWhileHeld([] { return ::DeleteFileW(ALARM_LOG_FILE); }) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    m_dqPending.clear();
    return true;
}
