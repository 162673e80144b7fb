// The table the benchmark prints: every figure beside the machine's limit it is read against,
// and its goal.
#pragma once

#include "LogLoad.h"
#include "MachineLimits.h"
#include "ReceivePath.h"
#include "WriterThreads.h"

struct CResults {
    CBareUdp bareUdp;
    unsigned long long nReceiveBufferCap = 0;
    CBareAppend bareAppend;
    double dListRate = 0;
    bool bStarted = false;      // a live window got UDP 6000
    CStorm storm;
    CUnservedStorm unserved;
    CLatency latency;
    CLadder ladder;
    CLoad load;
    CLoadStorm loadStorm;
    CRowlessLoad rowless;
    CWriterCost failingLog;
    CWriterCost writableLog;
    CPriority priority;
    SIZE_T nEmptySet = 0;
    SIZE_T nFullSet = 0;
    int nFullMain = 0;
    int nFullLog = 0;
};

void PrintReport(const CResults& results);
