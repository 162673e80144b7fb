// The tray icon: its record, its notifications and the exit from its menu.
#include "WindowTestSupport.h"

#include "TrayIcon.h"

namespace {

using CTrayTest = CMonitorWindowTest;

TEST_F(CTrayTest, TheRecordHoldsTheIconAndThenEachBalloon)
{
    Open();
    NOTIFYICONDATAW& data = Dlg().m_trayIconData;
    EXPECT_EQ(data.cbSize, static_cast<DWORD>(sizeof(NOTIFYICONDATAW)));
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

TEST_F(CTrayTest, TheShellRestartAddsTheIconAgainAndABalloonItRefusedIsShownOnceItIsThere)
{
    Open();
    Dlg().DeleteTrayIcon();
    EXPECT_FALSE(TrayIconThere(Dlg()));
    Dlg().SendMessage(TaskbarCreatedMessage());
    EXPECT_TRUE(TrayIconThere(Dlg()));
    EXPECT_EQ(Dlg().m_trayIconData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));

    // The icon is gone when the log starts failing: the notice waits for it, and brings it back.
    Dlg().DeleteTrayIcon();
    const CHandle hHeld(::CreateFileW(L"myfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    SendDatagram("a;b;c;d");
    ASSERT_TRUE(PumpUntil([this] { return Dlg().m_health.IsSet(HealthKind::Log); }));
    EXPECT_TRUE(PumpUntil([this] { return Dlg().m_health.Due(::GetTickCount64()).empty() && TrayIconThere(Dlg()); }))
        << "the notice is not shown";
    EXPECT_EQ(Dlg().LastBalloonText().find("无法写入告警日志 myfile.txt"), 0u) << Dlg().LastBalloonText();
}

int IconWidth(HICON hIcon)
{
    ICONINFO info{};
    if (!::GetIconInfo(hIcon, &info))
        return 0;
    const CBitmap color(info.hbmColor), mask(info.hbmMask);
    return color.GetSize().cx;
}

// The system's scaling is read once, when a process starts: the case runs in a second process
// of this program, started at 144 dpi.
constexpr wchar_t SCALED_CHILD[] = L"WENDLE_SCALED_CHILD";

TEST_F(CTrayTest, AtTheSystemsScalingTheTrayIconIsItsOwnImageOfThatSize)
{
    if (::GetEnvironmentVariableW(SCALED_CHILD, nullptr, 0)) {
        ASSERT_EQ(::GetDeviceCaps(CClientDC(nullptr), LOGPIXELSX), 144) << "not started at 144 dpi";
        Open();
        EXPECT_EQ(IconWidth(Dlg().m_trayIconData.hIcon), 24) << "a 16-pixel icon the shell would stretch";
        return;
    }
    HKEY hDesktop = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hDesktop),
              ERROR_SUCCESS);
    DWORD dwOld = 0, cbOld = sizeof(dwOld);
    const bool bHadValue = ::RegQueryValueExW(hDesktop, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwOld),
                                              &cbOld) == ERROR_SUCCESS;
    const DWORD dwScaled = 144;
    ::RegSetValueExW(hDesktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwScaled), sizeof(dwScaled));
    ::SetEnvironmentVariableW(SCALED_CHILD, L"1");
    wchar_t szExe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring commandLine = QuoteArgument(szExe) + L" --gtest_filter=CTrayTest.AtTheSystemsScalingTheTrayIconIsItsOwnImageOfThatSize";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL bStarted = ::CreateProcessW(szExe, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                           &startup, &process);
    ::SetEnvironmentVariableW(SCALED_CHILD, nullptr);
    DWORD dwExit = 1;
    if (bStarted) {
        const CHandle hProcess(process.hProcess), hThread(process.hThread);
        EXPECT_EQ(::WaitForSingleObject(hProcess, CONDITION_DEADLINE * 2), WAIT_OBJECT_0);
        ::GetExitCodeProcess(hProcess, &dwExit);
    }
    if (bHadValue)
        ::RegSetValueExW(hDesktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOld), sizeof(dwOld));
    else
        ::RegDeleteValueW(hDesktop, L"LogPixels");
    ::RegCloseKey(hDesktop);
    ASSERT_TRUE(bStarted);
    EXPECT_EQ(dwExit, 0u) << "the case failed at 144 dpi; its output is above";
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

TEST_F(CTrayTest, AnUpdatesCloseWhileTheTrayMenuIsOpenEndsTheWindow)
{
    CMonitorDlg dlg;
    bool bMenuOpen = false, bMenuReturned = false, bClosedInMenu = false;
    // One timer opens the menu, whose loop runs inside its tick; the other comes in that loop.
    const CTickTimer openMenu(200, [&] {
        if (std::exchange(bMenuOpen, true))
            return;
        dlg.SendMessage(WM_TRAY_NOTIFY, 128, WM_RBUTTONUP);
        bMenuReturned = true;
    });
    const CTickTimer closeForUpdate(700, [&] {
        if (!bMenuOpen || bMenuReturned || std::exchange(bClosedInMenu, true))
            return;
        dlg.SendMessage(WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
        dlg.SendMessage(WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    });
    EXPECT_EQ(DoModalWithin(dlg), IDOK) << "the window outlives the close";
    EXPECT_TRUE(bClosedInMenu) << "the menu's loop never ran";
    ExpectReceiverStopped(dlg);
}

} // namespace
