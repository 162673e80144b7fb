// Wendle's receive path at work: a storm through a live window, the delay of single alarms,
// and the highest rate it records without loss.
#pragma once

#include "LiveWendle.h"
#include "MachineLimits.h"

#include <string>
#include <vector>

constexpr int STORM_ALARMS = 10000;
constexpr double STORM_RATE = 5000;
constexpr int LATENCY_ALARMS = 200;
constexpr double LATENCY_RATE = 100;
constexpr double LADDER_FIRST_RATE = 2000;
constexpr double LADDER_SECONDS = 2;

struct CStorm {
    CBareAppend flush;          // the machine's flushed appends just before the storm
    CRecordCount file;
    CRecordCount mainList;
    CRecordCount logList;
    double dSentRate = 0;
    // From the last send until that alarm was row 0 of the main list: the backlog left behind.
    double dBacklogSeconds = -1;
    // Alarms per second from the first send until the last one was listed.
    double dThroughput = 0;
    // The longest the window went without serving a message while the storm was listed.
    double dLongestBusySeconds = 0;
    // From the last send until its line was seen in the log by another reader, or -1.
    double dLastOnDiskSeconds = -1;
    // From each send until its line was seen in the log, for every line seen.
    std::vector<double> vecOnDiskSeconds;
    double dReaderPauseSeconds = 0;
};

// Sends the storm to a fresh window, whose lists and log are empty.
CStorm RunStorm(CLiveWendle& live);

// The same storm while the window's thread serves no message at all: the log must not wait
// for the window.
struct CUnservedStorm {
    CBareAppend flush;
    CRecordCount file;
    double dSentRate = 0;
    double dLastOnDiskSeconds = -1;
    std::vector<double> vecOnDiskSeconds;
};

CUnservedStorm RunUnservedStorm(CLiveWendle& live);

// Fills both lists to their cap with alarms that follow the storm.
void FillLists(CLiveWendle& live);

struct CLatency {
    // The alarm that empties both full lists before the others, so that no cap falls among them.
    double dCapSeconds = -1;
    std::vector<double> vecSeconds;
    int nMissing = 0;
    // The part of the way that ends with the line on disk, before the window is fed.
    std::vector<double> vecOnDiskSeconds;
};

// From the send until this thread, pumping the window's messages, finds the row in the list,
// on lists that FillLists left at their cap.
CLatency MeasureLatency(CLiveWendle& live);

struct CLadder {
    double dBestRate = 0;      // the highest rate the sender reached while nothing was lost
    double dBestOffered = 0;   // the rate that rung asked for
    std::string strEnd;        // why the ladder stopped
};

// Doubles the rate from LADDER_FIRST_RATE, each rung on a fresh window, until the log loses an
// alarm or the sender tops out.
CLadder ClimbLadder();
