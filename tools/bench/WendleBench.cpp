// wendle_bench: how fast Wendle's receive path runs next to the limits of the machine it runs on.
// Every figure comes from the same run, so the ratios hold even when the machine is noisy. The
// real main window is built from the real templates and runs its real receiver on UDP 6000 with
// the real log file in a temporary current directory.

#include <winsock2.h>

#include "AlarmLog.h"
#include "AlarmReceiver.h"
#include "LogPageDlg.h"
#include "MonitorDlg.h"
#include "TestSupport.h"
#include "Text.h"
#include "resource.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int STORM_ALARMS = 10000;
constexpr double STORM_RATE = 5000;
constexpr int LATENCY_ALARMS = 200;
constexpr double LATENCY_RATE = 100;
constexpr int LOAD_LINES = 100000;
constexpr double LADDER_FIRST_RATE = 2000;
constexpr double LADDER_SECONDS = 2;
// A rung the sender cannot reach is not a rate Wendle was offered.
constexpr double LADDER_REACHED = 0.9;
constexpr DWORD LADDER_SETTLE_MILLISECONDS = 1000;
constexpr int LIST_LIMIT_ROWS = ALARM_LIST_CAP;
constexpr int LIST_LIMIT_ROUNDS = 3;
constexpr double BARE_SECONDS = 1;
constexpr int BARE_UDP_MAX = 200000;
// After the last send, a record that has not changed for this long has taken all it ever will.
constexpr DWORD DRAIN_IDLE_MILLISECONDS = 3000;
constexpr DWORD DRAIN_MAX_MILLISECONDS = 120000;
constexpr DWORD PORT_WAIT_MILLISECONDS = 180000;
constexpr DWORD PORT_PROBE_PAUSE = 2000;
// Long enough for the receiver's own retries of a port that was taken in between.
constexpr DWORD WARMUP_MILLISECONDS = 10000;
constexpr DWORD WARMUP_RESEND_MILLISECONDS = 500;
constexpr DWORD LOAD_MAX_MILLISECONDS = 120000;
constexpr int SEND_RETRIES = 100;

// Each phase tags its alarms, so rows of another phase or of another sender are never counted.
constexpr char PHASE_WARMUP = 'w';
constexpr char PHASE_STORM = 's';
constexpr char PHASE_TOPUP = 't';
constexpr char PHASE_LATENCY = 'l';
constexpr char PHASE_LADDER = 'r';
constexpr char PHASE_LOAD = 'f';
constexpr char PHASE_BARE = 'b';

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

// An alarm as a sender in the field would write it, with the phase and sequence number in the
// AP name and the send time in the content, so a row says by itself when it left.
std::string AlarmText(char chPhase, int nSeq, LONGLONG llSentAt)
{
    return std::string("wb") + chPhase + ":" + std::to_string(nSeq) + ";2024-05-01 08:00:00;温度;" +
           std::to_string(llSentAt) + ";";
}

// The sequence number in an AP name of this phase, or -1 for anything else.
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

// Dispatches at most one posted message; messages sent from other threads are handled inside
// PeekMessage itself. Callers look at the window after every call: under load the queue never
// runs dry, and waiting for that would hide what has already happened.
bool PumpOne()
{
    MSG msg;
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return true;
}

void PumpPending()
{
    while (PumpOne()) {
    }
}

void WaitForMessages(DWORD dwMilliseconds)
{
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMilliseconds, QS_ALLINPUT);
}

sockaddr_in LoopbackAddress(unsigned short nPort)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Sends numbered alarms from a thread of its own at a steady rate, as a sender on the network would.
class CSender {
public:
    CSender(char chPhase, int nCount, double dRate)
        : m_chPhase(chPhase), m_nCount(nCount), m_dRate(dRate),
          m_vecSentAt(static_cast<std::size_t>(nCount), 0), m_thread(&CSender::Run, this)
    {
    }
    CSender(const CSender&) = delete;
    CSender& operator=(const CSender&) = delete;
    ~CSender() { m_thread.join(); }

