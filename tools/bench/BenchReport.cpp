#include "BenchReport.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double ON_DISK_GOAL_SECONDS = 0.1;
constexpr double LISTED_GOAL_SECONDS = 0.05;
constexpr double LOAD_GOAL_SECONDS = 0.5;
constexpr SIZE_T LOAD_GROWTH_GOAL = 32 << 20;
constexpr double FAILING_WRITER_GOAL = 0.1;
constexpr double ROWLESS_LOAD_GOAL_SECONDS = 5;
// A line that arrives while a batch is being flushed waits for that flush and then for its own
// batch's: two flushed appends; the third covers the hand-offs between the threads and the
// outside reader's look.
constexpr double FLUSH_RATIO_GOAL = 3;
// The receive buffer Wendle asks for its socket.
constexpr unsigned long long RECEIVE_BUFFER_ASKED = 8 << 20;

class CTable {
public:
    void Section(const std::string& strTitle) { m_vecRows.push_back({strTitle}); }
    void Row(const std::string& strFigure, const std::string& strValue, const std::string& strLimit = "",
             const std::string& strRatio = "", const std::string& strGoal = "", const std::string& strVerdict = "")
    {
        m_vecRows.push_back({"  " + strFigure, strValue, strLimit, strRatio, strGoal, strVerdict});
    }
    void Note(const std::string& strNote) { m_vecNotes.push_back(strNote); }
    void Print() const;

private:
    std::vector<std::vector<std::string>> m_vecRows;
    std::vector<std::string> m_vecNotes;
};

void CTable::Print() const
{
    const std::vector<std::string> vecHeading = {"figure", "value", "limit", "ratio", "goal under Wine", ""};
    std::vector<std::size_t> vecWidths(vecHeading.size(), 0);
    auto widen = [&vecWidths](const std::vector<std::string>& row) {
        if (row.size() == 1)
            return;
        for (std::size_t i = 0; i < row.size(); ++i)
            vecWidths[i] = std::max(vecWidths[i], row[i].size());
    };
    widen(vecHeading);
    for (const auto& row : m_vecRows)
        widen(row);
    auto print = [&vecWidths](const std::vector<std::string>& row) {
        std::string strLine;
        for (std::size_t i = 0; i < row.size(); ++i) {
            strLine += row[i];
            if (row.size() > 1 && i + 1 < row.size())
                strLine += std::string(vecWidths[i] - row[i].size() + 2, ' ');
        }
        while (!strLine.empty() && strLine.back() == ' ')
            strLine.pop_back();
        std::printf("%s\n", strLine.c_str());
    };
    print(vecHeading);
    for (const auto& row : m_vecRows)
        print(row);
    for (const std::string& strNote : m_vecNotes)
        std::printf("%s\n", strNote.c_str());
    std::fflush(stdout);
}

std::string Ratio(double dValue, double dLimit)
{
    return dLimit > 0 && dValue >= 0 ? Fixed(dValue / dLimit, 2) : "-";
}

std::string Verdict(bool bMet)
{
    return bMet ? "met" : "MISSED";
}

// A delay against its goal: none at all misses it.
void DelayRow(CTable& table, const std::string& strFigure, double dSeconds, double dGoal, bool bComplete = true)
{
    table.Row(strFigure, Ms(dSeconds), "", "", "< " + Fixed(dGoal * 1000, 0) + " ms",
              Verdict(dSeconds >= 0 && dSeconds < dGoal && bComplete));
}

// The delay to disk read against the machine's own flushed append of one line, measured just
// before: no writer can put a line on disk faster than that.
void FlushRatioRow(CTable& table, double dSeconds, const CBareAppend& flush)
{
    const double dFlushSeconds = flush.dP99Seconds;
    table.Row("  against the machine's flushed append, 99th percentile", Ms(dSeconds),
              Ms(dFlushSeconds) + " flushed append",
              Ratio(dSeconds, dFlushSeconds), "<= " + Fixed(FLUSH_RATIO_GOAL, 2),
              Verdict(dSeconds >= 0 && dFlushSeconds > 0 && dSeconds <= FLUSH_RATIO_GOAL * dFlushSeconds));
}

void LossRow(CTable& table, const std::string& strFigure, int nLost, int nSent)
{
    table.Row(strFigure, Grouped(nLost), "of " + Grouped(nSent), "", "0", Verdict(nLost == 0));
}

std::string RuntimeName()
{
    using WineGetVersion = const char*(CDECL*)();
    if (HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll")) {
        const FARPROC pfnExport = ::GetProcAddress(hNtdll, "wine_get_version");
        if (auto pfn = reinterpret_cast<WineGetVersion>(reinterpret_cast<void*>(pfnExport)))
            return std::string("Wine ") + pfn();
    }
    return "Windows";
}

