// Closing, Exit and the end of the session while alarms keep coming, and the lists' drawing
// while a page hides them.
#include "WindowTestSupport.h"

#include "FloodSupport.h"

namespace {

using CShutdownTest = CMonitorWindowTest;

struct CCloseCase {
    const char* pszName;
    UINT nCommand;
    bool bLogPage;
    bool bHidden;
};

TEST_F(CShutdownTest, CloseAndExitEndTheWindowInAFloodWithEveryLineWhole)
{
    for (const CCloseCase& test : {CCloseCase{"close on the log page", IDC_BTN_CLOSE, true, false},
                                   CCloseCase{"exit while hidden", ID_TRAY_EXIT, false, true},
                                   CCloseCase{"exit from the log page while hidden", ID_TRAY_EXIT, true, true}}) {
        SCOPED_TRACE(test.pszName);
        CTempDir dir;
        CMonitorDlg dlg;
        CFlood flood;
        bool bClosed = false;
        // Once alarms are on disk, the operator closes: from inside the window's own modal loop.
        const CTickTimer script(100, [&] {
            if (bClosed || FileSize(L"myfile.txt") < 20000)
                return;
            bClosed = true;
            if (test.bLogPage)
                dlg.ShowLogPage();
            if (test.bHidden)
                dlg.ShowWindow(SW_HIDE);
            dlg.SendMessage(WM_COMMAND, test.nCommand, 0);
        });
        EXPECT_EQ(DoModalWithin(dlg), IDOK);
        ExpectReceiverStopped(dlg);
        flood.Stop();
        ExpectWholeConsecutiveFloodLines(LoggedBytes());
    }
}

TEST_F(CShutdownTest, TheEndOfTheSessionInAFloodWritesEverythingAndTakesTheIconAway)
{
    Open();
    ASSERT_TRUE(TrayIconThere(Dlg())) << "the shell does not answer for the icon: its removal could not be seen";
    CFlood flood;
    ASSERT_TRUE(PumpUntil([] { return FileSize(L"myfile.txt") > 20000; }));
    EXPECT_EQ(Dlg().SendMessage(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    Dlg().SendMessage(WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // Once the message is answered, Windows may end the process: all is done by then, while
    // the window is still there.
    ASSERT_TRUE(Dlg().GetSafeHwnd() && ::IsWindow(Dlg()));
    ExpectReceiverStopped(Dlg());
    EXPECT_FALSE(TrayIconThere(Dlg())) << "the icon outlives the session";
    const std::string written = LoggedBytes();
    PumpMessages(200);
    EXPECT_EQ(LoggedBytes(), written) << "nothing is written after the end of the session";
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(written);
}

// The receiver's socket, found among the process's handles by the port it is bound to, so that
// what waits in it can be seen without taking anything out.
SOCKET FindReceiverSocket()
{
    for (UINT_PTR h = 4; h < 0x10000; h += 4) {
        sockaddr_in address{};
        int nLength = sizeof(address);
        if (::getsockname(static_cast<SOCKET>(h), reinterpret_cast<sockaddr*>(&address), &nLength) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == ALARM_PORT)
            return static_cast<SOCKET>(h);
    }
    return INVALID_SOCKET;
}

bool SocketDrained(SOCKET s)
{
    u_long nWaiting = 1;
    return ::ioctlsocket(s, FIONREAD, &nWaiting) == 0 && nWaiting == 0;
}

TEST_F(CShutdownTest, WhatTheCloseCannotWriteInTimeIsCountedInOneLine)
{
    Open();
    HANDLE hWriter = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), Dlg().m_hReceiverThread, ::GetCurrentProcess(), &hWriter, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS));
    const SOCKET receiver = FindReceiverSocket();
    ASSERT_NE(receiver, INVALID_SOCKET);
    // The writer stands still, as behind a disk that stalls, while the capture takes in a backlog
    // larger than one batch of the writer.
    constexpr int nBacklog = 10000;
    ASSERT_NE(::SuspendThread(hWriter), static_cast<DWORD>(-1));
    {
        CUdpSender sender;
        for (int i = 0; i < nBacklog; ++i) {
            sender.Send("backlog;" + std::to_string(i));
            // What is tested is the close, not the kernel's buffer: the capture gets to take each
            // hundred in before the next.
            if (i % 100 == 99) {
                ASSERT_TRUE(WaitUntil([receiver] { return SocketDrained(receiver); }));
            }
        }
        // Once the socket is empty after one datagram more, the capture has taken in everything
        // before it.
        sender.Send("fence");
        ASSERT_TRUE(WaitUntil([receiver] { return SocketDrained(receiver); }));
    }
    Dlg().DestroyWindow();
    EXPECT_EQ(Dlg().m_pReceiver, nullptr) << "the close waited for a writer that stood still";
    ::ResumeThread(hWriter);
    const DWORD dwWait = ::WaitForSingleObject(hWriter, CONDITION_DEADLINE);
    ::CloseHandle(hWriter);
    ASSERT_EQ(dwWait, WAIT_OBJECT_0) << "the writer does not end once it may go on";

    const std::string bytes = ReadFileBytes(L"myfile.txt");
    int nWritten = 0;
    std::string lossLine;
    for (std::size_t nStart = 0; nStart < bytes.size();) {
        const std::size_t nEnd = bytes.find("\r\n", nStart);
        const std::string line = bytes.substr(nStart, nEnd - nStart);
        nStart = nEnd + 2;
        if (IsCloseLossLine(line)) {
            lossLine = line;
        } else if (line.compare(0, 8, "backlog;") == 0) {
            ASSERT_EQ(line, "backlog;" + std::to_string(nWritten++));
        }
    }
    ASSERT_FALSE(lossLine.empty()) << "nothing says what the close left";
    EXPECT_GT(nWritten, 0) << "the writer wrote nothing once it could";
    const int nLost = std::stoi(lossLine.substr(sizeof(CLOSE_LOSS_LINE) - 1));
    EXPECT_EQ(nWritten + nLost, nBacklog + 1) << lossLine;
}

// Counts WM_SETREDRAW TRUE reaching a window that is not visible itself.
LRESULT CALLBACK CountRedrawOnHidden(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR pCount)
{
    if (nMsg == WM_SETREDRAW && wParam && !(::GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_VISIBLE))
        ++*reinterpret_cast<int*>(pCount);
    return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
}

TEST_F(CShutdownTest, AlarmsNeverRedrawAListThatThePageHides)
{
    Open();
    int nHiddenRedraws = 0;
    ASSERT_TRUE(::SetWindowSubclass(AlarmList(), CountRedrawOnHidden, 1, reinterpret_cast<DWORD_PTR>(&nHiddenRedraws)));
    Dlg().ShowLogPage();
    SendFenced(Alarms("s", 0, 2000));
    SendAndSettle({});
    EXPECT_EQ(nHiddenRedraws, 0);
    EXPECT_FALSE(::IsWindowVisible(AlarmList())) << "the alarm list shows through the log page";
    EXPECT_EQ(AlarmList().GetItemCount(), 2001);
    Dlg().ShowAlarmPage();
    EXPECT_TRUE(::IsWindowVisible(AlarmList()));
    ::RemoveWindowSubclass(AlarmList(), CountRedrawOnHidden, 1);
}

} // namespace