    bool IsDone() const { return m_bDone; }
    LONGLONG SentAt(int nSeq) const { return m_vecSentAt[static_cast<std::size_t>(nSeq)]; }
    LONGLONG LastSentAt() const { return m_vecSentAt.back(); }
    double AchievedRate() const
    {
        const double dSeconds = Seconds(m_vecSentAt.back() - m_vecSentAt.front());
        return m_nCount > 1 && dSeconds > 0 ? (m_nCount - 1) / dSeconds : 0;
    }

private:
    void Run()
    {
        SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = LoopbackAddress(ALARM_PORT);
        const double dInterval = static_cast<double>(g_llFrequency) / m_dRate;
        // Sleeping is too coarse for short intervals and spinning starves Wendle's own threads
        // on a small machine: spin only for the last quarter interval, and at most a millisecond.
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

    const char m_chPhase;
    const int m_nCount;
    const double m_dRate;
    std::vector<LONGLONG> m_vecSentAt;
    std::atomic<bool> m_bDone{false};
    std::thread m_thread;
};

// Thousands separated, so rates of different size line up for the eye.
std::string Grouped(double dValue)
{
    std::string strDigits = std::to_string(static_cast<long long>(std::llround(dValue)));
    const std::size_t nFirst = strDigits[0] == '-' ? 1 : 0;
    for (std::size_t i = strDigits.size(); i > nFirst + 3; i -= 3)
        strDigits.insert(i - 3, ",");
    return strDigits;
}

// ---- The limits of the machine ----

struct CBareUdp {
    double dRate = 0;
    int nSent = 0;
    int nArrived = 0;
};

// A plain blocking recvfrom loop fed by a sender thread in the same process as fast as it can.
CBareUdp MeasureBareUdp()
{
    CBareUdp result;
    SOCKET rx = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int nBuffer = 8 << 20;
    ::setsockopt(rx, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nBuffer), sizeof(nBuffer));
    const DWORD dwTimeout = 300;
    ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    // Any free port: a fixed one may belong to another program on a shared machine.
    sockaddr_in address = LoopbackAddress(0);
    ::bind(rx, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int nLength = sizeof(address);
    ::getsockname(rx, reinterpret_cast<sockaddr*>(&address), &nLength);

    std::atomic<bool> bSenderDone{false};
    std::atomic<int> nSent{0};
    std::thread sender([&] {
        SOCKET tx = ::socket(AF_INET, SOCK_DGRAM, 0);
        const LONGLONG llEnd = QpcNow() + static_cast<LONGLONG>(BARE_SECONDS * g_llFrequency);
        for (int nSeq = 0; nSeq < BARE_UDP_MAX && QpcNow() < llEnd; ++nSeq) {
            const std::string strText = AlarmText(PHASE_BARE, nSeq, QpcNow());
            if (::sendto(tx, strText.data(), static_cast<int>(strText.size()), 0,
                         reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != SOCKET_ERROR)
                ++nSent;
        }
        ::closesocket(tx);
        bSenderDone = true;
    });

    char buffer[65536];
    LONGLONG llFirst = 0;
    LONGLONG llLast = 0;
    for (;;) {
        const int n = ::recvfrom(rx, buffer, sizeof(buffer), 0, nullptr, nullptr);
        if (n != SOCKET_ERROR) {
            llLast = QpcNow();
            if (result.nArrived++ == 0)
                llFirst = llLast;
        } else if (bSenderDone) {
            break;
        }
    }
    sender.join();
    ::closesocket(rx);
    result.nSent = nSent;
    if (result.nArrived > 1 && llLast > llFirst)
        result.dRate = (result.nArrived - 1) / Seconds(llLast - llFirst);
    return result;
}

// One open, seek to the end, write, flush to the disk and close for every line.
double MeasureBareAppend()
{
    CTempDir dir;
    const std::string strLine = AlarmText(PHASE_BARE, 0, 0) + "\r\n";
    const LONGLONG llStart = QpcNow();
    const LONGLONG llEnd = llStart + static_cast<LONGLONG>(BARE_SECONDS * g_llFrequency);
    int nLines = 0;
    LONGLONG llNow = llStart;
    while (llNow < llEnd) {
        HANDLE hFile = ::CreateFileW(L"bare.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return 0;
        ::SetFilePointerEx(hFile, LARGE_INTEGER{}, nullptr, FILE_END);
        DWORD dwWritten = 0;
        ::WriteFile(hFile, strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten, nullptr);
        ::FlushFileBuffers(hFile);
        ::CloseHandle(hFile);
        ++nLines;
        llNow = QpcNow();
    }
    return nLines / Seconds(llNow - llStart);
}

std::vector<std::vector<std::wstring>> BareRows(int nCount)
{
    std::vector<std::vector<std::wstring>> rows;
    for (int nRow = 0; nRow < nCount; ++nRow) {
        rows.push_back({Widen(std::string("wb") + PHASE_BARE + ":" + std::to_string(nRow)),
                        Widen("2024-05-01 08:00:00"), Widen("温度"), Widen(std::to_string(QpcNow()))});
    }
    return rows;
}

// Inserts rows into a real list view of a real dialog by the list view's own messages alone,
// with its redraw suspended, each at the top or below the last row; returns the seconds taken.
double InsertBareRows(HWND hList, std::vector<std::vector<std::wstring>>& rows, bool bAtEnd)
{
    ::SendMessageW(hList, WM_SETREDRAW, FALSE, 0);
    const LONGLONG llStart = QpcNow();
    for (std::vector<std::wstring>& row : rows) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = bAtEnd ? static_cast<int>(::SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0)) : 0;
        item.pszText = row[0].data();
        const auto nRow =
            static_cast<WPARAM>(::SendMessageW(hList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        for (std::size_t nColumn = 1; nColumn < row.size(); ++nColumn) {
            LVITEMW subItem{};
            subItem.iSubItem = static_cast<int>(nColumn);
            subItem.pszText = row[nColumn].data();
            ::SendMessageW(hList, LVM_SETITEMTEXTW, nRow, reinterpret_cast<LPARAM>(&subItem));
        }
    }
    const double dSeconds = Seconds(QpcNow() - llStart);
    ::SendMessageW(hList, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(hList, nullptr, TRUE);
    PumpPending();
    return dSeconds;
}

// Rows per second inserted at the top of an empty list up to the cap; the best of a few rounds.
double MeasureListInserts(HWND hList)
{
    std::vector<std::vector<std::wstring>> rows = BareRows(LIST_LIMIT_ROWS);
    double dBest = 0;
    for (int nRound = 0; nRound < LIST_LIMIT_ROUNDS; ++nRound) {
        dBest = std::max(dBest, LIST_LIMIT_ROWS / InsertBareRows(hList, rows, false));
        ::SendMessageW(hList, LVM_DELETEALLITEMS, 0, 0);
    }
    return dBest;
}

// ---- Wendle's receive path ----

// What a record of alarms holds and what it missed. Both lists and the log file start afresh at
// every ALARM_LIST_CAP-th alarm by design, so what they once held is worked out from where the
// last cap fell.
struct CRecordCount {
    int nHeld = 0;
    int nLost = 0;
    int nDisordered = 0;
};

// For a list, the oldest row is the alarm that emptied it, and every cap before it emptied
// ALARM_LIST_CAP rows. A loss before the last cap moves the cap later by as many alarms, so
// losses of fewer than ALARM_LIST_CAP alarms are counted exactly.
CRecordCount CountList(const std::vector<int>& vecSeqs, int nSent)
{
    CRecordCount count;
    count.nHeld = static_cast<int>(vecSeqs.size());
    for (std::size_t i = 1; i < vecSeqs.size(); ++i)
        count.nDisordered += vecSeqs[i] <= vecSeqs[i - 1];
    const int nEmptied = vecSeqs.empty() ? 0 : vecSeqs.front() / ALARM_LIST_CAP * ALARM_LIST_CAP;
    count.nLost = std::max(0, nSent - nEmptied - count.nHeld);
    return count;
}

// The file goes with the log page list at its cap, together with the line of the alarm that
// emptied the list: a file that starts past the first cap starts just after such an alarm.
CRecordCount CountFile(const std::vector<int>& vecSeqs, int nSent)
{
    CRecordCount count;
    count.nHeld = static_cast<int>(vecSeqs.size());
    for (std::size_t i = 1; i < vecSeqs.size(); ++i)
        count.nDisordered += vecSeqs[i] <= vecSeqs[i - 1];
    const int nCapAlarm = vecSeqs.empty() ? 0 : vecSeqs.front() - 1;
    const int nDeleted = nCapAlarm >= ALARM_LIST_CAP ? nCapAlarm / ALARM_LIST_CAP * ALARM_LIST_CAP + 1 : 0;
    count.nLost = std::max(0, nSent - nDeleted - count.nHeld);
    return count;
}

std::vector<int> ListSeqs(const CListCtrl& list, char chPhase)
{
    std::vector<int> vecSeqs;
    for (int nRow = list.GetItemCount() - 1; nRow >= 0; --nRow) {
        const int nSeq = SeqOf(list.GetItemText(nRow, 0), chPhase);
        if (nSeq >= 0)
            vecSeqs.push_back(nSeq);
    }
    return vecSeqs;
}

std::vector<int> FileSeqs(char chPhase)
{
    std::string strBytes;
    HANDLE hFile = ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        char buffer[64 * 1024];
        DWORD dwRead = 0;
        while (::ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0)
            strBytes.append(buffer, dwRead);
        ::CloseHandle(hFile);
    }
    std::vector<int> vecSeqs;
    std::size_t nStart = 0;
    while (nStart < strBytes.size()) {
        std::size_t nEnd = strBytes.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strBytes.size();
        const std::size_t nField = strBytes.find(';', nStart);
        if (nField < nEnd) {
            const int nSeq = SeqOf(strBytes.substr(nStart, nField - nStart), chPhase);
            if (nSeq >= 0)
                vecSeqs.push_back(nSeq);
        }
        nStart = nEnd + 1;
    }
    return vecSeqs;
}

bool AlarmPortFree()
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ALARM_PORT);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bFree = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != SOCKET_ERROR;
    ::closesocket(s);
    return bFree;
}

// The real main window in this thread, with its receiver on UDP 6000 and its log in the
// current directory; this thread pumps its messages.
class CLiveWendle {
public:
    CLiveWendle() : m_pDlg(std::make_unique<CMonitorDlg>()) { m_pDlg->Create(IDD_MAIN, nullptr); }
    CLiveWendle(const CLiveWendle&) = delete;
    CLiveWendle& operator=(const CLiveWendle&) = delete;
    ~CLiveWendle()
    {
        m_pDlg->DestroyWindow();
        PumpPending();
    }