// What the storms' losses depend on besides Wendle: the buffer the system grants its socket.
void AddReceiveBufferRow(CTable& table, unsigned long long nCap)
{
    if (RuntimeName().compare(0, 5, "Wine ") != 0) {
        table.Row("socket receive buffer", Grouped(static_cast<double>(RECEIVE_BUFFER_ASKED)) + " bytes",
                  "asked, and granted by Windows");
        return;
    }
    table.Row("socket receive buffer: net.core.rmem_max",
              nCap ? Grouped(static_cast<double>(nCap)) + " bytes" : "unreadable",
              Grouped(static_cast<double>(RECEIVE_BUFFER_ASKED)) + " asked", "", ">= 8 MiB",
              nCap >= RECEIVE_BUFFER_ASKED ? "met" : "capped");
}

void AddStormRows(CTable& table, const CStorm& storm, double dListRate)
{
    LossRow(table, "storm: lost in myfile.txt and its archives", storm.file.nLost, STORM_ALARMS);
    LossRow(table, "storm: lost in the main list", storm.mainList.nLost, STORM_ALARMS);
    LossRow(table, "storm: lost in the log page list", storm.logList.nLost, STORM_ALARMS);
    const int nDisordered = storm.file.nDisordered + storm.mainList.nDisordered + storm.logList.nDisordered;
    if (nDisordered)
        table.Row("storm: rows out of order", Grouped(nDisordered), "", "", "0", Verdict(false));
    table.Row("storm: sender's real rate", Grouped(storm.dSentRate) + "/s", Grouped(STORM_RATE) + "/s",
              Ratio(storm.dSentRate, STORM_RATE));
    DelayRow(table, "storm: last line on disk after its send", storm.dLastOnDiskSeconds, ON_DISK_GOAL_SECONDS);
    table.Row("storm: send to on disk, 50th percentile", Ms(Percentile(storm.vecOnDiskSeconds, 0.50)));
    DelayRow(table, "storm: send to on disk, 99th percentile", Percentile(storm.vecOnDiskSeconds, 0.99),
             ON_DISK_GOAL_SECONDS, static_cast<int>(storm.vecOnDiskSeconds.size()) == STORM_ALARMS);
    FlushRatioRow(table, Percentile(storm.vecOnDiskSeconds, 0.99), storm.flush);
    table.Row("  the outside reader's longest pause between looks", Ms(storm.dReaderPauseSeconds));
    const int nUnseen = STORM_ALARMS - static_cast<int>(storm.vecOnDiskSeconds.size());
    if (nUnseen)
        LossRow(table, "storm: lines the outside reader never saw", nUnseen, STORM_ALARMS);
    if (storm.dBacklogSeconds < 0) {
        table.Row("storm: last alarm listed after its send", "never");
        return;
    }
    // Every alarm is a row in two lists.
    table.Row("storm: alarms listed per second", Grouped(storm.dThroughput) + "/s",
              Grouped(dListRate / 2) + "/s inserts", Ratio(storm.dThroughput, dListRate / 2));
    table.Row("storm: last alarm listed after its send", Ms(storm.dBacklogSeconds));
    table.Row("  the window's longest time without serving a message", Ms(storm.dLongestBusySeconds));
}

void AddUnservedRows(CTable& table, const CUnservedStorm& storm)
{
    LossRow(table, "storm, window not served: lost in myfile.txt", storm.file.nLost, STORM_ALARMS);
    table.Row("storm, window not served: sender's real rate", Grouped(storm.dSentRate) + "/s",
              Grouped(STORM_RATE) + "/s", Ratio(storm.dSentRate, STORM_RATE));
    DelayRow(table, "storm, window not served: last line on disk", storm.dLastOnDiskSeconds, ON_DISK_GOAL_SECONDS);
    DelayRow(table, "storm, window not served: send to on disk, 99th", Percentile(storm.vecOnDiskSeconds, 0.99),
             ON_DISK_GOAL_SECONDS, static_cast<int>(storm.vecOnDiskSeconds.size()) == STORM_ALARMS);
    FlushRatioRow(table, Percentile(storm.vecOnDiskSeconds, 0.99), storm.flush);
}

