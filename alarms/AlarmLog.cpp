#include "AlarmLog.h"

#include "AlarmRules.h"
#include "Handle.h"
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
// While the file fails it is tried this often, however many datagrams arrive meanwhile.
constexpr ULONGLONG FAILING_RETRY_MILLISECONDS = 1000;
// Editors, viewers, backup, indexing and virus scanners keep the file open; sharing read,
// write and delete lets every append, archive and delete go on meanwhile. (The C runtime's
// fopen shares only reading and writing: a reader that opens the file with it holds up a
// rename or delete for as long as it has the file open.)
constexpr DWORD LOG_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file handle, or an empty owner when the file cannot be opened.
CHandle OpenForAppend()
{
    HANDLE hFile = ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ | GENERIC_WRITE, LOG_SHARING, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    return CHandle(hFile == INVALID_HANDLE_VALUE ? nullptr : hFile);
}

CHandle OpenWithRetry(bool bRetry)
{
    CHandle hFile = OpenForAppend();
    for (DWORD waited = 0; !hFile && bRetry && waited < OPEN_RETRY_MILLISECONDS; waited += OPEN_RETRY_STEP) {
        ::Sleep(OPEN_RETRY_STEP);
        hFile = OpenForAppend();
    }
    return hFile;
}

// A rename or delete that another program's open handle refuses (one that does not share
// deletion) is tried again for as long as an open is, unless the close is under way.
template <typename TAttempt> bool RetryWhileHeld(bool bRetry, TAttempt attempt)
{
    for (DWORD waited = 0;; waited += OPEN_RETRY_STEP) {
        if (attempt())
            return true;
        const DWORD dwError = ::GetLastError();
        if ((dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_ACCESS_DENIED) || !bRetry ||
            waited >= OPEN_RETRY_MILLISECONDS)
            return false;
        ::Sleep(OPEN_RETRY_STEP);
    }
}

