// The main window under test: created from its real template in a temporary working directory,
// with its real receiver on UDP port 6000.
#pragma once

#include "MonitorDlg.h"
#include "Health.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Rows per list: the alarm that finds a list this full empties it first.
constexpr int LIST_CAP = 3000;
// Datagrams on their way to the log at most: few enough for the smallest socket buffer a system
// gives (a stock Linux kernel caps it at 208 KiB, under Wine as well).
constexpr std::size_t FENCE_DATAGRAMS = 100;

// Sends datagrams that must all arrive, never more than FENCE_DATAGRAMS ahead of what the log
// in the current folder and its archives hold, so that a burst tests the program and not the
// size of the system's socket buffer. For datagrams that are their own log line (no CR, LF or
// NUL, at most 255 bytes). Needs no window served: the log never waits for the window.
class CFencedSender {
public:
    // Waits end early once keepGoing says so.
    explicit CFencedSender(std::function<bool()> keepGoing = [] { return true; })
        : m_keepGoing(std::move(keepGoing)), m_nLogged(LoggedSize()), m_nSent(m_nLogged)
    {
    }
    // Sends once the log holds all but the last FENCE_DATAGRAMS lines sent before; false when it
    // does not come to within the deadline, or the sender is to stop.
    bool Send(const std::string& datagram)
    {
        if (m_dqEnds.size() >= FENCE_DATAGRAMS) {
            if (!WaitForLogged(m_dqEnds.front()))
                return false;
            m_dqEnds.pop_front();
        }
        m_sender.Send(datagram);
        m_nSent += datagram.size() + 2;
        m_dqEnds.push_back(m_nSent);
        return true;
    }
    // Waits until the log holds every line sent.
    bool WaitForAll() { return WaitForLogged(m_nSent); }

private:
    bool WaitForLogged(ULONGLONG nBytes)
    {
        if (m_nLogged >= nBytes)
            return true;
        WaitUntil([&] { return (m_nLogged = LoggedSize()) >= nBytes || !m_keepGoing(); });
        return m_nLogged >= nBytes;
    }

    std::function<bool()> m_keepGoing;
    CUdpSender m_sender;
    ULONGLONG m_nLogged;
    ULONGLONG m_nSent;
    // The log's size once each datagram still on its way is in it.
    std::deque<ULONGLONG> m_dqEnds;
};

// Runs the function on every tick of a timer of this thread until the object goes, however the
// test ends. A tick that comes while the last one is still running (inside a nested message
// loop) is left out.
class CTickTimer {
public:
    CTickTimer(UINT nMilliseconds, std::function<void()> onTick) : m_onTick(std::move(onTick))
    {
        m_idTimer = ::SetTimer(nullptr, 0, nMilliseconds, &CTickTimer::OnTick);
        if (!m_idTimer)
            StopTest("SetTimer: error " + std::to_string(::GetLastError()));
        Timers()[m_idTimer] = this;
    }
    CTickTimer(const CTickTimer&) = delete;
    CTickTimer& operator=(const CTickTimer&) = delete;
    ~CTickTimer()
    {
        ::KillTimer(nullptr, m_idTimer);
        Timers().erase(m_idTimer);
    }

private:
    static std::map<UINT_PTR, CTickTimer*>& Timers()
    {
        static std::map<UINT_PTR, CTickTimer*> timers;
        return timers;
    }
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR idEvent, DWORD)
    {
        const auto it = Timers().find(idEvent);
        if (it == Timers().end() || it->second->m_bTicking)
            return;
        CTickTimer& timer = *it->second;
        timer.m_bTicking = true;
        timer.m_onTick();
        timer.m_bTicking = false;
    }

    UINT_PTR m_idTimer = 0;
    std::function<void()> m_onTick;
    bool m_bTicking = false;
};

// Runs the dialog's real modal loop, which the test drives from its own timers; a script that
// never ends the loop fails the test at the deadline, which ends it.
inline INT_PTR DoModalWithin(CDialog& dlg, DWORD dwDeadline = CONDITION_DEADLINE)
{
    CTickTimer deadline(dwDeadline, [&dlg, dwDeadline] {
        ADD_FAILURE() << "the modal loop still runs after " << dwDeadline / 1000 << " s; ended here";
        // A menu left open would keep its own loop running inside the dialog's.
        ::EndMenu();
        dlg.EndDialog(IDABORT);
    });
    return dlg.DoModal();
}

// After a close: the receiver ended within the close's bound (the window lets go of one that
// does not), and UDP 6000 is free again.
inline void ExpectReceiverStopped(const CMonitorDlg& dlg)
{
    ASSERT_NE(dlg.m_pReceiver, nullptr) << "the receiver did not end within the close's bound";
    EXPECT_FALSE(dlg.m_pReceiver->IsListening());
    EXPECT_NE(PortOwner(), ::GetCurrentProcessId()) << "UDP 6000 is still bound after the close";
}