    CListCtrl& MainList() { return m_pDlg->m_alarmList; }
    CListCtrl& LogList() { return g_pLogPage->m_logList; }

    // True once an alarm has come through: the receiver, not another program, owns the port.
    // The alarm is sent again until then, since the receiver binds on its own thread.
    bool ComesThrough()
    {
        const ULONGLONG ullDeadline = ::GetTickCount64() + WARMUP_MILLISECONDS;
        while (::GetTickCount64() < ullDeadline) {
            CSender sender(PHASE_WARMUP, 1, 1);
            if (PumpUntil([this] { return SeqOf(MainList().GetItemText(0, 0), PHASE_WARMUP) == 0; },
                          WARMUP_RESEND_MILLISECONDS))
                return true;
        }
        return false;
    }

    // Both lists and the file emptied, as the operator would with the delete button; only
    // while the receiver has nothing in hand.
    void Reset()
    {
        MainList().DeleteAllItems();
        ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
        PumpPending();
    }

    // Pumps until the newest alarm shows as row 0 of the main list, or nothing has changed for
    // a while after the last send (a lost last alarm never shows). Returns when it showed, or 0.
    LONGLONG Drain(const CSender& sender, char chPhase, int nLastSeq)
    {
        PumpUntil([&sender] { return sender.IsDone(); }, DRAIN_MAX_MILLISECONDS);
        std::string strTop;
        int nCount = -1;
        ULONGLONG ullChanged = ::GetTickCount64();
        const ULONGLONG ullDeadline = ullChanged + DRAIN_MAX_MILLISECONDS;
        for (;;) {
            const bool bDispatched = PumpOne();
            std::string strNow = MainList().GetItemText(0, 0);
            if (SeqOf(strNow, chPhase) == nLastSeq)
                return QpcNow();
            const ULONGLONG ullNow = ::GetTickCount64();
            if (strNow != strTop || MainList().GetItemCount() != nCount) {
                strTop = std::move(strNow);
                nCount = MainList().GetItemCount();
                ullChanged = ullNow;
            }
            if (ullNow - ullChanged >= DRAIN_IDLE_MILLISECONDS || ullNow >= ullDeadline)
                return 0;
            if (!bDispatched)
                WaitForMessages(1);
        }
    }

private:
    std::unique_ptr<CMonitorDlg> m_pDlg;
};

// Waits for the port, starts Wendle and makes sure its receiver, not another program, got it.
std::unique_ptr<CLiveWendle> StartLiveWendle()
{
    const ULONGLONG ullDeadline = ::GetTickCount64() + PORT_WAIT_MILLISECONDS;
    while (::GetTickCount64() < ullDeadline) {
        if (!AlarmPortFree()) {
            std::fprintf(stderr, "bench: UDP port 6000 is in use, waiting\n");
            ::Sleep(PORT_PROBE_PAUSE);
            continue;
        }
        auto pLive = std::make_unique<CLiveWendle>();
        if (pLive->ComesThrough())
            return pLive;
        std::fprintf(stderr, "bench: another program took UDP port 6000 first, trying again\n");
    }
    return nullptr;
}

struct CStorm {
    CRecordCount file;
    CRecordCount mainList;
    CRecordCount logList;
    double dSentRate = 0;
    // From the last send until that alarm was row 0 of the main list: the backlog left behind.
    double dBacklogSeconds = -1;
    // Alarms per second from the first send until the last one was listed.
    double dThroughput = 0;
};

CStorm RunStorm(CLiveWendle& live, char chPhase, int nCount, double dRate)
{
    live.Reset();
    CStorm storm;
    CSender sender(chPhase, nCount, dRate);
    const LONGLONG llShown = live.Drain(sender, chPhase, nCount - 1);
    storm.file = CountFile(FileSeqs(chPhase), nCount);
    storm.mainList = CountList(ListSeqs(live.MainList(), chPhase), nCount);
    storm.logList = CountList(ListSeqs(live.LogList(), chPhase), nCount);
    storm.dSentRate = sender.AchievedRate();
    if (llShown) {
        storm.dBacklogSeconds = Seconds(llShown - sender.LastSentAt());
        storm.dThroughput = nCount / Seconds(llShown - sender.SentAt(0));
    }
    return storm;
}

SIZE_T WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
}

