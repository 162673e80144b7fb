#include "BenchSupport.h"

#include "AlarmRules.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int SEND_RETRIES = 100;
constexpr DWORD WORKING_SET_SAMPLE_MILLISECONDS = 1;

// The field of a ';'-separated line at this index, or false when the line is shorter.
bool Field(const std::string& strLine, int nIndex, std::string& strField)
{
    std::size_t nStart = 0;
    for (int i = 0; i < nIndex; ++i) {
        nStart = strLine.find(';', nStart);
        if (nStart == std::string::npos)
            return false;
        ++nStart;
    }
    const std::size_t nEnd = strLine.find(';', nStart);
    if (nEnd == std::string::npos)
        return false;
    strField = strLine.substr(nStart, nEnd - nStart);
    return true;
}

} // namespace

LONGLONG g_llFrequency = 1;

LONGLONG QpcNow()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Seconds(LONGLONG llTicks)
{
    return static_cast<double>(llTicks) / static_cast<double>(g_llFrequency);
}

std::string AlarmText(char chPhase, int nSeq, LONGLONG llSentAt)
{
    return std::string("wb") + chPhase + ":" + std::to_string(nSeq) + ";2024-05-01 08:00:00;温度;" +
           std::to_string(llSentAt) + ";";
}

int SeqOf(const std::string& strAp, char chPhase)
{
    const std::string strPrefix = std::string("wb") + chPhase + ":";
    if (strAp.compare(0, strPrefix.size(), strPrefix) != 0 || strAp.size() == strPrefix.size())
        return -1;
    int nSeq = 0;
    for (std::size_t i = strPrefix.size(); i < strAp.size(); ++i) {
        if (strAp[i] < '0' || strAp[i] > '9')
            return -1;
        nSeq = nSeq * 10 + (strAp[i] - '0');
    }
    return nSeq;
}

bool ParseLine(const std::string& strLine, char chPhase, int& nSeq, LONGLONG& llSentAt)
{
    std::string strAp, strSent;
    if (!Field(strLine, 0, strAp) || (nSeq = SeqOf(strAp, chPhase)) < 0 || !Field(strLine, 3, strSent))
        return false;
    llSentAt = std::strtoll(strSent.c_str(), nullptr, 10);
    return true;
}

sockaddr_in LoopbackAddress(unsigned short nPort)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

CSender::CSender(char chPhase, int nCount, double dRate)
    : m_chPhase(chPhase), m_nCount(nCount), m_dRate(dRate), m_vecSentAt(static_cast<std::size_t>(nCount), 0),
      m_thread(&CSender::Run, this)
{
}

CSender::~CSender()
{
    m_thread.join();
}

double CSender::AchievedRate() const
{
    const double dSeconds = Seconds(m_vecSentAt.back() - m_vecSentAt.front());
    return m_nCount > 1 && dSeconds > 0 ? (m_nCount - 1) / dSeconds : 0;
}

void CSender::Run()
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = LoopbackAddress(ALARM_PORT);
    const double dInterval = static_cast<double>(g_llFrequency) / m_dRate;
    // Sleeping is too coarse for short intervals and spinning starves Wendle's own threads on a
    // small machine: spin only for the last quarter interval, and at most a millisecond.
    const auto llSpin = static_cast<LONGLONG>(std::min(dInterval / 4, static_cast<double>(g_llFrequency) / 1000));
    const LONGLONG llStart = QpcNow();
    for (int nSeq = 0; nSeq < m_nCount; ++nSeq) {
        const LONGLONG llDue = llStart + static_cast<LONGLONG>(nSeq * dInterval);
        for (LONGLONG llNow = QpcNow(); llNow < llDue; llNow = QpcNow()) {
            if (llDue - llNow > llSpin)
                ::Sleep(1);
            else
                YieldProcessor();
        }
        const LONGLONG llSentAt = QpcNow();
        const std::string strText = AlarmText(m_chPhase, nSeq, llSentAt);
        // A refused send is tried again, so every sequence number goes out exactly once.
        for (int nTry = 0; nTry < SEND_RETRIES; ++nTry) {
            if (::sendto(s, strText.data(), static_cast<int>(strText.size()), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != SOCKET_ERROR)
                break;
            ::Sleep(0);
        }
        m_vecSentAt[static_cast<std::size_t>(nSeq)] = llSentAt;
    }
    ::closesocket(s);
    m_bDone = true;
}

CWorkingSetPeak::CWorkingSetPeak()
    : m_nPeak(WorkingSet()), m_thread([this] {
          while (!m_bStop) {
              m_nPeak = std::max<SIZE_T>(m_nPeak, WorkingSet());
              ::Sleep(WORKING_SET_SAMPLE_MILLISECONDS);
          }
      })
{
}

CWorkingSetPeak::~CWorkingSetPeak()
{
    m_bStop = true;
    m_thread.join();
}

SIZE_T WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
}

std::string Grouped(double dValue)
{
    std::string strDigits = std::to_string(static_cast<long long>(std::llround(dValue)));
    const std::size_t nFirst = strDigits[0] == '-' ? 1 : 0;
    for (std::size_t i = strDigits.size(); i > nFirst + 3; i -= 3)
        strDigits.insert(i - 3, ",");
    return strDigits;
}

std::string Fixed(double dValue, int nDecimals)
{
    char szText[64];
    std::snprintf(szText, sizeof(szText), "%.*f", nDecimals, dValue);
    return szText;
}

std::string Ms(double dSeconds)
{
    return dSeconds < 0 ? "none" : Fixed(dSeconds * 1000, 1) + " ms";
}

std::string MiB(SIZE_T nBytes)
{
    return Fixed(static_cast<double>(nBytes) / 1048576.0, 1) + " MiB";
}

double Percentile(std::vector<double> vecValues, double dFraction)
{
    if (vecValues.empty())
        return -1;
    std::sort(vecValues.begin(), vecValues.end());
    const auto nRank = static_cast<std::size_t>(std::ceil(dFraction * static_cast<double>(vecValues.size())));
    return vecValues[std::max<std::size_t>(nRank, 1) - 1];
}