// Whether the shell knows the window's tray icon: only an icon that is there takes a change.
inline bool TrayIconThere(HWND hWnd)
{
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V3_SIZE;
    probe.hWnd = hWnd;
    probe.uID = 128;
    probe.uFlags = NIF_TIP;
    return ::Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

class CMonitorWindowTest : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    // Creates the window and waits until its receiver takes datagrams and the history it read
    // is listed; the test stops when the window does not come up.
    void Open()
    {
        m_pDlg = std::make_unique<CMonitorDlg>();
        if (!m_pDlg->Create(IDD_MAIN, nullptr))
            StopTest("the main window cannot be created from its template");
        if (!PumpUntil([this] { return m_pDlg->m_pReceiver->IsListening() && m_pDlg->m_pReceiver->Feed().IsIdle(); }))
            StopTest("the receiver does not listen on UDP 6000, or the history it read is not listed");
    }
    // Destroys the window; every close must stop the receiver.
    void Close()
    {
        if (m_pDlg && m_pDlg->GetSafeHwnd()) {
            m_pDlg->DestroyWindow();
            ExpectReceiverStopped(*m_pDlg);
        }
        m_pDlg.reset();
    }
    CMonitorDlg& Dlg() { return *m_pDlg; }
    CAlarmListCtrl& AlarmList() { return m_pDlg->m_alarmList; }
    CAlarmListCtrl& LogList() { return g_pLogPage->m_logList; }

    // Sends the datagrams, then one alarm as a marker, and waits until the marker is row 0 of
    // the alarm list, so that everything sent before it has been handled; the test stops when
    // it does not come.
    void SendAndSettle(const std::vector<std::string>& datagrams)
    {
        // A marker row of an earlier call must not count as this call's.
        if (AlarmList().GetItemText(0, 0) == "marker")
            AlarmList().SetItemText(0, 0, "earlier marker");
        for (const std::string& datagram : datagrams)
            SendDatagram(datagram);
        SendDatagram(MARKER);
        if (!PumpUntil([this] { return AlarmList().GetItemText(0, 0) == "marker"; }))
            StopTest("the marker is not row 0 of the alarm list; row 0 is '" + AlarmList().GetItemText(0, 0) + "'");
    }
    // Sends a burst that must arrive whole, fenced (see CFencedSender); the test stops when the
    // log does not come to hold it.
    static void SendFenced(const std::vector<std::string>& datagrams)
    {
        CFencedSender sender;
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            if (!sender.Send(datagrams[i]))
                StopTest("the log does not come to hold datagram " + std::to_string(i - FENCE_DATAGRAMS) + " of the burst");
        }
        if (!sender.WaitForAll())
            StopTest("the log does not come to hold the end of the burst");
    }
    static std::vector<std::string> Row(CListCtrl& list, int nRow)
    {
        std::vector<std::string> columns;
        for (int nColumn = 0; nColumn < 4; ++nColumn)
            columns.push_back(list.GetItemText(nRow, nColumn));
        return columns;
    }
    // Alarm lines "h;<i>;t;c;" for i in [nFrom, nFrom + nCount), as the file keeps them.
    static std::string HistoryLines(int nFrom, int nCount)
    {
        std::string lines;
        for (int i = nFrom; i < nFrom + nCount; ++i)
            lines += "h;" + std::to_string(i) + ";t;c;\r\n";
        return lines;
    }
    // Alarms "<ap>;<i>;t;c;" for i in [nFrom, nFrom + nCount).
    static std::vector<std::string> Alarms(const std::string& ap, int nFrom, int nCount)
    {
        std::vector<std::string> alarms;
        for (int i = nFrom; i < nFrom + nCount; ++i)
            alarms.push_back(ap + ";" + std::to_string(i) + ";t;c;");
        return alarms;
    }
    // Waits until the log holds these bytes, or is gone for "<absent>". Looking for a file that
    // should be gone does not open it: an open handle would hold up its deletion.
    static bool WaitForLog(const std::string& bytes)
    {
        if (bytes == "<absent>")
            return PumpUntil([] { return !FileExists(L"myfile.txt"); });
        return PumpUntil([&bytes] { return ReadFileBytes(L"myfile.txt") == bytes; });
    }
    std::string DetailText(int nID) const
    {
        wchar_t text[256] = {};
        ::GetWindowTextW(m_pDlg->GetDlgItem(nID), text, 256);
        return Narrow(text);
    }

    static constexpr const char* MARKER = "marker;m;m;m;";
    CTempDir m_dir;
    std::unique_ptr<CMonitorDlg> m_pDlg;
};
