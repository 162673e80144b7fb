// The alarm log file and the log page: what is written, what a restart reads back, the delete
// button and the log page's cap.
#include "WindowTestSupport.h"

#include "AlarmLog.h"

#include <thread>

namespace {

using CLogTest = CMonitorWindowTest;

TEST_F(CLogTest, LogPageListHasItsColumnsInTheirFinalOrder)
{
    Open();
    const std::vector<std::string> headings = {"Ap名称", "日志时间", "告警类型", "告警内容"};
    ASSERT_EQ(LogList().GetColumnCount(), 4);
    for (int nColumn = 0; nColumn < 4; ++nColumn)
        EXPECT_EQ(LogList().GetColumnHeading(nColumn), headings[nColumn]);
    EXPECT_EQ(LogList().GetExtendedStyle(), 0x23u);
    ASSERT_NE(LogList().GetImageList(LVSIL_SMALL), nullptr);
    EXPECT_EQ(ImageList_GetImageCount(LogList().GetImageList(LVSIL_SMALL)), 0);
    EXPECT_FALSE(g_pLogPage->IsWindowVisible());
    EXPECT_FALSE(::IsWindowVisible(g_pLogPage->GetDlgItem(IDC_LOG_EDIT)));
}

TEST_F(CLogTest, EveryDatagramIsOneLineOfItsExactBytes)
{
    Open();
    SendAndSettle({"a;b;c;d;", "a;b;c;d;tail", "", "hello", std::string("x;y\0ignored", 11), "one\r\ntwo;\n;;;",
                   "中文;时间;类型;内容;"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"),
              "a;b;c;d;\r\n"
              "a;b;c;d;tail\r\n"
              "\r\n"
              "hello\r\n"
              "x;y\r\n"
              "one  two; ;;;\r\n"
              "中文;时间;类型;内容;\r\n"
              "marker;m;m;m;\r\n");
}

TEST_F(CLogTest, ARestartShowsTheHistoryNewestFirstReadLikeLiveDatagrams)
{
    WriteFileBytes(L"myfile.txt", "a;b;c;d;\r\n"
                                  ";b;c;d;\r\n"
                                  "a;;c;d;\r\n"
                                  "x\r\n"
                                  "\r\n"
                                  "hello\r\n"
                                  "e;f;g;h;\r\n" +
                                      std::string(1030, 'L') + "\r\n");
    Open();
    // The 1030-byte line is read as a piece of 1023 bytes and one of 7 bytes plus its line feed.
    ASSERT_EQ(LogList().GetItemCount(), 7);
    EXPECT_EQ(Row(LogList(), 0), (std::vector<std::string>{"LLLLLLL", "", "", ""}));
    EXPECT_EQ(Row(LogList(), 1)[0], std::string(31, 'L'));
    EXPECT_EQ(Row(LogList(), 2), (std::vector<std::string>{"e", "f", "g", "h"}));
    EXPECT_EQ(Row(LogList(), 3), (std::vector<std::string>{"hello", "", "", ""}));
    EXPECT_EQ(Row(LogList(), 4), (std::vector<std::string>{"a", "", "c", "d"}));
    EXPECT_EQ(Row(LogList(), 5), (std::vector<std::string>{"", "b", "c", "d"}));
    EXPECT_EQ(Row(LogList(), 6), (std::vector<std::string>{"a", "b", "c", "d"}));
    // The history is only the log page's.
    EXPECT_EQ(AlarmList().GetItemCount(), 0);
}

TEST_F(CLogTest, AFileWrittenByOneRunLoadsIntoTheNext)
{
    Open();
    SendAndSettle({"a;b;c;d;", "e;f;g;h;"});
    Close();
    Open();
    ASSERT_EQ(LogList().GetItemCount(), 3);
    EXPECT_EQ(Row(LogList(), 0), (std::vector<std::string>{"marker", "m", "m", "m"}));
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"e", "f", "g", "h"}));
    EXPECT_EQ(Row(LogList(), 2), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(CLogTest, TheDeleteButtonEmptiesTheListAndRemovesTheFile)
{
    Open();
    // Without a file, the button changes nothing visible.
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    EXPECT_FALSE(FileExists(L"myfile.txt"));
    EXPECT_EQ(LogList().GetItemCount(), 0);

    SendAndSettle({"a;b;c;d;"});
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    EXPECT_EQ(LogList().GetItemCount(), 0);
    EXPECT_FALSE(FileExists(L"myfile.txt"));
    EXPECT_EQ(AlarmList().GetItemCount(), 2);

    SendAndSettle({"e;f;g;h;"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "e;f;g;h;\r\nmarker;m;m;m;\r\n");
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"e", "f", "g", "h"}));
}