void AddLoadRows(CTable& table, const CLoad& load, const CLoadStorm& storm)
{
    const std::string strLog = "a " + Grouped(LONG_LOG_LINES) + "-line log";
    table.Row("load of " + strLog + " until its newest 3,000 rows are listed",
              load.dSeconds < 0 ? "never" : Fixed(load.dSeconds, 2) + " s",
              Fixed(load.dLimitSeconds, 2) + " s inserts", Ratio(load.dSeconds, load.dLimitSeconds),
              "< " + Fixed(LOAD_GOAL_SECONDS, 1) + " s",
              Verdict(load.dSeconds >= 0 && load.dSeconds < LOAD_GOAL_SECONDS));
    table.Row("  reading its newest 3,000 rows alone", Fixed(load.dReadSeconds, 3) + " s");
    table.Row("  a window with no log, until it listens",
              load.dEmptySeconds < 0 ? "never" : Fixed(load.dEmptySeconds, 2) + " s");
    table.Row("  working set growth during that load", MiB(load.nGrowth), MiB(load.nEmptyGrowth) + " no log",
              Ratio(static_cast<double>(load.nGrowth), static_cast<double>(load.nEmptyGrowth)),
              "< " + MiB(LOAD_GROWTH_GOAL), Verdict(load.nGrowth < LOAD_GROWTH_GOAL));
    if (!storm.bBound) {
        table.Row("datagrams lost while " + strLog + " loads", "UDP 6000 never bound", "", "", "0", Verdict(false));
        return;
    }
    LossRow(table, "datagrams lost while " + strLog + " loads", storm.nLost, LOAD_STORM_ALARMS);
    if (storm.nDisordered)
        table.Row("  lines out of order", Grouped(storm.nDisordered), "", "", "0", Verdict(false));
    table.Row("  sender's real rate", Grouped(storm.dSentRate) + "/s", Grouped(LOAD_STORM_RATE) + "/s",
              Ratio(storm.dSentRate, LOAD_STORM_RATE));
    table.Row("  port bound after the window's creation", Ms(storm.dBoundSeconds));
    DelayRow(table, "  send to on disk, 99th percentile", Percentile(storm.vecOnDiskSeconds, 0.99),
             ON_DISK_GOAL_SECONDS, static_cast<int>(storm.vecOnDiskSeconds.size()) == LOAD_STORM_ALARMS);
}

void AddRowlessRows(CTable& table, const CRowlessLoad& load)
{
    const std::string strLog =
        "a " + Fixed(static_cast<double>(load.nBytes) / (1 << 30), 2) + " GiB log of lines without rows";
    if (load.dBareSeconds < 0) {
        table.Row("load of " + strLog, "not measured: the file could not be written and read");
        return;
    }
    const std::string strBare = Fixed(load.dBareSeconds, 2) + " s bare read";
    table.Row("load of " + strLog + " until its " + std::to_string(ROWLESS_LOG_ALARMS) + " alarms are listed",
              load.dSeconds < 0 ? "never" : Fixed(load.dSeconds, 2) + " s", strBare,
              Ratio(load.dSeconds, load.dBareSeconds), "< " + Fixed(ROWLESS_LOAD_GOAL_SECONDS, 1) + " s",
              Verdict(load.dSeconds >= 0 && load.dSeconds < ROWLESS_LOAD_GOAL_SECONDS));
    table.Row("  reading its rows alone", Fixed(load.dReadSeconds, 2) + " s", strBare,
              Ratio(load.dReadSeconds, load.dBareSeconds), "", std::to_string(load.nRows) + " rows");
}

std::string CoreShare(double dShare)
{
    return dShare < 0 ? "unknown" : Fixed(dShare * 100, 1) + "% of a core";
}

void AddWriterRows(CTable& table, const CPriority& priority, const CWriterCost& failing, const CWriterCost& writable)
{
    table.Row("capture and writer threads' priority, as asked", priority.strAsked);
    table.Row("  as the system runs the process's threads", priority.strApplied, "", "", "", priority.strVerdict);
    if (!failing.bStarted) {
        table.Row("writer's CPU while the log cannot be written", "not measured: UDP 6000 never came free");
        return;
    }
    table.Row("writer's CPU while the log cannot be written, " + Grouped(FAILING_LOG_RATE) + "/s",
              CoreShare(failing.dWriterShare), CoreShare(writable.dWriterShare) + " writable",
              Ratio(failing.dWriterShare, writable.dWriterShare), "< " + Fixed(FAILING_WRITER_GOAL * 100, 0) + "%",
              Verdict(failing.dWriterShare >= 0 && failing.dWriterShare < FAILING_WRITER_GOAL));
    table.Row("  sender's real rate", Grouped(failing.dSentRate) + "/s", Grouped(FAILING_LOG_RATE) + "/s",
              Ratio(failing.dSentRate, FAILING_LOG_RATE));
}

} // namespace

