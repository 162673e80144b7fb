#include "AlarmLog.h"

#include "AlarmRules.h"
#include "LogFile.h"
#include "LogTail.h"
#include "Text.h"

#include <algorithm>
#include <utility>

namespace {

// While the file fails it is tried this often, however many datagrams arrive meanwhile.
constexpr ULONGLONG FAILING_RETRY_MILLISECONDS = 1000;
// An archive at the size bound that failed waits this long before the next try, rather than
// holding up every batch of a flood with its wait for the file.
constexpr ULONGLONG SIZE_ARCHIVE_RETRY_MILLISECONDS = 10000;
constexpr char TIME_FORMAT[] = "%04u-%02u-%02u %02u:%02u:%02u";

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

// Writes the bytes at the end of the file and makes them durable; nSize is the file's size
// afterwards. A last line left without its line break (an editor, a copy, a power cut) gets one
// first, so that no datagram is glued onto it. On failure the file is cut back to where it was,
// so a line is never left half written. Returns the error, or ERROR_SUCCESS.
DWORD WriteDurably(HANDLE hFile, const std::string& bytes, std::uint64_t& nSize)
{
    LARGE_INTEGER end{};
    bool bEndsWithLine = false;
    if (!::SetFilePointerEx(hFile, LARGE_INTEGER{}, &end, FILE_END) || !EndsWithLine(hFile, end, bEndsWithLine) ||
        !::SetFilePointerEx(hFile, end, nullptr, FILE_BEGIN))
        return ::GetLastError();
    const std::string lineBreak = bEndsWithLine ? "" : "\r\n";
    if ((lineBreak.empty() || WriteAll(hFile, lineBreak)) && WriteAll(hFile, bytes) && ::FlushFileBuffers(hFile)) {
        nSize = static_cast<std::uint64_t>(end.QuadPart) + lineBreak.size() + bytes.size();
        return ERROR_SUCCESS;
    }
    const DWORD dwError = ::GetLastError();
    ::SetFilePointerEx(hFile, end, nullptr, FILE_BEGIN);
    ::SetEndOfFile(hFile);
    return dwError;
}

std::string Now(const char* pszFormat)
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return FormatTime(now, pszFormat);
}

// What each line that stands in the log for lost datagrams says first, by cause.
constexpr const char* LOSS_TEXTS[] = {"告警日志曾无法写入", "告警过多，接收队列已满", "程序关闭时未及写入"};

// The line for a run that ended before its last write, from the time its marker holds.
std::string UnfinishedRunLine(const std::string& started)
{
    const bool bTime = started.size() == 19 && std::all_of(started.begin(), started.end(), [](char c) {
                           return (c >= '0' && c <= '9') || c == '-' || c == ':' || c == ' ';
                       });
    return LogLine("上次运行" + (bTime ? "（" + started + " 启动）" : std::string()) +
                   "未能写完告警日志便已结束，其间收到的数据报可能未全部记录");
}

} // namespace

void CAlarmLog::BeginRun()
{
    const CFileCall call(m_nCallSince);
    std::string started;
    const bool bUnfinished = ReadWholeFile(RUN_MARKER_FILE, started);
    WriteWholeFile(RUN_MARKER_FILE, Now(TIME_FORMAT));
    RecoverUnsaved();
    if (bUnfinished)
        m_dqPending.push_back(UnfinishedRunLine(started));
}

void CAlarmLog::EndRun()
{
    const CFileCall call(m_nCallSince);
    // Unsaved, the run is not finished: the marker stays for the next start to tell of it.
    if (HasPending() && !SaveUnsaved())
        return;
    ::DeleteFileW(RUN_MARKER_FILE);
}

void CAlarmLog::RecoverUnsaved()
{
    std::string bytes;
    if (!ReadWholeFile(ALARM_LOG_UNSAVED_FILE, bytes))
        return;
    m_bUnsavedFile = true;
    for (std::size_t nStart = 0; nStart < bytes.size();) {
        const std::size_t nEnd = std::min(bytes.find("\r\n", nStart), bytes.size());
        m_dqPending.push_back(bytes.substr(nStart, nEnd - nStart) + "\r\n");
        nStart = nEnd + 2;
    }
}

bool CAlarmLog::SaveUnsaved()
{
    if (!WriteWholeFile(ALARM_LOG_UNSAVED_FILE, WaitingBytes()))
        return false;
    m_bUnsavedFile = true;
    m_dqPending.clear();
    m_losses = {};
    return true;
}

void CAlarmLog::ForgetUnsaved()
{
    if (::DeleteFileW(ALARM_LOG_UNSAVED_FILE) || ::GetLastError() == ERROR_FILE_NOT_FOUND)
        m_bUnsavedFile = false;
}