// Fills both lists to their cap with alarms that follow the storm.
void FillLists(CLiveWendle& live)
{
    const int nMissing = ALARM_LIST_CAP - std::max(live.MainList().GetItemCount(), live.LogList().GetItemCount());
    if (nMissing <= 0)
        return;
    CSender sender(PHASE_TOPUP, nMissing, 2000);
    live.Drain(sender, PHASE_TOPUP, nMissing - 1);
}

struct CLatency {
    std::vector<double> vecSeconds;
    int nMissing = 0;

    double Percentile(double dFraction) const
    {
        if (vecSeconds.empty())
            return -1;
        std::vector<double> vecSorted = vecSeconds;
        std::sort(vecSorted.begin(), vecSorted.end());
        const auto nRank = static_cast<std::size_t>(std::ceil(dFraction * static_cast<double>(vecSorted.size())));
        return vecSorted[std::max<std::size_t>(nRank, 1) - 1];
    }
};

// From the send until this thread, pumping the window's messages, finds the row in the list. The
// send time is read back from the row itself.
CLatency MeasureLatency(CLiveWendle& live)
{
    live.Reset();
    CLatency latency;
    CListCtrl& list = live.MainList();
    int nNewest = -1;
    CSender sender(PHASE_LATENCY, LATENCY_ALARMS, LATENCY_RATE);
    ULONGLONG ullIdleSince = 0;
    for (;;) {
        const bool bDispatched = PumpOne();
        const LONGLONG llSeen = QpcNow();
        // Rows that came in one batch show together: walk down to the newest one seen before.
        for (int nRow = 0; nRow < list.GetItemCount(); ++nRow) {
            const int nSeq = SeqOf(list.GetItemText(nRow, 0), PHASE_LATENCY);
            if (nSeq <= nNewest)
                break;
            latency.vecSeconds.push_back(Seconds(llSeen - std::stoll(list.GetItemText(nRow, 3))));
        }
        nNewest = std::max(nNewest, SeqOf(list.GetItemText(0, 0), PHASE_LATENCY));
        if (nNewest == LATENCY_ALARMS - 1)
            break;
        if (sender.IsDone()) {
            if (!ullIdleSince)
                ullIdleSince = ::GetTickCount64();
            else if (::GetTickCount64() - ullIdleSince >= DRAIN_IDLE_MILLISECONDS)
                break;
        }
        if (!bDispatched)
            WaitForMessages(1);
    }
    latency.nMissing = LATENCY_ALARMS - static_cast<int>(latency.vecSeconds.size());
    return latency;
}

