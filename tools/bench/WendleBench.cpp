// wendle_bench: how fast Wendle's receive path runs next to the limits of the machine it runs on.
// Every figure comes from the same run, so the ratios hold even when the machine is noisy. The
// real main window is built from the real templates and runs its real receiver on UDP 6000 with
// the real log file in a temporary current directory.

#include "BenchReport.h"
#include "BenchSupport.h"
#include "TestSupport.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <cstdio>
#include <memory>

namespace {

// The storms, the lists filled, the working set and the latency, all on one window.
bool MeasureOneWindow(CResults& results)
{
    CTempDir dir;
    std::fprintf(stderr, "bench: starting Wendle on UDP 6000\n");
    std::unique_ptr<CLiveWendle> pLive = StartLiveWendle();
    if (!pLive)
        return false;
    results.nEmptySet = WorkingSet();
    results.priority = ReadPriority(*pLive);
    // Before the first alarm, so the list is as empty afterwards as the receiver counts it.
    results.dListRate = MeasureListInserts(pLive->MainList().GetSafeHwnd());
    std::fprintf(stderr, "bench: storm of %d alarms at %.0f/s\n", STORM_ALARMS, STORM_RATE);
    results.storm = RunStorm(*pLive);
    FillLists(*pLive);
    results.nFullMain = pLive->MainList().GetItemCount();
    results.nFullLog = pLive->LogList().GetItemCount();
    results.nFullSet = WorkingSet();
    std::fprintf(stderr, "bench: latency at %.0f/s\n", LATENCY_RATE);
    results.latency = MeasureLatency(*pLive);
    std::fprintf(stderr, "bench: storm while the window serves nothing\n");
    results.unserved = RunUnservedStorm(*pLive);
    return true;
}

} // namespace

int wmain()
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    g_llFrequency = frequency.QuadPart;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    WSADATA wsaData;
    ::WSAStartup(MAKEWORD(2, 2), &wsaData);
    // Sleep(1) must mean a millisecond for the sender's pacing and the log's watcher.
    ::timeBeginPeriod(1);

    CResults results;
    std::fprintf(stderr, "bench: limits of the machine\n");
    results.bareUdp = MeasureBareUdp();
    results.nReceiveBufferCap = ReceiveBufferCap();
    results.bareAppend = MeasureBareAppend();
    results.bStarted = MeasureOneWindow(results);
    if (results.bStarted) {
        std::fprintf(stderr, "bench: highest rate without loss\n");
        results.ladder = ClimbLadder();
        std::fprintf(stderr, "bench: a %d-line log\n", LONG_LOG_LINES);
        MeasureLongLog(results.load, results.loadStorm);
        std::fprintf(stderr, "bench: a log ending in 1 GiB of lines without rows\n");
        MeasureRowlessLog(results.rowless);
        std::fprintf(stderr, "bench: a flood while the log cannot be written\n");
        results.failingLog = MeasureWriterCost(true);
        results.writableLog = MeasureWriterCost(false);
    }
    PrintReport(results);

    ::timeEndPeriod(1);
    ::WSACleanup();
    return 0;
}
