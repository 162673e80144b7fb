// The shipped Wendle.exe, started the way an operator starts it: alone in an empty folder with
// its "image" folder beside it, fed by alarmsend.exe, and watched only from outside its process.
#include "EndToEndSupport.h"

namespace {

TEST_F(CEndToEndTest, RecordsEveryDatagramAndListsOnlyAlarmsNewestFirst)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ReadFileBytes(LogFile()), "<absent>");

    SendAlarm(L"AP-01", L"2024-05-01 08:00:00", L"CPU", L"high");
    SendRaw(L"hello");
    SendRaw(L"");
    // 32 bytes of content: the lists keep the 30 that end on a whole character, the file keeps all.
    SendAlarm(L"机房A", L"2024-05-01 08:00:01", L"温度", L"机房温度过高告警机房温度过高告警");

    // Narrow literals are compiled to code page 936: these are the bytes on the wire.
    const std::string expected = "AP-01;2024-05-01 08:00:00;CPU;high;\r\n"
                                 "hello\r\n"
                                 "\r\n"
                                 "机房A;2024-05-01 08:00:01;温度;机房温度过高告警机房温度过高告警;\r\n";
    EXPECT_TRUE(LogFileIs(expected)) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ASSERT_TRUE(AlarmCountsAre(2, 2)) << ItemCount(m_run.m_hWndAlarmList) << " alarm rows, "
                                      << ItemCount(m_run.m_hWndLogList) << " log rows";

    const CRows rows = {{L"机房A", L"2024-05-01 08:00:01", L"温度", L"机房温度过高告警机房温度过高告"},
                        {L"AP-01", L"2024-05-01 08:00:00", L"CPU", L"high"}};
    EXPECT_EQ(m_run.AlarmRows(), rows);
    EXPECT_EQ(m_run.LogRows(), rows);
}

TEST_F(CEndToEndTest, StartedFromElsewhereWithItsWorkingFolderItWritesTheLogThere)
{
    // As Windows starts it again after an upgrade; an argument it does not know is ignored.
    CTempDir elsewhere;
    m_run.Start(m_dir.Path(), {L"/unknown", L"--working-folder", m_dir.Path()}, elsewhere.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    EXPECT_TRUE(LogFileIs("AP-01;08:00:00;CPU;high;\r\n")) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    EXPECT_FALSE(FileExists(elsewhere.Path() + L"\\myfile.txt"));
}

TEST_F(CEndToEndTest, ClickOnARowShowsItsFieldsInTheDetailPanel)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    SendAlarm(L"机房B", L"08:00:01", L"温度", L"过高");
    ASSERT_TRUE(AlarmCountsAre(2, 2));

    ASSERT_TRUE(BringToFront(m_run.m_hWndMain)) << "the main window does not come to the front";

    // A little right of the row's left edge: the first column, never the border.
    const auto rowPoint = [&](int nRow) {
        const RECT rc = m_run.AlarmRowRect(nRow);
        return POINT{rc.left + 20, (rc.top + rc.bottom) / 2};
    };
    Click(rowPoint(1));
    const CRow older = {L"AP-01", L"08:00:00", L"CPU", L"high"};
    EXPECT_TRUE(PumpUntil([&] { return m_run.DetailPanel() == older; }, EFFECT_TIMEOUT))
        << "detail panel: " << ::testing::PrintToString(m_run.DetailPanel());

    Click(rowPoint(0));
    const CRow newer = {L"机房B", L"08:00:01", L"温度", L"过高"};
    EXPECT_TRUE(PumpUntil([&] { return m_run.DetailPanel() == newer; }, EFFECT_TIMEOUT))
        << "detail panel: " << ::testing::PrintToString(m_run.DetailPanel());
    SaveScreenshot(m_run.m_hWndMain, L"alarm-page.bmp");
}

TEST_F(CEndToEndTest, PointerOverTheHideButtonShowsItsHoverImage)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    ASSERT_TRUE(AlarmCountsAre(1, 1));

    const CPixels normal(m_dir.Path() + L"\\image\\hide_1.bmp");
    const CPixels hover(m_dir.Path() + L"\\image\\hide.bmp");
    ASSERT_FALSE(normal == hover) << "the hide button's images cannot be told apart";
    const RECT rcHide = ScreenRect(::GetDlgItem(m_run.m_hWndMain, IDC_BTN_HIDE));
    // The image sits in the button's top left corner, unscaled.
    const RECT rcImage{rcHide.left, rcHide.top, rcHide.left + normal.Size().cx, rcHide.top + normal.Size().cy};
    const auto shows = [&](const CPixels& image) {
        return PumpUntil([&] { return CPixels(rcImage) == image; }, EFFECT_TIMEOUT);
    };
    EXPECT_TRUE(shows(normal)) << "the hide button does not show its normal image";
    // The operator's window is the active one.
    ASSERT_TRUE(BringToFront(m_run.m_hWndMain)) << "the main window does not come to the front";

    ASSERT_TRUE(MovePointer(Centre(rcHide)));
    EXPECT_TRUE(shows(hover)) << "the hide button does not show its hover image under the pointer";
    // The window system's own hover tracking comes due after the hover time and may repaint
    // the button: the image has to outlast it for as long as the pointer stays.
    UINT nHoverTime = 400;
    ::SystemParametersInfoW(SPI_GETMOUSEHOVERTIME, 0, &nHoverTime, 0);
    PumpMessages(nHoverTime + 500);
    EXPECT_TRUE(CPixels(rcImage) == hover) << "the hover image goes while the pointer stays on the button";
    SaveScreenshot(m_run.m_hWndMain, L"caption-hover.bmp");

    ASSERT_TRUE(MovePointer(PT_AWAY));
    EXPECT_TRUE(shows(normal)) << "the hide button keeps its hover image after the pointer left";
}