struct CLadder {
    double dBestRate = 0;      // the highest rate the sender reached while nothing was lost
    double dBestOffered = 0;   // the rate that rung asked for
    std::string strEnd;        // why the ladder stopped
};

// One rung: a fresh Wendle takes the rate while this thread keeps its window going. Then the
// window is closed and the receiver records what it took in without waiting for the lists, so
// the file tells at once whether anything was lost, however far the lists are behind. False
// when the port never came free.
bool RunRung(double dRate, double& dSentRate, CRecordCount& file)
{
    CTempDir dir;
    const int nCount = static_cast<int>(dRate * LADDER_SECONDS);
    std::unique_ptr<CLiveWendle> pLive = StartLiveWendle();
    if (!pLive)
        return false;
    pLive->Reset();
    {
        CSender sender(PHASE_LADDER, nCount, dRate);
        PumpUntil([&sender] { return sender.IsDone(); }, DRAIN_MAX_MILLISECONDS);
        // The receiver's capture thread empties the socket meanwhile; what is still in the
        // socket when the window closes counts as lost.
        PumpUntil([] { return false; }, LADDER_SETTLE_MILLISECONDS);
        dSentRate = sender.AchievedRate();
    }
    pLive.reset();
    file = CountFile(FileSeqs(PHASE_LADDER), nCount);
    return true;
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
        std::fprintf(stderr, "bench: %s/s offered, %s/s sent, %d lost in the file\n", Grouped(dRate).c_str(),
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

struct CLoad {
    double dSeconds = -1;       // from creating the main window until the log page list held its rows
    double dReadSeconds = 0;    // reading and parsing the file alone
    double dLimitSeconds = 0;   // as many bare rows added below the last one of the same list
    int nRows = 0;
};

CLoad MeasureLoad()
{
    CTempDir dir;
    {
        std::string strBytes;
        for (int nLine = 0; nLine < LOAD_LINES; ++nLine)
            strBytes += AlarmText(PHASE_LOAD, nLine, 0) + "\r\n";
        HANDLE hFile = ::CreateFileW(ALARM_LOG_FILE, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
        DWORD dwWritten = 0;
        ::WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
        ::CloseHandle(hFile);
    }
    CLoad load;
    const LONGLONG llRead = QpcNow();
    CAlarmLog().ReadTail(ALARM_LIST_CAP);
    load.dReadSeconds = Seconds(QpcNow() - llRead);

    // The page lists the newest lines up to its cap; the file keeps them all.
    const int nListed = std::min(LOAD_LINES, ALARM_LIST_CAP);
    const LONGLONG llStart = QpcNow();
    CLiveWendle live;
    const bool bLoaded = PumpUntil([&live, nListed] { return live.LogList().GetItemCount() >= nListed; },
                                   LOAD_MAX_MILLISECONDS);
    if (bLoaded)
        load.dSeconds = Seconds(QpcNow() - llStart);
    load.nRows = live.LogList().GetItemCount();
    // Measured right after, on the same list at its full size, so that the ratio holds on a
    // machine whose speed changes from one minute to the next.
    std::vector<std::vector<std::wstring>> rows = BareRows(LIST_LIMIT_ROWS);
    load.dLimitSeconds = InsertBareRows(live.LogList().GetSafeHwnd(), rows, true) * nListed / LIST_LIMIT_ROWS;
    return load;
}

// ---- The table ----

class CTable {
public:
    void Section(const std::string& strTitle) { m_vecRows.push_back({strTitle}); }
    void Row(const std::string& strFigure, const std::string& strValue, const std::string& strLimit = "",
             const std::string& strRatio = "", const std::string& strGoal = "", const std::string& strVerdict = "")
    {
        m_vecRows.push_back({"  " + strFigure, strValue, strLimit, strRatio, strGoal, strVerdict});
    }
    void Note(const std::string& strNote) { m_vecNotes.push_back(strNote); }

    void Print() const
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

private:
    std::vector<std::vector<std::string>> m_vecRows;
    std::vector<std::string> m_vecNotes;
};

std::string Fixed(double dValue, int nDecimals)
{
    char szText[64];
    std::snprintf(szText, sizeof(szText), "%.*f", nDecimals, dValue);
    return szText;
}

std::string Ratio(double dValue, double dLimit)
{
    return dLimit > 0 && dValue >= 0 ? Fixed(dValue / dLimit, 2) : "-";
}

std::string Verdict(bool bMet)
{
    return bMet ? "met" : "MISSED";
}

std::string Ms(double dSeconds)
{
    return dSeconds < 0 ? "none" : Fixed(dSeconds * 1000, 1) + " ms";
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

void AddStormRows(CTable& table, const CStorm& storm, double dListRate)
{
    const std::string strSent = "of " + Grouped(STORM_ALARMS);
    table.Row("storm: lost in myfile.txt", Grouped(storm.file.nLost), strSent, "", "0", Verdict(storm.file.nLost == 0));
    table.Row("storm: lost in the main list", Grouped(storm.mainList.nLost), strSent, "", "0",
              Verdict(storm.mainList.nLost == 0));
    table.Row("storm: lost in the log page list", Grouped(storm.logList.nLost), strSent, "", "0",
              Verdict(storm.logList.nLost == 0));
    const int nDisordered = storm.file.nDisordered + storm.mainList.nDisordered + storm.logList.nDisordered;
    if (nDisordered)
        table.Row("storm: rows out of order", Grouped(nDisordered), "", "", "0", Verdict(false));
    table.Row("storm: sender's real rate", Grouped(storm.dSentRate) + "/s", Grouped(STORM_RATE) + "/s",
              Ratio(storm.dSentRate, STORM_RATE));
    if (storm.dBacklogSeconds < 0) {
        table.Row("storm: last alarm listed after its send", "never");
        return;
    }
    // Every alarm is a row in two lists.
    table.Row("storm: alarms listed per second", Grouped(storm.dThroughput) + "/s",
              Grouped(dListRate / 2) + "/s inserts", Ratio(storm.dThroughput, dListRate / 2));
    table.Row("storm: last alarm listed after its send", Ms(storm.dBacklogSeconds));
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
    // Sleep(1) must mean a millisecond for the sender's pacing.
    ::timeBeginPeriod(1);

    std::fprintf(stderr, "bench: limits of the machine\n");
    const CBareUdp bareUdp = MeasureBareUdp();
    const double dBareAppend = MeasureBareAppend();

    CTable table;
    table.Section("Limits of this machine");
    // When everything arrived, the loop kept up and the figure is the sender's pace.
    table.Row("bare UDP receive loop, loopback", Grouped(bareUdp.dRate) + " datagrams/s", "", "", "",
              Grouped(bareUdp.nArrived) + " of " + Grouped(bareUdp.nSent) + " arrived" +
                  (bareUdp.nArrived == bareUdp.nSent ? ": sender-bound" : ""));
    table.Row("bare append: open/write/flush/close per line", Grouped(dBareAppend) + " lines/s");

    CStorm storm;
    CLatency latency;
    double dListRate = 0;
    SIZE_T nEmptySet = 0;
    SIZE_T nFullSet = 0;
    int nFullMain = 0;
    int nFullLog = 0;
    {
        CTempDir dir;
        std::fprintf(stderr, "bench: starting Wendle on UDP 6000\n");
        std::unique_ptr<CLiveWendle> pLive = StartLiveWendle();
        if (!pLive) {
            std::fprintf(stderr, "bench: UDP port 6000 never came free\n");
            table.Print();
            return 0;
        }
        pLive->Reset();
        nEmptySet = WorkingSet();
        dListRate = MeasureListInserts(pLive->MainList().GetSafeHwnd());
        std::fprintf(stderr, "bench: storm of %d alarms at %.0f/s\n", STORM_ALARMS, STORM_RATE);
        storm = RunStorm(*pLive, PHASE_STORM, STORM_ALARMS, STORM_RATE);
        FillLists(*pLive);
        nFullMain = pLive->MainList().GetItemCount();
        nFullLog = pLive->LogList().GetItemCount();
        nFullSet = WorkingSet();
        std::fprintf(stderr, "bench: latency at %.0f/s\n", LATENCY_RATE);
        latency = MeasureLatency(*pLive);
    }
    std::fprintf(stderr, "bench: highest rate without loss\n");
    const CLadder ladder = ClimbLadder();
    std::fprintf(stderr, "bench: loading a %d-line log\n", LOAD_LINES);
    const CLoad load = MeasureLoad();

    table.Row("list insert at row 0, redraw off", Grouped(dListRate) + " rows/s");
    table.Section("Wendle's receive path (" + RuntimeName() + ")");
    AddStormRows(table, storm, dListRate);
    table.Row("highest rate with no loss in myfile.txt", Grouped(ladder.dBestRate) + "/s",
              Grouped(dBareAppend) + "/s append", Ratio(ladder.dBestRate, dBareAppend), ">= 1.00",
              Verdict(ladder.dBestRate >= dBareAppend));
    table.Row("  the same against the bare UDP loop", Grouped(ladder.dBestRate) + "/s",
              Grouped(bareUdp.dRate) + "/s UDP", Ratio(ladder.dBestRate, bareUdp.dRate));
    const double dP50 = latency.Percentile(0.50);
    const double dP99 = latency.Percentile(0.99);
    table.Row("send to listed at 100/s, 50th percentile", Ms(dP50), "", "", "< 50 ms",
              Verdict(dP50 >= 0 && dP50 < 0.05));
    table.Row("send to listed at 100/s, 99th percentile", Ms(dP99), "", "", "< 50 ms",
              Verdict(dP99 >= 0 && dP99 < 0.05 && latency.nMissing == 0));
    if (latency.nMissing)
        table.Row("send to listed at 100/s, never listed", Grouped(latency.nMissing), "of " + Grouped(LATENCY_ALARMS),
                  "", "0", Verdict(false));
    table.Row("load of a 100,000-line log (3,000 listed)", load.dSeconds < 0 ? "> " + Fixed(LOAD_MAX_MILLISECONDS / 1000.0, 0) + " s"
                                                               : Fixed(load.dSeconds, 2) + " s",
              Fixed(load.dLimitSeconds, 2) + " s appends", Ratio(load.dSeconds, load.dLimitSeconds), "< 2 s",
              Verdict(load.dSeconds >= 0 && load.dSeconds < 2));
    table.Row("  reading and parsing myfile.txt alone", Fixed(load.dReadSeconds, 2) + " s");
    table.Row("working set, both lists full", Fixed(nFullSet / 1048576.0, 1) + " MB",
              Fixed(nEmptySet / 1048576.0, 1) + " MB empty",
              Ratio(static_cast<double>(nFullSet), static_cast<double>(nEmptySet)),
              "", std::to_string(nFullMain) + " + " + std::to_string(nFullLog) + " rows");

    table.Note("");
    table.Note("Lost alarms are counted against what the cap leaves: each list, and myfile.txt with the");
    table.Note("log page list, start afresh at every 3,000th alarm by design.");
    table.Note("Highest rate: " + Grouped(LADDER_FIRST_RATE) + "/s doubled for " + Fixed(LADDER_SECONDS, 0) +
               " s each until " + ladder.strEnd + ";");
    table.Note("the figure is the rate the sender really reached on the best rung" +
               (ladder.dBestOffered > 0 ? std::string(", which offered ") + Grouped(ladder.dBestOffered) + "/s." : "."));
    if (load.dSeconds < 0)
        table.Note("The log page list held " + Grouped(load.nRows) + " rows when the load was given up.");
    table.Print();

    ::timeEndPeriod(1);
    ::WSACleanup();
    return 0;
}