TEST_F(CLogTest, TheDeleteButtonWinsWhileAlarmsArrive)
{
    Open();
    std::thread sender([] {
        for (int i = 0; i < 300; ++i)
            SendDatagram("s;" + std::to_string(i) + ";t;c;");
    });
    for (int i = 0; i < 20; ++i) {
        PumpMessages(5);
        ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
        EXPECT_EQ(LogList().GetItemCount(), 0);
    }
    sender.join();
    SendAndSettle({});
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    EXPECT_EQ(LogList().GetItemCount(), 0);
    EXPECT_FALSE(FileExists(L"myfile.txt"));
    EXPECT_EQ(AlarmList().GetItemText(0, 0), "marker");
}

TEST_F(CLogTest, AnAlarmAtTheLogPageCapEmptiesItAndStartsANewFile)
{
    Open();
    FillRows(LogList(), ALARM_LIST_CAP);
    SendAndSettle({"before;b;b;b;"});
    ASSERT_EQ(LogList().GetItemCount(), 2);
    // "before" arrived at the cap: the list and the file started again with it.
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "marker;m;m;m;\r\n");
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"before", "b", "b", "b"}));
    // The main list has its own count.
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
}

TEST_F(CLogTest, ALongLogShowsItsNewestRowsUpToTheCapAndIsKeptWhole)
{
    std::string log;
    for (int i = 0; i < ALARM_LIST_CAP + 10; ++i)
        log += "r;" + std::to_string(i) + ";t;c;\r\n";
    WriteFileBytes(L"myfile.txt", log);
    Open();
    ASSERT_EQ(LogList().GetItemCount(), ALARM_LIST_CAP);
    EXPECT_EQ(LogList().GetItemText(0, 1), std::to_string(ALARM_LIST_CAP + 9));
    EXPECT_EQ(LogList().GetItemText(ALARM_LIST_CAP - 1, 1), "10");
    EXPECT_TRUE(ReadFileBytes(L"myfile.txt") == log);
    // The list is full: the next alarm empties it and starts the file again.
    SendAndSettle({});
    EXPECT_EQ(LogList().GetItemCount(), 1);
    EXPECT_FALSE(FileExists(L"myfile.txt"));
}

TEST_F(CLogTest, AFileHeldOpenForAMomentStillGetsTheLine)
{
    Open();
    HANDLE hHeld = ::CreateFileW(L"myfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    std::thread releaser([hHeld] {
        ::Sleep(200);
        ::CloseHandle(hHeld);
    });
    SendAndSettle({"a;b;c;d;"});
    releaser.join();
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "a;b;c;d;\r\nmarker;m;m;m;\r\n");
}

TEST_F(CLogTest, LinesThatCannotBeWrittenAreKeptAndWrittenLaterInOrder)
{
    Open();
    HANDLE hHeld = ::CreateFileW(L"myfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    SendDatagram("one;1;1;1");
    // The operator hears of it once.
    ASSERT_TRUE(PumpUntil([this] { return Narrow(Dlg().m_trayIconData.szInfo).find("无法写入") != std::string::npos; }));
    SendAndSettle({"two;2;2;2;"});
    // The lists go on as usual meanwhile.
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
    ::CloseHandle(hHeld);
    SendAndSettle({"three;3;3;3;"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"),
              "one;1;1;1\r\ntwo;2;2;2;\r\nmarker;m;m;m;\r\nthree;3;3;3;\r\nmarker;m;m;m;\r\n");
}

} // namespace
