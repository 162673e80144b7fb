#include "LogLoad.h"

#include "AlarmLog.h"
#include "BenchSupport.h"
#include "DiskWatcher.h"
#include "LiveWendle.h"
#include "LogFile.h"
#include "LogTail.h"
#include "MachineLimits.h"
#include "TestSupport.h"

#include <cstdio>
#include <random>

namespace {

constexpr DWORD LOAD_MAX_MILLISECONDS = 120000;
constexpr DWORD BIND_MAX_MILLISECONDS = 60000;
constexpr int WRITE_LINES_EACH = 20000;
constexpr std::size_t ROWLESS_WRITE_BYTES = 4 << 20;

// The alarms, then the same few megabytes of lines without rows over and over: empty lines and
// lines of one letter, mixed at random, as the datagrams of a sender gone wrong leave them.
bool WriteRowlessLog(unsigned long long& nBytes)
{
    const CFile hFile(
        ::CreateFileW(ALARM_LOG_FILE, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return false;
    std::string strAlarms;
    for (int nAlarm = 0; nAlarm < ROWLESS_LOG_ALARMS; ++nAlarm)
        strAlarms += AlarmText(PHASE_ROWLESS, nAlarm, 0) + "\r\n";
    std::string strLines;
    std::mt19937 random(1);
    while (strLines.size() < ROWLESS_WRITE_BYTES)
        strLines += random() % 2 ? "\r\n" : std::string(1, static_cast<char>('a' + random() % 26)) + "\r\n";
    bool bWritten = WriteAll(hFile, strAlarms);
    nBytes = strAlarms.size();
    for (unsigned long long nRowless = 0; bWritten && nRowless < ROWLESS_LOG_BYTES; nRowless += strLines.size()) {
        bWritten = WriteAll(hFile, strLines);
        nBytes += strLines.size();
    }
    // On disk before anything reads it, so that no read waits for the writing of this one.
    return bWritten && ::FlushFileBuffers(hFile);
}

// The whole file from its start, in reads as large as the tail read's largest.
double BareRead()
{
    const CFile hFile(::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile.IsValid())
        return -1;
    std::string strBlock(LOG_TAIL_READ_MAX, '\0');
    const LONGLONG llStart = QpcNow();
    DWORD dwRead = 0;
    while (::ReadFile(hFile, &strBlock[0], static_cast<DWORD>(strBlock.size()), &dwRead, nullptr) && dwRead > 0) {
    }
    return Seconds(QpcNow() - llStart);
}

void WriteLongLog()
{
    HANDLE hFile =
        ::CreateFileW(ALARM_LOG_FILE, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string strBytes;
    for (int nLine = 0; nLine < LONG_LOG_LINES; ++nLine) {
        strBytes += AlarmText(PHASE_LOAD, nLine, 0) + "\r\n";
        if ((nLine + 1) % WRITE_LINES_EACH == 0 || nLine + 1 == LONG_LOG_LINES) {
            DWORD dwWritten = 0;
            ::WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
            strBytes.clear();
        }
    }
    // On disk before Wendle starts, as a log of many days would be: its first flush must not
    // pay for writing this one.
    ::FlushFileBuffers(hFile);
    ::CloseHandle(hFile);
}

// From creating a window until its log page lists the rows it is expected to, with the peak
// of the working set meanwhile over what it was before.
double LoadWindow(int nExpectedRows, SIZE_T& nGrowth, CLoad* pLoad)
{
    const SIZE_T nBefore = WorkingSet();
    CWorkingSetPeak peak;
    const LONGLONG llStart = QpcNow();
    CLiveWendle live;
    const bool bLoaded = PumpUntil(
        [&live, nExpectedRows] {
            return nExpectedRows ? live.LogList().GetItemCount() >= nExpectedRows : live.IsReady();
        },
        LOAD_MAX_MILLISECONDS);
    const double dSeconds = bLoaded ? Seconds(QpcNow() - llStart) : -1;
    nGrowth = peak.Peak() > nBefore ? peak.Peak() - nBefore : 0;
    if (pLoad) {
        pLoad->nRows = live.LogList().GetItemCount();
        // Measured right after, on the same list at its full size, so that the ratio holds on a
        // machine whose speed changes from one minute to the next.
        CBareRows rows = BareRows(ALARM_LIST_CAP);
        pLoad->dLimitSeconds = InsertBareRows(live.LogList().GetSafeHwnd(), rows, true);
    }
    return dSeconds;
}

void WaitForPortFree()
{
    PumpUntil([] { return !AlarmPortBound(); }, BIND_MAX_MILLISECONDS);
}

// Alarms sent from the moment the receiver binds the port, while the history is still loading.
CLoadStorm SendWhileLoading()
{
    CLoadStorm storm;
    WaitForPortFree();
    int nSent = 0;
    {
        const LONGLONG llStart = QpcNow();
        CLiveWendle live;
        storm.bBound = PumpUntil(AlarmPortBound, BIND_MAX_MILLISECONDS);
        if (!storm.bBound)
            return storm;
        storm.dBoundSeconds = Seconds(QpcNow() - llStart);
        CDiskWatcher watcher(PHASE_LOAD_STORM, LOAD_STORM_ALARMS, true);
        CSender sender(PHASE_LOAD_STORM, LOAD_STORM_ALARMS, LOAD_STORM_RATE);
        nSent = LOAD_STORM_ALARMS;
        live.Drain(sender, PHASE_LOAD_STORM, LOAD_STORM_ALARMS - 1);
        watcher.WaitForAll(ON_DISK_WAIT_MILLISECONDS);
        storm.dSentRate = sender.AchievedRate();
        storm.vecOnDiskSeconds = watcher.Delays();
    }
    const CRecordCount count = CountOnDisk(SeqsOnDisk(PHASE_LOAD_STORM), nSent);
    storm.nLost = count.nLost;
    storm.nDisordered = count.nDisordered;
    return storm;
}

} // namespace

void MeasureLongLog(CLoad& load, CLoadStorm& storm)
{
    CTempDir dir;
    WaitForPortFree();
    load.dEmptySeconds = LoadWindow(0, load.nEmptyGrowth, nullptr);
    // The empty window's own log, if anything was written, must not count as the long log.
    ::DeleteFileW(ALARM_LOG_FILE);
    WriteLongLog();

    const LONGLONG llRead = QpcNow();
    CAlarmLog().ReadTail(ALARM_LIST_CAP);
    load.dReadSeconds = Seconds(QpcNow() - llRead);

    WaitForPortFree();
    load.dSeconds = LoadWindow(ALARM_LIST_CAP, load.nGrowth, &load);
    std::fprintf(stderr, "bench: %d alarms while the log loads\n", LOAD_STORM_ALARMS);
    storm = SendWhileLoading();
}

void MeasureRowlessLog(CRowlessLoad& load)
{
    wchar_t szFolder[MAX_PATH];
    if (!::GetCurrentDirectoryW(MAX_PATH, szFolder))
        return;
    CTempDir dir(szFolder);
    if (!WriteRowlessLog(load.nBytes))
        return;
    load.dBareSeconds = BareRead();
    const LONGLONG llRead = QpcNow();
    load.nRows = static_cast<int>(CAlarmLog().ReadTail(ALARM_LIST_CAP).size());
    load.dReadSeconds = Seconds(QpcNow() - llRead);
    WaitForPortFree();
    SIZE_T nGrowth = 0;
    load.dSeconds = LoadWindow(ROWLESS_LOG_ALARMS, nGrowth, nullptr);
}