TEST_F(CEndToEndTest, DeleteOnTheLogPageEmptiesItAndRemovesTheFileUntilTheNextDatagram)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    SendAlarm(L"AP-02", L"08:00:01", L"内存", L"不足");
    ASSERT_TRUE(AlarmCountsAre(2, 2));

    m_run.ClickMainButton(IDC_BTN_LOG);
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(m_run.m_hWndLogPage) != FALSE; }))
        << "the log page does not show";
    EXPECT_FALSE(::IsWindowVisible(m_run.m_hWndAlarmList));
    SaveScreenshot(m_run.m_hWndMain, L"log-page.bmp");

    m_run.ClickLogPageButton(IDC_LOG_DELETE);
    EXPECT_TRUE(PumpUntil([&] { return ItemCount(m_run.m_hWndLogList) == 0 && !FileExists(LogFile()); }))
        << ItemCount(m_run.m_hWndLogList) << " log rows; myfile.txt holds: " << ReadFileBytes(LogFile());
    // The alarm page keeps what it showed.
    EXPECT_EQ(ItemCount(m_run.m_hWndAlarmList), 2);

    SendAlarm(L"AP-03", L"08:00:02", L"磁盘", L"满");
    EXPECT_TRUE(LogFileIs("AP-03;08:00:02;磁盘;满;\r\n")) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ASSERT_TRUE(AlarmCountsAre(3, 1));
    EXPECT_EQ(m_run.LogRows(), (CRows{{L"AP-03", L"08:00:02", L"磁盘", L"满"}}));
}

TEST_F(CEndToEndTest, NextRunShowsTheHistoryNewestFirstOnTheLogPageOnly)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    SendAlarm(L"a", L"b", L"c", L"d");
    SendAlarm(L"机房A", L"10:00:00", L"温度", L"过高");
    SendRaw(L"x");
    SendAlarm(L"e", L"f", L"g", L"h");
    ASSERT_TRUE(AlarmCountsAre(3, 3));
    ASSERT_TRUE(LogFileIs("a;b;c;d;\r\n机房A;10:00:00;温度;过高;\r\nx\r\ne;f;g;h;\r\n"));
    Close();
    ASSERT_FALSE(HasFatalFailure());

    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(AlarmCountsAre(0, 3)) << ItemCount(m_run.m_hWndLogList) << " log rows";
    EXPECT_EQ(m_run.LogRows(), (CRows{{L"e", L"f", L"g", L"h"}, {L"机房A", L"10:00:00", L"温度", L"过高"},
                                      {L"a", L"b", L"c", L"d"}}));
}

TEST_F(CEndToEndTest, TheRunningProgramHasItsTrayIconAndTheCloseButtonEndsIt)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(TrayIconExists(m_run.m_hWndMain))
        << "the notification area knows no icon " << TRAY_ICON_ID << " of the main window";
    // That the icon goes with the close is checked inside the process, while its window is still
    // there: from outside, the shell drops the icons of a window that is gone anyway.
    Close();
    ASSERT_FALSE(HasFatalFailure());
    DWORD dwExit = STILL_ACTIVE;
    ::GetExitCodeProcess(m_run.m_hProcess, &dwExit);
    EXPECT_EQ(dwExit, 0u);
}

TEST_F(CEndToEndTest, SecondStartHandsOverToTheRunningMonitorHiddenInTheTray)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    m_run.ClickMainButton(IDC_BTN_HIDE);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindowVisible(m_run.m_hWndMain); })) << "the hide button leaves the window";

    HANDLE hSecond = StartProgram(m_dir.Path() + L"\\Wendle.exe", {}, m_dir.Path(), 0);
    ASSERT_NE(hSecond, nullptr);
    EXPECT_EQ(FinishProgram(hSecond), 0u) << "the second Wendle.exe does not end by itself";

    EXPECT_TRUE(PumpUntil([&] {
        return ::IsWindowVisible(m_run.m_hWndMain) && ::GetForegroundWindow() == m_run.m_hWndMain;
    })) << "the running monitor does not come back to the front";
    EXPECT_FALSE(m_run.WaitForExit(0));
    EXPECT_EQ(PortOwner(), m_run.m_dwProcessId);
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    EXPECT_TRUE(AlarmCountsAre(1, 1)) << "the running monitor no longer lists alarms";
}

TEST_F(CEndToEndTest, ALogHeldByAnotherProgramGetsEveryLineOnceReleased)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    // This test program is the other program: it holds the file without sharing, as an editor
    // or a virus scanner may, for longer than Wendle waits for it.
    HANDLE hHeld = ::CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    SendAlarm(L"AP-01", L"1", L"t", L"c");
    SendRaw(L"not an alarm");
    SendAlarm(L"AP-02", L"2", L"t", L"c");
    // The lists go on while the file cannot be written.
    EXPECT_TRUE(AlarmCountsAre(2, 2));
    ::CloseHandle(hHeld);
    SendAlarm(L"AP-03", L"3", L"t", L"c");
    EXPECT_TRUE(LogFileIs("AP-01;1;t;c;\r\nnot an alarm\r\nAP-02;2;t;c;\r\nAP-03;3;t;c;\r\n"))
        << "myfile.txt holds: " << ReadFileBytes(LogFile());
}

} // namespace
