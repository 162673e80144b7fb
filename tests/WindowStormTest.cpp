// Alarm storms: everything that arrives is recorded in order, and the lists keep the newest
// rows with each list's cap applied alarm by alarm, also inside one hand-off.
#include "WindowTestSupport.h"

namespace {

using CStormTest = CMonitorWindowTest;

std::string StormAlarm(int i)
{
    return "s" + std::to_string(i) + ";" + std::to_string(i) + ";t;c;";
}

TEST_F(CStormTest, AStormIsRecordedWholeAndTheListsKeepItsNewestRows)
{
    Open();
    Dlg().m_nAlarmToShow = 7;
    constexpr int nStorm = 5000;
    std::vector<std::string> storm;
    for (int i = 0; i < nStorm; ++i)
        storm.push_back(StormAlarm(i));
    // The window takes nothing until the whole storm is on disk: it comes as one backlog.
    SendFenced(storm);
    SendAndSettle({});
    // Alarm 3000 found both lists full: each list started again with it, and the file with the
    // line after it. The lines up to it are kept in an archive.
    std::string archived, expected;
    for (int i = 0; i < nStorm; ++i)
        (i <= LIST_CAP ? archived : expected) += StormAlarm(i) + "\r\n";
    const std::string bytes = ReadFileBytes(L"myfile.txt");
    EXPECT_TRUE(bytes == expected + "marker;m;m;m;\r\n") << bytes.substr(0, 200);
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(ReadFileBytes(archives[0]) == archived);
    for (CListCtrl* list : {&AlarmList(), &LogList()}) {
        ASSERT_EQ(list->GetItemCount(), nStorm - LIST_CAP + 1);
        for (int nRow = 1; nRow < list->GetItemCount(); ++nRow)
            ASSERT_EQ(list->GetItemText(nRow, 1), std::to_string(nStorm - nRow)) << nRow;
    }
    EXPECT_EQ(Dlg().m_nAlarmToShow, 0);
    EXPECT_EQ(Dlg().LastBalloonText(), "m");
}

TEST_F(CStormTest, ABurstThatCrossesTheLogPageCapSplitsTheFileAtTheCappingAlarm)
{
    // One row short of the cap, from the history.
    const std::string history = HistoryLines(0, LIST_CAP - 1);
    WriteFileBytes(L"myfile.txt", history);
    Open();
    ASSERT_EQ(LogList().GetItemCount(), LIST_CAP - 1);
    {
        CUdpSender sender;
        for (const char* datagram : {"n1", "a1;1;1;1;", "n2", "a2;2;2;2;", "n3", "a3;3;3;3;"})
            sender.Send(datagram);
    }
    SendAndSettle({});
    // a1 filled the list; a2 found it full and went with the old file.
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "n3\r\na3;3;3;3;\r\nmarker;m;m;m;\r\n");
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(ReadFileBytes(archives[0]) == history + "n1\r\na1;1;1;1;\r\nn2\r\na2;2;2;2;\r\n");
    ASSERT_EQ(LogList().GetItemCount(), 3);
    EXPECT_EQ(LogList().GetItemText(2, 0), "a2");
    EXPECT_EQ(AlarmList().GetItemCount(), 4);
}

} // namespace
