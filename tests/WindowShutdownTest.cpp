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
