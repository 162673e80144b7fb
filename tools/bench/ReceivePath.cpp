#include "ReceivePath.h"

#include "DiskWatcher.h"
#include "MachineLimits.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// A rung the sender cannot reach is not a rate Wendle was offered.
constexpr double LADDER_REACHED = 0.9;
constexpr DWORD LADDER_SETTLE_MILLISECONDS = 30000;
constexpr DWORD SEND_MAX_MILLISECONDS = 120000;
constexpr DWORD LATENCY_IDLE_MILLISECONDS = 3000;
constexpr double TOPUP_RATE = 2000;
constexpr DWORD UNSERVED_LOOK_MILLISECONDS = 10;
// Beside the live window's log, which it never touches.
constexpr wchar_t FLUSH_PROBE_FILE[] = L"flush-probe.txt";
constexpr double FLUSH_PROBE_SECONDS = 1;

// One rung: a fresh Wendle takes the rate while this thread keeps its window going. Once every
// line is on disk, or the writer had long enough, the window is closed; the log tells whether
// anything was lost, however far the lists are behind. False when the port never came free.
bool RunRung(double dRate, double& dSentRate, CRecordCount& file)
{
    CTempDir dir;
    const int nCount = static_cast<int>(dRate * LADDER_SECONDS);
    std::unique_ptr<CLiveWendle> pLive = StartLiveWendle();
    if (!pLive)
        return false;
    {
        CDiskWatcher watcher(PHASE_LADDER, nCount);
        CSender sender(PHASE_LADDER, nCount, dRate);
        PumpUntil([&sender] { return sender.IsDone(); }, SEND_MAX_MILLISECONDS);
        // A close drains the receiver for a bounded time only: the writer gets to catch up
        // first, so that what is lost was lost while it ran.
        PumpUntil([&watcher, nCount] { return watcher.Seen() == nCount; }, LADDER_SETTLE_MILLISECONDS);
        dSentRate = sender.AchievedRate();
    }
    pLive.reset();
    file = CountOnDisk(SeqsOnDisk(PHASE_LADDER), nCount);
    return true;
}

} // namespace

CStorm RunStorm(CLiveWendle& live)
{
    CStorm storm;
    storm.flush = MeasureFlushedAppends(FLUSH_PROBE_FILE, FLUSH_PROBE_SECONDS);
    CDiskWatcher watcher(PHASE_STORM, STORM_ALARMS);
    CSender sender(PHASE_STORM, STORM_ALARMS, STORM_RATE);
    const LONGLONG llShown = live.Drain(sender, PHASE_STORM, STORM_ALARMS - 1);
    watcher.WaitForAll(ON_DISK_WAIT_MILLISECONDS);
    storm.dLastOnDiskSeconds = watcher.DelayOf(STORM_ALARMS - 1);
    storm.vecOnDiskSeconds = watcher.Delays();
    storm.dReaderPauseSeconds = watcher.LongestPauseSeconds();
    storm.file = CountOnDisk(SeqsOnDisk(PHASE_STORM), STORM_ALARMS);
    storm.mainList = CountList(ListSeqs(live.MainList(), PHASE_STORM), STORM_ALARMS);
    storm.logList = CountList(ListSeqs(live.LogList(), PHASE_STORM), STORM_ALARMS);
    storm.dSentRate = sender.AchievedRate();
    storm.dLongestBusySeconds = live.LongestBusySeconds();
    if (llShown) {
        storm.dBacklogSeconds = Seconds(llShown - sender.LastSentAt());
        storm.dThroughput = STORM_ALARMS / Seconds(llShown - sender.SentAt(0));
    }
    return storm;
}

