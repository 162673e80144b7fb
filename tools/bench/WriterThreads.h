// The receiver's threads themselves: what the writer costs while the log cannot be written, and
// whether the system runs the capture and writer threads above normal priority as they ask.
#pragma once

#include "LiveWendle.h"

#include <string>

constexpr double FAILING_LOG_RATE = 2000;
constexpr int FAILING_LOG_ALARMS = 10000;

struct CWriterCost {
    bool bStarted = false;
    // The writer thread's CPU time over the flood's duration, as a share of one core.
    double dWriterShare = -1;
    double dSentRate = 0;
};

// A flood sent to a fresh window whose log another program holds without sharing, or, for
// comparison, one whose log can be written.
CWriterCost MeasureWriterCost(bool bLogHeld);

struct CPriority {
    std::string strAsked;    // the writer thread's priority as Windows reports it
    std::string strApplied;  // how the operating system below runs the process's threads
    std::string strVerdict;
};

CPriority ReadPriority(CLiveWendle& live);
