// The tray icon: its record, its notifications and the exit from its menu.
#include "WindowTestSupport.h"

#include "TrayIcon.h"

namespace {

using CTrayTest = CMonitorWindowTest;

TEST_F(CTrayTest, TheRecordHoldsTheIconAndThenEachBalloon)
{
    Open();
    NOTIFYICONDATAW& data = Dlg().m_trayIconData;
    EXPECT_EQ(data.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V3_SIZE));
    EXPECT_EQ(data.hWnd, Dlg().GetSafeHwnd());
    EXPECT_EQ(data.uID, 128u);
    EXPECT_EQ(data.uCallbackMessage, 5021u);
    EXPECT_NE(data.hIcon, nullptr);
    EXPECT_EQ(std::wstring(data.szTip), L"Alarm");
    EXPECT_TRUE(TrayIconThere(Dlg())) << "the shell has no icon of the window";
    // The start-up balloon is the last thing written.
    EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(std::wstring(data.szInfo), L"正在监控中...");
    EXPECT_EQ(std::wstring(data.szInfoTitle), L"进程监控程序");
    EXPECT_EQ(data.uTimeout, 3000u);
    EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));

    // A balloon the shell takes, with no text, and the icon still named and tipped as before.
    EXPECT_TRUE(Dlg().ShowBalloon(nullptr, "标题", 1234, NIIF_WARNING)) << "the shell refuses the balloon";
    EXPECT_EQ(std::wstring(data.szInfo), L"");
    EXPECT_EQ(std::wstring(data.szInfoTitle), L"标题");
    EXPECT_EQ(data.hWnd, Dlg().GetSafeHwnd());
    EXPECT_EQ(data.uID, 128u);
    EXPECT_EQ(std::wstring(data.szTip), L"Alarm");

    EXPECT_TRUE(Dlg().DeleteTrayIcon());
    EXPECT_FALSE(TrayIconThere(Dlg())) << "the shell still has the icon";
    EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    // What only a balloon sets stays as the last balloon left it.
    EXPECT_EQ(std::wstring(data.szInfoTitle), L"标题");
}

TEST_F(CTrayTest, NotificationsForOtherIconsAreLeftAlone)
{
    Open();
    Dlg().ShowWindow(SW_HIDE);
    EXPECT_EQ(Dlg().SendMessage(WM_TRAY_NOTIFY, 129, WM_LBUTTONDBLCLK), 1);
    EXPECT_FALSE(Dlg().IsWindowVisible());
    for (LPARAM event : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, NIN_BALLOONSHOW})
        EXPECT_EQ(Dlg().SendMessage(WM_TRAY_NOTIFY, 128, event), 0);
    EXPECT_FALSE(Dlg().IsWindowVisible());
    EXPECT_EQ(Dlg().SendMessage(WM_TRAY_NOTIFY, 128, WM_LBUTTONDBLCLK), 0);
    EXPECT_TRUE(Dlg().IsWindowVisible());
}

TEST_F(CTrayTest, ABalloonClickShowsTheNewestAlarm)
{
    Open();
    ::SetWindowTextW(Dlg().GetDlgItem(IDC_DETAIL_AP), L"stale");
    Dlg().ShowLogPage();
    // Before any alarm the click asks for a row that does not exist: the panel is emptied.
    EXPECT_EQ(Dlg().SendMessage(WM_TRAY_NOTIFY, 128, NIN_BALLOONUSERCLICK), 0);
    EXPECT_TRUE(::IsWindowVisible(AlarmList()));
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "");

    SendAndSettle({"old;1;2;3;", "new;4;5;6;"});
    Dlg().ShowLogPage();
    Dlg().SendMessage(WM_TRAY_NOTIFY, 128, NIN_BALLOONUSERCLICK);
    EXPECT_FALSE(g_pLogPage->IsWindowVisible());
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "marker");
    EXPECT_EQ(DetailText(IDC_DETAIL_TIME), "m");
}

TEST_F(CTrayTest, TheShellRestartAddsTheIconAgain)
{
    Open();
    Dlg().DeleteTrayIcon();
    EXPECT_FALSE(TrayIconThere(Dlg()));
    Dlg().SendMessage(TaskbarCreatedMessage());
    EXPECT_TRUE(TrayIconThere(Dlg()));
    EXPECT_EQ(Dlg().m_trayIconData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
}

TEST_F(CTrayTest, ExitFromTheTrayMenuEndsAHiddenWindowAndRemovesTheIcon)
{
    CMonitorDlg dlg;
    bool bIconThere = false, bExited = false, bIconGoneFirst = false;
    const CTickTimer script(300, [&] {
        if (bExited)
            return;
        bExited = true;
        bIconThere = TrayIconThere(dlg);
        dlg.ShowWindow(SW_HIDE);
        dlg.SendMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
        // The icon is gone before the window is: a balloon for it can no longer be shown.
        bIconGoneFirst = ::IsWindow(dlg) && !TrayIconThere(dlg);
    });
    EXPECT_EQ(DoModalWithin(dlg), IDOK);
    ASSERT_TRUE(bIconThere) << "the shell does not answer for the icon: its removal could not be seen";
    EXPECT_TRUE(bIconGoneFirst);
    ExpectReceiverStopped(dlg);
}

} // namespace
