// A window started on a long log: how soon its newest rows are listed, what memory that takes,
// and whether alarms sent while it loads reach the log.
#pragma once

#include <windows.h>

#include <vector>

constexpr int LONG_LOG_LINES = 3000000;
constexpr int LOAD_STORM_ALARMS = 20001;
constexpr double LOAD_STORM_RATE = 5000;

struct CLoad {
    double dSeconds = -1;       // from creating the window until the log page list held its rows
    double dReadSeconds = 0;    // reading the newest rows of the file alone
    double dEmptySeconds = -1;  // a window started without a log, until its receiver listens
    double dLimitSeconds = 0;   // as many bare rows added below the last one of the same list
    int nRows = 0;
    SIZE_T nGrowth = 0;         // the working set's peak over its size before the window
    SIZE_T nEmptyGrowth = 0;    // the same for a window started without a log
};

struct CLoadStorm {
    bool bBound = false;        // the port was seen bound, so the alarms were sent
    int nLost = 0;
    int nDisordered = 0;
    double dSentRate = 0;
    double dBoundSeconds = 0;   // from creating the window until the port was bound
    std::vector<double> vecOnDiskSeconds;
};

// Both in the same temporary folder, with one log of LONG_LOG_LINES lines written for them.
void MeasureLongLog(CLoad& load, CLoadStorm& storm);

// A log whose end holds nothing but lines that give no row, as empty and one-byte datagrams
// leave them: ROWLESS_LOG_ALARMS alarms, then ROWLESS_LOG_BYTES of such lines.
constexpr unsigned long long ROWLESS_LOG_BYTES = 1ULL << 30;
constexpr int ROWLESS_LOG_ALARMS = 10;

struct CRowlessLoad {
    double dSeconds = -1;       // from creating the window until the log page listed the alarms
    double dReadSeconds = -1;   // Wendle's read of the file's rows alone
    double dBareSeconds = -1;   // the file read whole from its start, in reads of the largest size
    int nRows = 0;              // the rows that read found
    unsigned long long nBytes = 0;
};

// In a folder of its own in the current one, which the benchmark's script removes however the
// benchmark ends, so that the file never outlives it.
void MeasureRowlessLog(CRowlessLoad& load);