void PrintReport(const CResults& results)
{
    CTable table;
    table.Section("Limits of this machine");
    const CBareUdp& bareUdp = results.bareUdp;
    // When everything arrived, the loop kept up and the figure is the sender's pace.
    table.Row("bare UDP receive loop, loopback", Grouped(bareUdp.dRate) + " datagrams/s", "", "", "",
              Grouped(bareUdp.nArrived) + " of " + Grouped(bareUdp.nSent) + " arrived" +
                  (bareUdp.nArrived == bareUdp.nSent ? ": sender-bound" : ""));
    const double dBareAppend = results.bareAppend.dRate;
    table.Row("bare append: open/write/flush/close per line", Grouped(dBareAppend) + " lines/s");
    table.Row("  the slowest of those lines", Ms(results.bareAppend.dSlowestSeconds));
    table.Row("  99th percentile of those lines", Ms(results.bareAppend.dP99Seconds));
    if (!results.bStarted) {
        table.Note("UDP port 6000 never came free: Wendle was not measured.");
        table.Print();
        return;
    }
    table.Row("list insert at row 0, redraw off", Grouped(results.dListRate) + " rows/s");
    table.Section("Wendle's receive path (" + RuntimeName() + ")");
    AddReceiveBufferRow(table, results.nReceiveBufferCap);
    AddStormRows(table, results.storm, results.dListRate);
    AddUnservedRows(table, results.unserved);
    const CLadder& ladder = results.ladder;
    table.Row("highest rate with no loss in myfile.txt", Grouped(ladder.dBestRate) + "/s",
              Grouped(dBareAppend) + "/s append", Ratio(ladder.dBestRate, dBareAppend), ">= 1.00",
              Verdict(ladder.dBestRate >= dBareAppend));
    table.Row("  the same against the bare UDP loop", Grouped(ladder.dBestRate) + "/s",
              Grouped(bareUdp.dRate) + "/s UDP", Ratio(ladder.dBestRate, bareUdp.dRate));
    const CLatency& latency = results.latency;
    DelayRow(table, "send to listed at 100/s, 50th percentile", Percentile(latency.vecSeconds, 0.50),
             LISTED_GOAL_SECONDS);
    DelayRow(table, "send to listed at 100/s, 99th percentile", Percentile(latency.vecSeconds, 0.99),
             LISTED_GOAL_SECONDS, latency.nMissing == 0);
    table.Row("  of which send to on disk, 50th percentile", Ms(Percentile(latency.vecOnDiskSeconds, 0.50)));
    table.Row("  of which send to on disk, 99th percentile", Ms(Percentile(latency.vecOnDiskSeconds, 0.99)));
    table.Row("send to listed, the alarm that empties both full lists", Ms(latency.dCapSeconds));
    if (latency.nMissing)
        LossRow(table, "send to listed at 100/s, never listed", latency.nMissing, LATENCY_ALARMS);
    AddLoadRows(table, results.load, results.loadStorm);
    AddRowlessRows(table, results.rowless);
    AddWriterRows(table, results.priority, results.failingLog, results.writableLog);
    table.Row("working set, both lists full", MiB(results.nFullSet), MiB(results.nEmptySet) + " empty",
              Ratio(static_cast<double>(results.nFullSet), static_cast<double>(results.nEmptySet)), "",
              std::to_string(results.nFullMain) + " + " + std::to_string(results.nFullLog) + " rows");

    table.Note("");
    table.Note("Lost alarms are counted against what the caps leave: each list starts afresh at every");
    table.Note("3,000th alarm by design; myfile.txt is then archived beside itself, and the archives count.");
    table.Note("On disk: seen by another reader of myfile.txt polling every millisecond, across the archive");
    table.Note("renames.");
    table.Note("Highest rate: " + Grouped(LADDER_FIRST_RATE) + "/s doubled for " + Fixed(LADDER_SECONDS, 0) +
               " s each until " + ladder.strEnd + ";");
    table.Note("the figure is the rate the sender really reached on the best rung" +
               (ladder.dBestOffered > 0 ? std::string(", which offered ") + Grouped(ladder.dBestOffered) + "/s." : "."));
    table.Note("Working set growth: the peak from before the window's creation until its rows are listed.");
    table.Note("Flushed append: each storm's 99th percentile to disk against that of bare appends, as above,");
    table.Note("on the same disk for the second before that storm.");
    table.Note("Lines without rows: " + std::to_string(ROWLESS_LOG_ALARMS) +
               " alarms, then empty and one-letter lines mixed at random, written to a folder in");
    table.Note("the benchmark's own, flushed, read whole from its start (the bare read), then loaded; the folder");
    table.Note("is removed afterwards. Both reads find the file in the system's cache, as a log just written is.");
    table.Note("Under Wine on Linux the storm figures need net.core.rmem_max at 8 MiB or more");
    table.Note("(sysctl -w net.core.rmem_max=8388608): the kernel caps the buffer Wendle asks for its socket.");
    if (results.load.dSeconds < 0)
        table.Note("The log page list held " + Grouped(results.load.nRows) + " rows when the load was given up.");
    table.Print();
}