CUnservedStorm RunUnservedStorm(CLiveWendle& live)
{
    CUnservedStorm storm;
    storm.flush = MeasureFlushedAppends(FLUSH_PROBE_FILE, FLUSH_PROBE_SECONDS);
    {
        CDiskWatcher watcher(PHASE_UNSERVED, STORM_ALARMS);
        CSender sender(PHASE_UNSERVED, STORM_ALARMS, STORM_RATE);
        while (!sender.IsDone())
            ::Sleep(UNSERVED_LOOK_MILLISECONDS);
        watcher.WaitForAll(ON_DISK_WAIT_MILLISECONDS);
        storm.dSentRate = sender.AchievedRate();
        storm.dLastOnDiskSeconds = watcher.DelayOf(STORM_ALARMS - 1);
        storm.vecOnDiskSeconds = watcher.Delays();
    }
    storm.file = CountOnDisk(SeqsOnDisk(PHASE_UNSERVED), STORM_ALARMS);
    // The window catches up before anything else is asked of it.
    PumpUntil([&live] { return live.IsReady(); }, SEND_MAX_MILLISECONDS);
    return storm;
}

void FillLists(CLiveWendle& live)
{
    const int nMissing = ALARM_LIST_CAP - std::max(live.MainList().GetItemCount(), live.LogList().GetItemCount());
    if (nMissing <= 0)
        return;
    CSender sender(PHASE_TOPUP, nMissing, TOPUP_RATE);
    live.Drain(sender, PHASE_TOPUP, nMissing - 1);
}

CLatency MeasureLatency(CLiveWendle& live)
{
    CLatency latency;
    {
        CSender sender(PHASE_CAP, 1, 1);
        if (const LONGLONG llShown = live.Drain(sender, PHASE_CAP, 0))
            latency.dCapSeconds = Seconds(llShown - sender.SentAt(0));
    }
    CListCtrl& list = live.MainList();
    int nNewest = -1;
    CDiskWatcher watcher(PHASE_LATENCY, LATENCY_ALARMS);
    CSender sender(PHASE_LATENCY, LATENCY_ALARMS, LATENCY_RATE);
    ULONGLONG ullIdleSince = 0;
    PumpUntil(
        [&] {
            const LONGLONG llSeen = QpcNow();
            // Rows that came in one pass show together: walk down to the newest one seen before.
            // The send time is read back from the row itself.
            for (int nRow = 0; nRow < list.GetItemCount(); ++nRow) {
                const int nSeq = SeqOf(list.GetItemText(nRow, 0), PHASE_LATENCY);
                if (nSeq <= nNewest)
                    break;
                latency.vecSeconds.push_back(Seconds(llSeen - std::stoll(list.GetItemText(nRow, 3))));
            }
            nNewest = std::max(nNewest, SeqOf(list.GetItemText(0, 0), PHASE_LATENCY));
            if (nNewest == LATENCY_ALARMS - 1)
                return true;
            if (!sender.IsDone())
                return false;
            if (!ullIdleSince)
                ullIdleSince = ::GetTickCount64();
            return ::GetTickCount64() - ullIdleSince >= LATENCY_IDLE_MILLISECONDS;
        },
        SEND_MAX_MILLISECONDS);
    latency.nMissing = LATENCY_ALARMS - static_cast<int>(latency.vecSeconds.size());
    watcher.WaitForAll(ON_DISK_WAIT_MILLISECONDS);
    latency.vecOnDiskSeconds = watcher.Delays();
    return latency;
}

CLadder ClimbLadder()
{
    CLadder ladder;
    for (double dRate = LADDER_FIRST_RATE;; dRate *= 2) {
        double dSentRate = 0;
        CRecordCount file;
        if (!RunRung(dRate, dSentRate, file)) {
            ladder.strEnd = "UDP port 6000 never came free";
            break;
        }
        std::fprintf(stderr, "bench: %s/s offered, %s/s sent, %d lost in the log\n", Grouped(dRate).c_str(),
                     Grouped(dSentRate).c_str(), file.nLost);
        if (file.nLost > 0) {
            ladder.strEnd = Grouped(file.nLost) + " lost at " + Grouped(dSentRate) + "/s";
            break;
        }
        // A sender that tops out may reach less on a higher rung than on the one before.
        if (dSentRate > ladder.dBestRate) {
            ladder.dBestRate = dSentRate;
            ladder.dBestOffered = dRate;
        }
        if (dSentRate < dRate * LADDER_REACHED) {
            ladder.strEnd = "the sender topped out at " + Grouped(dSentRate) + "/s, losing nothing";
            break;
        }
    }
    return ladder;
}