bool WriteAll(HANDLE hFile, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// True when the file is empty or its last byte ends a line.
bool EndsWithLine(HANDLE hFile, const LARGE_INTEGER& end, bool& bEnds)
{
    bEnds = end.QuadPart == 0;
    if (bEnds)
        return true;
    LARGE_INTEGER last;
    last.QuadPart = end.QuadPart - 1;
    char chLast = 0;
    DWORD read = 0;
    if (!::SetFilePointerEx(hFile, last, nullptr, FILE_BEGIN) || !::ReadFile(hFile, &chLast, 1, &read, nullptr) ||
        read != 1)
        return false;
    bEnds = chLast == '\n';
    return true;
}

// Writes the bytes at the end of the file and makes them durable. A last line left without its
// line break (an editor, a copy, a power cut) gets one first, so that no datagram is glued onto
// it. On failure the file is cut back to where it was, so a line is never left half written.
bool WriteDurably(HANDLE hFile, const std::string& bytes)
{
    LARGE_INTEGER end{};
    bool bEndsWithLine = false;
    if (!::SetFilePointerEx(hFile, LARGE_INTEGER{}, &end, FILE_END) || !EndsWithLine(hFile, end, bEndsWithLine) ||
        !::SetFilePointerEx(hFile, end, nullptr, FILE_BEGIN))
        return false;
    const bool ok = (bEndsWithLine || WriteAll(hFile, "\r\n")) && WriteAll(hFile, bytes) && ::FlushFileBuffers(hFile);
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

// What each line that stands in the log for lost datagrams says first, by cause.
constexpr const char* LOSS_TEXTS[] = {"告警日志曾无法写入", "告警过多，接收队列已满", "程序关闭时未及写入"};

// The archives beside the log with their sizes, in no order.
std::vector<CArchiveFile> FindArchives()
{
    std::vector<CArchiveFile> archives;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW(L"myfile-*.txt", &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = ::FindNextFileW(hFind, &found)) {
        std::string key;
        const std::string name = Narrow(found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ArchiveOrderKey(name, key))
            archives.push_back({name, (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
    }
    if (hFind != INVALID_HANDLE_VALUE)
        ::FindClose(hFind);
    return archives;
}

// The name the log takes on its way out. Renamed first, "myfile.txt" is free at once: where a
// deleted file keeps its name while another program has it open (Windows before 10 version
// 1903, and file systems without POSIX deletion), a new log could not be created until then.
std::wstring LeavingName()
{
    static unsigned nCount = 0;
    return std::wstring(ALARM_LOG_FILE) + L"." + std::to_wstring(::GetTickCount64()) + L"-" +
           std::to_wstring(++nCount) + L".deleted";
}

} // namespace

std::vector<std::wstring> ListArchives()
{
    std::vector<std::pair<std::string, std::wstring>> archives;
    for (const CArchiveFile& archive : FindArchives()) {
        std::string key;
        ArchiveOrderKey(archive.name, key);
        archives.emplace_back(key, Widen(archive.name));
    }
    std::sort(archives.begin(), archives.end());
    std::vector<std::wstring> names;
    for (const auto& archive : archives)
        names.push_back(archive.second);
    return names;
}

std::vector<CAlarmRow> CAlarmLog::ReadTail(std::size_t nMaxRows) const
{
    HANDLE hRead = ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, LOG_SHARING, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hRead == INVALID_HANDLE_VALUE)
        return {};
    const CHandle hFile(hRead);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(hFile, &size))
        return {};
    const LogByteReader readAt = [&hFile](std::uint64_t offset, std::size_t count, char* out) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        return ::SetFilePointerEx(hFile, position, nullptr, FILE_BEGIN) &&
               ::ReadFile(hFile, out, static_cast<DWORD>(count), &read, nullptr) && read == count;
    };
    return ReadLogTail(static_cast<std::uint64_t>(size.QuadPart), readAt, nMaxRows);
}

bool CAlarmLog::HasPending() const
{
    return !m_dqPending.empty() ||
           std::any_of(m_losses.begin(), m_losses.end(), [](const CLoss& loss) { return loss.nLost > 0; });
}

void CAlarmLog::CountLost(std::size_t nLost, LossCause cause)
{
    if (nLost == 0)
        return;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    CLoss& loss = m_losses[static_cast<std::size_t>(cause)];
    if (loss.nLost == 0)
        loss.first = now;
    loss.last = now;
    loss.nLost += nLost;
}

std::string CAlarmLog::LossLines() const
{
    const char* pszFormat = "%04u-%02u-%02u %02u:%02u:%02u";
    std::string lines;
    for (std::size_t i = 0; i < m_losses.size(); ++i) {
        const CLoss& loss = m_losses[i];
        if (loss.nLost > 0)
            lines += LogLine(std::string(LOSS_TEXTS[i]) + "，丢失 " + std::to_string(loss.nLost) + " 条数据报（" +
                             FormatTime(loss.first, pszFormat) + " 至 " + FormatTime(loss.last, pszFormat) + "）");
    }
    return lines;
}

LogHealth CAlarmLog::Append(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        m_dqPending.push_back(LogLine(text));
    if (m_dqPending.size() > ALARM_LOG_PENDING_MAX) {
        const std::size_t nDropped = m_dqPending.size() - ALARM_LOG_PENDING_MAX;
        m_dqPending.erase(m_dqPending.begin(), m_dqPending.begin() + static_cast<std::ptrdiff_t>(nDropped));
        CountLost(nDropped, LossCause::WriteFailed);
    }
    return Write(false);
}

void CAlarmLog::AppendLast()
{
    Write(true);
}

LogHealth CAlarmLog::Write(bool bForce)
{
    if (!HasPending())
        return LogHealth::Unchanged;
    // A failing file is not tried for every batch of a flood, and its bytes are built only once
    // it is open: a file that cannot be written must not cost a core.
    const ULONGLONG now = ::GetTickCount64();
    if (m_bFailing && !bForce && now - m_nLastTry < FAILING_RETRY_MILLISECONDS)
        return LogHealth::Unchanged;
    m_nLastTry = now;
    // Once the file is known to fail, or the close is under way, each try is a single one.
    const CHandle hFile = OpenWithRetry(IsPatient());
    bool ok = hFile;
    if (ok) {
        // The oldest lines were the ones dropped, so the lines that count them go first.
        std::string bytes = LossLines();
        for (const std::string& line : m_dqPending)
            bytes += line;
        ok = WriteDurably(hFile, bytes);
    }
    if (!ok)
        return std::exchange(m_bFailing, true) ? LogHealth::Unchanged : LogHealth::Failing;
    m_dqPending.clear();
    m_losses = {};
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
        const std::string archive = ArchiveName(stamp, n);
        const std::wstring wideArchive = Widen(archive);
        if (RetryWhileHeld(!m_bStopping, [&wideArchive] { return ::MoveFileW(ALARM_LOG_FILE, wideArchive.c_str()); })) {
            for (const std::string& pruned : ArchivesToPrune(FindArchives(), archive, ARCHIVE_BYTES_KEPT))
                ::DeleteFileW(Widen(pruned).c_str());
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
}

DWORD CAlarmLog::Delete()
{
    const std::wstring leaving = LeavingName();
    if (!RetryWhileHeld(!m_bStopping, [&leaving] { return ::MoveFileW(ALARM_LOG_FILE, leaving.c_str()); })) {
        const DWORD dwError = ::GetLastError();
        if (dwError != ERROR_FILE_NOT_FOUND)
            return dwError;
    } else if (!::DeleteFileW(leaving.c_str())) {
        // A file that can be renamed but not deleted (read-only) keeps its lines under its name.
        const DWORD dwError = ::GetLastError();
        ::MoveFileW(leaving.c_str(), ALARM_LOG_FILE);
        return dwError;
    }
    m_dqPending.clear();
    return ERROR_SUCCESS;
}
