#include "LogFile.h"

#include "AlarmLog.h"
#include "AlarmRules.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// How long a program that holds the file without sharing it gets to let go, in steps.
constexpr DWORD HOLD_RETRY_MILLISECONDS = 500;
constexpr DWORD HOLD_RETRY_STEP = 25;
// Editors, viewers, backup, indexing and virus scanners keep the file open; sharing read,
// write and delete lets every append, archive and delete go on meanwhile. (The C runtime's
// fopen shares only reading and writing: a reader that opens the file with it holds up a
// rename or delete for as long as it has the file open.)
constexpr DWORD LOG_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The errors another program's handle gives; others do not go away by waiting.
bool IsHeld(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_ACCESS_DENIED;
}

// Pauses before the next try; false once the stop has come.
bool PauseBeforeRetry(HANDLE hStop)
{
    if (!hStop) {
        ::Sleep(HOLD_RETRY_STEP);
        return true;
    }
    return ::WaitForSingleObject(hStop, HOLD_RETRY_STEP) == WAIT_TIMEOUT;
}

// Tries the call until it succeeds, fails for another reason than a holder, or the wait is over.
template <typename TAttempt> DWORD RetryWhileHeld(bool bRetry, HANDLE hStop, TAttempt attempt)
{
    for (DWORD waited = 0;; waited += HOLD_RETRY_STEP) {
        if (attempt())
            return ERROR_SUCCESS;
        const DWORD dwError = ::GetLastError();
        if (!IsHeld(dwError) || !bRetry || waited >= HOLD_RETRY_MILLISECONDS || !PauseBeforeRetry(hStop))
            return dwError;
    }
}

struct CFindPolicy {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE hFind) { ::FindClose(hFind); }
};

// The archives beside the log with their sizes, in no order.
std::vector<CArchiveFile> FindArchives()
{
    std::vector<CArchiveFile> archives;
    WIN32_FIND_DATAW found;
    const CHandleOwner<HANDLE, CFindPolicy> hFind(::FindFirstFileW(L"myfile-*.txt", &found));
    if (!hFind.IsValid())
        return archives;
    do {
        std::string key;
        const std::string name = Narrow(found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ArchiveOrderKey(name, key))
            archives.push_back({name, (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
    } while (::FindNextFileW(hFind, &found));
    return archives;
}

} // namespace

CFile OpenLog(DWORD dwAccess, DWORD dwDisposition, bool bRetry, HANDLE hStop, DWORD& dwError)
{
    CFile hFile;
    dwError = RetryWhileHeld(bRetry, hStop, [&] {
        hFile.Attach(::CreateFileW(ALARM_LOG_FILE, dwAccess, LOG_SHARING, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
        return hFile.IsValid();
    });
    return hFile;
}

DWORD MoveWhileHeld(const wchar_t* pszFrom, const wchar_t* pszTo, bool bRetry, HANDLE hStop)
{
    return RetryWhileHeld(bRetry, hStop, [&] { return ::MoveFileW(pszFrom, pszTo) != FALSE; });
}

bool WriteAll(HANDLE hFile, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadWholeFile(const wchar_t* pszPath, std::string& bytes)
{
    const CFile hFile(
        ::CreateFileW(pszPath, GENERIC_READ, LOG_SHARING, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(hFile, &size) || size.QuadPart > (LONGLONG{1} << 30))
        return false;
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes.empty() ||
           (::ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes)
{
    const std::wstring temporary = std::wstring(pszPath) + L".new";
    {
        const CFile hFile(
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile.IsValid())
            return false;
        if (!WriteAll(hFile, bytes) || !::FlushFileBuffers(hFile)) {
            ::DeleteFileW(temporary.c_str());
            return false;
        }
    }
    return ::MoveFileExW(temporary.c_str(), pszPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::string FormatTime(const SYSTEMTIME& time, const char* pszFormat)
{
    char text[32];
    std::snprintf(text, sizeof(text), pszFormat, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                  time.wSecond);
    return text;
}

// Renamed first, "myfile.txt" is free at once: where a deleted file keeps its name while another
// program has it open (Windows before 10 version 1903, and file systems without POSIX deletion),
// a new log could not be created until then.
std::wstring LeavingName()
{
    static unsigned nCount = 0;
    return std::wstring(ALARM_LOG_FILE) + L"." + std::to_wstring(::GetTickCount64()) + L"-" +
           std::to_wstring(++nCount) + L".deleted";
}

void PruneArchives(const std::string& strJustMade)
{
    for (const std::string& pruned : ArchivesToPrune(FindArchives(), strJustMade, ARCHIVE_BYTES_KEPT))
        ::DeleteFileW(Widen(pruned).c_str());
}

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
