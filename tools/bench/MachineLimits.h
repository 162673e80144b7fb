// The limits of the machine the benchmark runs on, measured in the same run as Wendle, so that
// Wendle's figures can be read against them even when the machine is noisy.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CBareUdp {
    double dRate = 0;
    int nSent = 0;
    int nArrived = 0;
};

// A plain blocking recvfrom loop fed by a sender thread in the same process as fast as it can.
CBareUdp MeasureBareUdp();

// The cap on a socket's receive buffer, which Wendle asks 8 MiB of: under Wine, Linux's
// net.core.rmem_max (a storm beyond what the buffer holds is lost before Wendle can take it).
// 0 where there is no such cap to read: Windows grants the buffer asked for.
unsigned long long ReceiveBufferCap();
struct CBareAppend {
    double dRate = 0;           // lines per second
    double dSlowestSeconds = 0; // the longest one line took
    double dP99Seconds = -1;    // what 99 of 100 lines took at most: the machine's flush latency
};

// One open, seek to the end, write, flush to the disk and close for each line.
CBareAppend MeasureBareAppend();
// The same on a file of this name in the current folder, for this long; the file is deleted.
CBareAppend MeasureFlushedAppends(const wchar_t* pszFile, double dSeconds);
// Rows per second inserted at the top of an empty list up to the cap; the best of a few rounds.
// The list is left empty.
double MeasureListInserts(HWND hList);

using CBareRows = std::vector<std::vector<std::wstring>>;
CBareRows BareRows(int nCount);
// Inserts rows into a real list view by the list view's own messages alone, with its redraw
// suspended, each at the top or below the last row; returns the seconds taken.
double InsertBareRows(HWND hList, CBareRows& rows, bool bAtEnd);
