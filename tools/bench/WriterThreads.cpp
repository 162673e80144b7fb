#include "WriterThreads.h"

#include "AlarmLog.h"
#include "TestSupport.h"
#include "Text.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace {

constexpr DWORD FAILING_SEND_MAX_MILLISECONDS = 120000;

double ThreadSeconds(HANDLE hThread)
{
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(hThread, &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

std::string ReadSmallFile(const std::wstring& path)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return {};
    char buffer[1024];
    DWORD dwRead = 0;
    const bool ok = ::ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr);
    ::CloseHandle(hFile);
    return ok ? std::string(buffer, dwRead) : std::string();
}

// The file name at the end of a Windows or Unix path, in lower case.
std::string FileNameOf(const std::string& path)
{
    std::string name = path.substr(path.find_last_of("\\/") + 1);
    for (char& ch : name)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return name;
}

// This process's folder in /proc under Wine, found by the program named first on its command
// line: /proc/self is the wineserver's, which opens files for the process. Empty on Windows,
// which has no /proc.
std::wstring UnixProcessFolder()
{
    wchar_t path[MAX_PATH];
    const std::string exe = FileNameOf(Narrow(std::wstring(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH))));
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW(L"Z:\\proc\\*", &found);
    std::wstring folder;
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore && folder.empty(); bMore = ::FindNextFileW(hFind, &found)) {
        const std::wstring candidate = std::wstring(L"Z:\\proc\\") + found.cFileName;
        if (found.cFileName[0] >= L'0' && found.cFileName[0] <= L'9' &&
            FileNameOf(ReadSmallFile(candidate + L"\\cmdline").c_str()) == exe)
            folder = candidate;
    }
    if (hFind != INVALID_HANDLE_VALUE)
        ::FindClose(hFind);
    return folder;
}

// The nice value of each thread of this process as Linux runs it under Wine, from
// /proc/<pid>/task/*/stat; empty on Windows.
std::vector<int> UnixNiceValues()
{
    std::vector<int> values;
    const std::wstring process = UnixProcessFolder();
    if (process.empty())
        return values;
    const std::wstring tasks = process + L"\\task\\";
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW((tasks + L"*").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = ::FindNextFileW(hFind, &found)) {
        const std::string stat = ReadSmallFile(tasks + found.cFileName + L"\\stat");
        const std::size_t nEnd = stat.rfind(')');
        if (found.cFileName[0] == L'.' || nEnd == std::string::npos)
            continue;
        // After the name: state, then fields 4 to 19 of which nice is the last.
        std::istringstream fields(stat.substr(nEnd + 1));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i) {
            if (i == 19)
                values.push_back(std::stoi(field));
        }
    }
    if (hFind != INVALID_HANDLE_VALUE)
        ::FindClose(hFind);
    return values;
}

} // namespace

CWriterCost MeasureWriterCost(bool bLogHeld)
{
    CWriterCost result;
    CTempDir dir;
    // A program that holds the log without sharing it: every open the writer tries fails.
    HANDLE hHeld = bLogHeld ? ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)
                            : nullptr;
    std::unique_ptr<CLiveWendle> pLive = StartLiveWendle();
    if (hHeld != INVALID_HANDLE_VALUE && pLive) {
        result.bStarted = true;
        const double dStartCpu = ThreadSeconds(pLive->WriterThread());
        const LONGLONG llStart = QpcNow();
        CSender sender(PHASE_FAILING, FAILING_LOG_ALARMS, FAILING_LOG_RATE);
        PumpUntil([&sender] { return sender.IsDone(); }, FAILING_SEND_MAX_MILLISECONDS);
        const double dCpu = ThreadSeconds(pLive->WriterThread()) - dStartCpu;
        if (dStartCpu >= 0 && dCpu >= 0)
            result.dWriterShare = dCpu / Seconds(QpcNow() - llStart);
        result.dSentRate = sender.AchievedRate();
    }
    if (hHeld && hHeld != INVALID_HANDLE_VALUE)
        ::CloseHandle(hHeld);
    return result;
}

CPriority ReadPriority(CLiveWendle& live)
{
    CPriority priority;
    const int nPriority = ::GetThreadPriority(live.WriterThread());
    priority.strAsked = nPriority == THREAD_PRIORITY_ABOVE_NORMAL ? "above normal" : std::to_string(nPriority);
    const std::vector<int> values = UnixNiceValues();
    if (values.empty()) {
        priority.strApplied = "as asked";
        priority.strVerdict = "Windows";
        return priority;
    }
    int nRaised = 0, nNice = 0;
    for (int nValue : values) {
        if (nValue < 0) {
            ++nRaised;
            nNice = nValue;
        }
    }
    const std::string strOf = " of " + std::to_string(values.size());
    priority.strApplied = nRaised ? "nice " + std::to_string(nNice) + " on " + std::to_string(nRaised) + strOf
                                  : "nice 0 on all" + strOf;
    priority.strVerdict = nRaised ? "applied" : "not applied";
    return priority;
}
