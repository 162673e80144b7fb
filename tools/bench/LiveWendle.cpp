#include "LiveWendle.h"

#include "AlarmLog.h"
#include "AlarmReceiver.h"
#include "LogPageDlg.h"
#include "TestSupport.h"
#include "Text.h"
#include "resource.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

namespace {

// After the last send, lists that have not changed for this long, with nothing waiting for the
// window, have taken all they ever will.
constexpr DWORD DRAIN_IDLE_MILLISECONDS = 3000;
constexpr DWORD DRAIN_MAX_MILLISECONDS = 120000;
constexpr DWORD PORT_WAIT_MILLISECONDS = 180000;
constexpr DWORD PORT_PROBE_PAUSE = 2000;
constexpr DWORD CLOSE_PUMP_MILLISECONDS = 50;
constexpr DWORD READ_CHUNK = 1 << 20;

// Calls back with every whole line of the file, without its line end.
void ForEachLine(const std::wstring& strPath, const std::function<void(const std::string&)>& onLine)
{
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    std::string strPending;
    std::vector<char> buffer(READ_CHUNK);
    DWORD dwRead = 0;
    while (::ReadFile(hFile, buffer.data(), READ_CHUNK, &dwRead, nullptr) && dwRead > 0) {
        strPending.append(buffer.data(), dwRead);
        std::size_t nStart = 0;
        for (std::size_t nEnd; (nEnd = strPending.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
            onLine(strPending.substr(nStart, nEnd - nStart));
        strPending.erase(0, nStart);
    }
    ::CloseHandle(hFile);
}

// The archives beside the log, oldest first, then the log itself.
std::vector<std::wstring> LogFilesInOrder()
{
    std::vector<std::wstring> vecFiles = ListArchives();
    vecFiles.push_back(ALARM_LOG_FILE);
    return vecFiles;
}

int Disordered(const std::vector<int>& vecSeqs)
{
    int nDisordered = 0;
    for (std::size_t i = 1; i < vecSeqs.size(); ++i)
        nDisordered += vecSeqs[i] <= vecSeqs[i - 1];
    return nDisordered;
}

} // namespace

CLiveWendle::CLiveWendle() : m_pDlg(std::make_unique<CMonitorDlg>())
{
    m_pDlg->Create(IDD_MAIN, nullptr);
}

CLiveWendle::~CLiveWendle()
{
    m_pDlg->DestroyWindow();
    PumpMessages(CLOSE_PUMP_MILLISECONDS);
}

CListCtrl& CLiveWendle::LogList()
{
    return g_pLogPage->m_logList;
}

bool CLiveWendle::IsReady()
{
    return m_pDlg->m_pReceiver->IsListening() && m_pDlg->m_pReceiver->Feed().IsIdle();
}

LONGLONG CLiveWendle::Drain(const CSender& sender, char chPhase, int nLastSeq)
{
    LONGLONG llServed = QpcNow();
    m_dLongestBusy = 0;
    // Called after every message the pump serves.
    auto served = [this, &llServed] {
        const LONGLONG llNow = QpcNow();
        m_dLongestBusy = std::max(m_dLongestBusy, Seconds(llNow - llServed));
        llServed = llNow;
    };
    PumpUntil(
        [&] {
            served();
            return sender.IsDone();
        },
        DRAIN_MAX_MILLISECONDS);
    std::string strTop;
    int nCount = -1;
    ULONGLONG ullChanged = ::GetTickCount64();
    LONGLONG llShown = 0;
    PumpUntil(
        [&] {
            served();
            std::string strNow = MainList().GetItemText(0, 0);
            if (SeqOf(strNow, chPhase) == nLastSeq) {
                llShown = QpcNow();
                return true;
            }
            const ULONGLONG ullNow = ::GetTickCount64();
            if (strNow != strTop || MainList().GetItemCount() != nCount || !m_pDlg->m_pReceiver->Feed().IsIdle()) {
                strTop = std::move(strNow);
                nCount = MainList().GetItemCount();
                ullChanged = ullNow;
            }
            return ullNow - ullChanged >= DRAIN_IDLE_MILLISECONDS;
        },
        DRAIN_MAX_MILLISECONDS);
    return llShown;
}

bool AlarmPortBound()
{
    return PortOwner(ALARM_PORT) != 0;
}

std::unique_ptr<CLiveWendle> StartLiveWendle()
{
    const ULONGLONG ullDeadline = ::GetTickCount64() + PORT_WAIT_MILLISECONDS;
    while (::GetTickCount64() < ullDeadline) {
        if (AlarmPortBound()) {
            std::fprintf(stderr, "bench: UDP port 6000 is in use, waiting\n");
            ::Sleep(PORT_PROBE_PAUSE);
            continue;
        }
        auto pLive = std::make_unique<CLiveWendle>();
        if (PumpUntil([&pLive] { return pLive->IsReady(); }, LIVE_READY_MILLISECONDS))
            return pLive;
        std::fprintf(stderr, "bench: another program took UDP port 6000 first, trying again\n");
    }
    return nullptr;
}

CRecordCount CountList(const std::vector<int>& vecSeqs, int nSent)
{
    // The oldest row is the alarm that emptied the list, and every cap before it emptied
    // ALARM_LIST_CAP rows. A loss before the last cap moves the cap later by as many alarms, so
    // losses of fewer than ALARM_LIST_CAP alarms are counted exactly.
    CRecordCount count;
    count.nHeld = static_cast<int>(vecSeqs.size());
    count.nDisordered = Disordered(vecSeqs);
    const int nEmptied = vecSeqs.empty() ? 0 : vecSeqs.front() / ALARM_LIST_CAP * ALARM_LIST_CAP;
    count.nLost = std::max(0, nSent - nEmptied - count.nHeld);
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

CRecordCount CountOnDisk(const std::vector<int>& vecSeqs, int nSent)
{
    CRecordCount count;
    const std::set<int> setSeqs(vecSeqs.begin(), vecSeqs.end());
    count.nHeld = static_cast<int>(setSeqs.size());
    count.nDisordered = Disordered(vecSeqs);
    count.nLost = std::max(0, nSent - count.nHeld);
    return count;
}

std::vector<int> SeqsOnDisk(char chPhase)
{
    std::vector<int> vecSeqs;
    const std::string strPrefix = std::string("wb") + chPhase + ":";
    for (const std::wstring& strFile : LogFilesInOrder()) {
        ForEachLine(strFile, [&](const std::string& strLine) {
            // Most lines of a long log belong to another phase: only the prefix is looked at.
            if (strLine.compare(0, strPrefix.size(), strPrefix) != 0)
                return;
            const int nSeq = SeqOf(strLine.substr(0, strLine.find(';')), chPhase);
            if (nSeq >= 0)
                vecSeqs.push_back(nSeq);
        });
    }
    return vecSeqs;
}