std::vector<CAlarmRow> CAlarmLog::ReadTail(std::size_t nMaxRows)
{
    const CFileCall call(m_nCallSince);
    m_dwReadError = ERROR_SUCCESS;
    DWORD dwError = ERROR_SUCCESS;
    const CFile hFile = OpenLog(GENERIC_READ, OPEN_EXISTING, !m_bStopping, m_hStop, dwError);
    if (!hFile.IsValid()) {
        if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND)
            m_dwReadError = dwError;
        return {};
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(hFile, &size)) {
        m_dwReadError = ::GetLastError();
        return {};
    }
    const LogByteReader readAt = [this, &hFile](std::uint64_t offset, std::size_t count, char* out) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        if (!::SetFilePointerEx(hFile, position, nullptr, FILE_BEGIN) ||
            !::ReadFile(hFile, out, static_cast<DWORD>(count), &read, nullptr))
            m_dwReadError = ::GetLastError();
        else if (read != count)
            m_dwReadError = ERROR_HANDLE_EOF;
        return m_dwReadError == ERROR_SUCCESS;
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
    std::string lines;
    for (std::size_t i = 0; i < m_losses.size(); ++i) {
        const CLoss& loss = m_losses[i];
        if (loss.nLost > 0)
            lines += LogLine(std::string(LOSS_TEXTS[i]) + "，丢失 " + std::to_string(loss.nLost) + " 条数据报（" +
                             FormatTime(loss.first, TIME_FORMAT) + " 至 " + FormatTime(loss.last, TIME_FORMAT) + "）");
    }
    return lines;
}

std::string CAlarmLog::WaitingBytes() const
{
    // The oldest lines were the ones dropped, so the lines that count them go first.
    std::string bytes = LossLines();
    for (const std::string& line : m_dqPending)
        bytes += line;
    return bytes;
}

LogHealth CAlarmLog::Append(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        m_dqPending.push_back(LogLine(text));
    if (m_dqPending.size() > ALARM_LOG_PENDING_MAX) {
        const std::size_t nDropped = m_dqPending.size() - ALARM_LOG_PENDING_MAX;
        m_dqPending.erase(m_dqPending.begin(), m_dqPending.begin() + static_cast<std::ptrdiff_t>(nDropped));
        CountLost(nDropped, LossCause::WriteFailed);
        m_nDropped += nDropped;
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
    const CFileCall call(m_nCallSince);
    // Once the file is known to fail, or the close is under way, each try is a single one.
    DWORD dwError = ERROR_SUCCESS;
    const CFile hFile = OpenLog(GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, IsPatient(), m_hStop, dwError);
    if (hFile.IsValid())
        dwError = WriteDurably(hFile, WaitingBytes(), m_nBytes);
    if (dwError != ERROR_SUCCESS) {
        m_dwWriteError = dwError;
        return std::exchange(m_bFailing, true) ? LogHealth::Unchanged : LogHealth::Failing;
    }
    m_dqPending.clear();
    m_losses = {};
    m_nDropped = 0;
    if (m_bUnsavedFile)
        ForgetUnsaved();
    return std::exchange(m_bFailing, false) ? LogHealth::Recovered : LogHealth::Unchanged;
}

bool CAlarmLog::IsDueForArchive() const
{
    return m_nBytes >= ALARM_LOG_ARCHIVE_BYTES && ::GetTickCount64() >= m_nArchiveRetryAt;
}

ArchiveResult CAlarmLog::Archive()
{
    if (HasPending())
        return ArchiveResult::Deferred;
    const CFileCall call(m_nCallSince);
    const std::string stamp = Now("%04u%02u%02u-%02u%02u%02u");
    for (unsigned n = 1;; ++n) {
        const std::string archive = ArchiveName(stamp, n);
        const std::wstring wideArchive = Widen(archive);
        const DWORD dwError = MoveWhileHeld(ALARM_LOG_FILE, wideArchive.c_str(), !m_bStopping, m_hStop);
        if (dwError == ERROR_SUCCESS || dwError == ERROR_FILE_NOT_FOUND) {
            if (dwError == ERROR_SUCCESS)
                PruneArchives(archive);
            m_nBytes = 0;
            m_nArchiveRetryAt = 0;
            return ArchiveResult::Archived;
        }
        if (dwError != ERROR_ALREADY_EXISTS && dwError != ERROR_FILE_EXISTS) {
            m_dwArchiveError = dwError;
            m_nArchiveRetryAt = ::GetTickCount64() + SIZE_ARCHIVE_RETRY_MILLISECONDS;
            return ArchiveResult::Failed;
        }
    }
}

DWORD CAlarmLog::Delete()
{
    const CFileCall call(m_nCallSince);
    const std::wstring leaving = LeavingName();
    if (const DWORD dwError = MoveWhileHeld(ALARM_LOG_FILE, leaving.c_str(), !m_bStopping, m_hStop)) {
        if (dwError != ERROR_FILE_NOT_FOUND)
            return dwError;
    } else if (!::DeleteFileW(leaving.c_str())) {
        // A file that can be renamed but not deleted (read-only) keeps its lines under its name.
        const DWORD dwError = ::GetLastError();
        ::MoveFileW(leaving.c_str(), ALARM_LOG_FILE);
        return dwError;
    }
    // The lines still waiting, an earlier close's among them, belonged to the file.
    m_dqPending.clear();
    m_nDropped = 0;
    if (m_bUnsavedFile)
        ForgetUnsaved();
    m_nBytes = 0;
    return ERROR_SUCCESS;
}
