// Closing, Exit and the end of the session while alarms keep coming, and the lists' drawing
// while a page hides them.
#include "WindowTestSupport.h"

#include "FloodSupport.h"
#include "TrayIcon.h"

namespace {

using CShutdownTest = CMonitorWindowTest;

// The lines of the archives and then of the log.
std::string LoggedBytes(const std::vector<std::string>& archives)
{
    std::string bytes;
    for (const std::string& archive : archives)
        bytes += ReadFileBytes(Widen(archive));
    return bytes + ReadFileBytes(L"myfile.txt");
}

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
        static CMonitorDlg* s_pDlg = nullptr;
        static const CCloseCase* s_pCase = nullptr;
        static bool s_bClosedInTime = false;
        s_pDlg = &dlg;
        s_pCase = &test;
        s_bClosedInTime = false;
        CFlood flood;
        // Once alarms are on disk, the operator closes: from inside the window's own modal loop.
        ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR idEvent, DWORD) {
            if (ReadFileBytes(L"myfile.txt").size() < 20000)
                return;
            ::KillTimer(nullptr, idEvent);
            if (s_pCase->bLogPage)
                s_pDlg->ShowLogPage();
            if (s_pCase->bHidden)
                s_pDlg->ShowWindow(SW_HIDE);
            const ULONGLONG start = ::GetTickCount64();
            s_pDlg->SendMessage(WM_COMMAND, s_pCase->nCommand, 0);
            // A liveness bound, not a timing figure: a close that waits for ever fails here.
            s_bClosedInTime = ::GetTickCount64() - start < 30000;
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_TRUE(s_bClosedInTime);
        EXPECT_FALSE(dlg.m_pReceiver->IsListening());
        flood.Stop();
        ExpectWholeConsecutiveFloodLines(LoggedBytes(Archives()));
    }
}

TEST_F(CShutdownTest, TheEndOfTheSessionInAFloodWritesEverythingAndTakesTheIconAway)
{
    Open();
    CFlood flood;
    ASSERT_TRUE(PumpUntil([] { return ReadFileBytes(L"myfile.txt").size() > 20000; }));
    EXPECT_EQ(Dlg().SendMessage(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    Dlg().SendMessage(WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // Once the message is answered, Windows may end the process: all is done by then.
    EXPECT_FALSE(Dlg().m_pReceiver->IsListening());
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V3_SIZE;
    probe.hWnd = Dlg();
    probe.uID = TRAY_ICON_ID;
    probe.uFlags = NIF_TIP;
    EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &probe)) << "the icon outlives the session";
    const std::string written = ReadFileBytes(L"myfile.txt");
    PumpMessages(200);
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), written) << "nothing is written after the end of the session";
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(LoggedBytes(Archives()));
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
    {
        CUdpSender sender;
        for (int i = 0; i < 2000; ++i)
            sender.Send("s;" + std::to_string(i) + ";t;c;");
    }
    SendAndSettle({});
    EXPECT_EQ(nHiddenRedraws, 0);
    EXPECT_FALSE(::IsWindowVisible(AlarmList())) << "the alarm list shows through the log page";
    EXPECT_EQ(AlarmList().GetItemCount(), 2001);
    Dlg().ShowAlarmPage();
    EXPECT_TRUE(::IsWindowVisible(AlarmList()));
    ::RemoveWindowSubclass(AlarmList(), CountRedrawOnHidden, 1);
}

} // namespace
