// What every measurement of the benchmark shares: the clock, the alarms it sends and how they
// are read back, and a sender that keeps a steady rate.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// Each phase tags its alarms, so rows of another phase or of another sender are never counted.
constexpr char PHASE_STORM = 's';
constexpr char PHASE_TOPUP = 't';
constexpr char PHASE_UNSERVED = 'u';
constexpr char PHASE_CAP = 'c';
constexpr char PHASE_LATENCY = 'l';
constexpr char PHASE_LADDER = 'r';
constexpr char PHASE_LOAD = 'f';
constexpr char PHASE_LOAD_STORM = 'g';
constexpr char PHASE_ROWLESS = 'n';
constexpr char PHASE_BARE = 'b';
constexpr char PHASE_FAILING = 'x';

extern LONGLONG g_llFrequency;

LONGLONG QpcNow();
double Seconds(LONGLONG llTicks);

// An alarm as a sender in the field would write it, with the phase and sequence number in the
// AP name and the send time in the content, so a row or a line says by itself when it left.
std::string AlarmText(char chPhase, int nSeq, LONGLONG llSentAt);
// The sequence number in an AP name of this phase, or -1 for anything else.
int SeqOf(const std::string& strAp, char chPhase);
// The sequence number and send time of a line of the log, or false for a line of another phase.
bool ParseLine(const std::string& strLine, char chPhase, int& nSeq, LONGLONG& llSentAt);

sockaddr_in LoopbackAddress(unsigned short nPort);

// Sends numbered alarms to UDP 6000 from a thread of its own at a steady rate, as a sender on
// the network would.
class CSender {
public:
    CSender(char chPhase, int nCount, double dRate);
    CSender(const CSender&) = delete;
    CSender& operator=(const CSender&) = delete;
    ~CSender();

    bool IsDone() const { return m_bDone; }
    LONGLONG SentAt(int nSeq) const { return m_vecSentAt[static_cast<std::size_t>(nSeq)]; }
    LONGLONG LastSentAt() const { return m_vecSentAt.back(); }
    double AchievedRate() const;

private:
    void Run();

    const char m_chPhase;
    const int m_nCount;
    const double m_dRate;
    std::vector<LONGLONG> m_vecSentAt;
    std::atomic<bool> m_bDone{false};
    std::thread m_thread;
};

// Follows the process's working set from a thread of its own, so that a peak between two
// looks of the measuring thread is not missed.
class CWorkingSetPeak {
public:
    CWorkingSetPeak();
    CWorkingSetPeak(const CWorkingSetPeak&) = delete;
    CWorkingSetPeak& operator=(const CWorkingSetPeak&) = delete;
    ~CWorkingSetPeak();
    SIZE_T Peak() const { return m_nPeak; }

private:
    std::atomic<bool> m_bStop{false};
    std::atomic<SIZE_T> m_nPeak{0};
    std::thread m_thread;
};

SIZE_T WorkingSet();

// Thousands separated, so rates of different size line up for the eye.
std::string Grouped(double dValue);
std::string Fixed(double dValue, int nDecimals);
std::string Ms(double dSeconds);
std::string MiB(SIZE_T nBytes);

// The value at this fraction of the sorted values, or -1 when there are none.
double Percentile(std::vector<double> vecValues, double dFraction);
