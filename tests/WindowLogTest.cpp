// The alarm log file and the log page: what is written, what a restart reads back, the delete
// button and the log page's cap.
#include "WindowTestSupport.h"

#include <atomic>
#include <thread>

namespace {

using CLogTest = CMonitorWindowTest;

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
    // An editor or a power cut left the last line without its line break: the next line is a
    // line of its own all the same.
    WriteFileBytes(L"myfile.txt", "a;b;c;d;");
    Open();
    SendAndSettle({"e;f;g;h;"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "a;b;c;d;\r\ne;f;g;h;\r\nmarker;m;m;m;\r\n");
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
    EXPECT_TRUE(WaitForLog("<absent>"));
    EXPECT_EQ(AlarmList().GetItemCount(), 2);

    SendAndSettle({"e;f;g;h;"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "e;f;g;h;\r\nmarker;m;m;m;\r\n");
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"e", "f", "g", "h"}));
}

// The second field of each alarm line of the bytes, newest first: the log page's rows as the
// file has them.
std::vector<std::string> LoggedTimesNewestFirst(const std::string& bytes)
{
    std::vector<std::string> times;
    for (std::size_t nStart = 0; nStart < bytes.size();) {
        const std::size_t nEnd = bytes.find("\r\n", nStart);
        const std::string line = bytes.substr(nStart, nEnd - nStart);
        const std::size_t nFirst = line.find(';');
        times.insert(times.begin(), line.substr(nFirst + 1, line.find(';', nFirst + 1) - nFirst - 1));
        nStart = nEnd == std::string::npos ? bytes.size() : nEnd + 2;
    }
    return times;
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
    }
    sender.join();
    SendAndSettle({});
    // No row taken in before a delete came back after it, and none after it went: the page
    // lists exactly what the file holds since the last delete.
    std::vector<std::string> listed;
    for (int nRow = 0; nRow < LogList().GetItemCount(); ++nRow)
        listed.push_back(LogList().GetItemText(nRow, 1));
    EXPECT_EQ(listed, LoggedTimesNewestFirst(ReadFileBytes(L"myfile.txt")));
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    EXPECT_EQ(LogList().GetItemCount(), 0);
    EXPECT_TRUE(WaitForLog("<absent>"));
    EXPECT_EQ(LogList().GetItemCount(), 0);
    EXPECT_EQ(AlarmList().GetItemText(0, 0), "marker");
}

TEST_F(CLogTest, AfterADeleteNoArchiveComesBeforeThe3001stAlarm)
{
    WriteFileBytes(L"myfile.txt", HistoryLines(0, 100));
    Open();
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForLog("<absent>"));
    // The history went with the file: the page fills from nothing, to the cap.
    SendFenced(Alarms("s", 0, LIST_CAP - 1));
    SendAndSettle({});
    EXPECT_TRUE(LogArchives().empty()) << "archived before the cap";
    ASSERT_EQ(LogList().GetItemCount(), LIST_CAP);
    SendAndSettle({});
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    std::string archived;
    for (const std::string& alarm : Alarms("s", 0, LIST_CAP - 1))
        archived += alarm + "\r\n";
    EXPECT_TRUE(ReadFileBytes(archives[0]) == archived + "marker;m;m;m;\r\nmarker;m;m;m;\r\n");
    EXPECT_EQ(LogList().GetItemCount(), 1);
}

TEST_F(CLogTest, AnAlarmAtTheLogPageCapEmptiesItAndArchivesTheFile)
{
    const std::string history = HistoryLines(0, LIST_CAP);
    WriteFileBytes(L"myfile.txt", history);
    Open();
    ASSERT_EQ(LogList().GetItemCount(), LIST_CAP);
    EXPECT_EQ(LogList().GetItemText(0, 1), std::to_string(LIST_CAP - 1));
    SendAndSettle({"before;b;b;b;"});
    ASSERT_EQ(LogList().GetItemCount(), 2);
    // "before" arrived at the cap: the list and the file started again after it, and every
    // line up to it is kept in the archive.
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "marker;m;m;m;\r\n");
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(ReadFileBytes(archives[0]) == history + "before;b;b;b;\r\n");
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"before", "b", "b", "b"}));
    // The main list has its own count.
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
}

TEST_F(CLogTest, ALongLogShowsItsNewestRowsUpToTheCapAndIsArchivedWholeAtTheCapOrItsSizeBound)
{
    const std::string log = HistoryLines(0, LIST_CAP + 10);
    WriteFileBytes(L"myfile.txt", log);
    Open();
    ASSERT_EQ(LogList().GetItemCount(), LIST_CAP);
    EXPECT_EQ(LogList().GetItemText(0, 1), std::to_string(LIST_CAP + 9));
    EXPECT_EQ(LogList().GetItemText(LIST_CAP - 1, 1), "10");
    EXPECT_TRUE(ReadFileBytes(L"myfile.txt") == log);
    // The list is full: the next alarm empties it and the file goes to an archive, whole.
    SendAndSettle({});
    EXPECT_EQ(LogList().GetItemCount(), 1);
    EXPECT_FALSE(FileExists(L"myfile.txt"));
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(ReadFileBytes(archives[0]) == log + "marker;m;m;m;\r\n");

    // Lines that are no rows grow the file all the same: at 16 MiB it is archived too, and the
    // lists keep what they show.
    Close();
    std::string large = HistoryLines(0, 2);
    while (large.size() < (16u << 20))
        large += "\r\n";
    WriteFileBytes(L"myfile.txt", large);
    Open();
    ASSERT_EQ(LogList().GetItemCount(), 2);
    SendAndSettle({"a;b;c;d;"});
    EXPECT_TRUE(WaitUntil([] { return LogArchives().size() == 2; })) << "not archived at its size";
    EXPECT_TRUE(LoggedBytes().substr(log.size() + 15) == large + "a;b;c;d;\r\nmarker;m;m;m;\r\n");
    EXPECT_EQ(LogList().GetItemCount(), 4);
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
}

TEST_F(CLogTest, AtTheCapTheArchivesBeyondAGibibyteGoButNeverTheNewOne)
{
    // Stamped in the future: made while the clock ran ahead, so it counts as the oldest. Its
    // gibibyte (a sparse file) leaves no room for it beside the others.
    {
        HANDLE hAhead = ::CreateFileW(L"myfile-20990101-120000.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(hAhead, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        size.QuadPart = LONGLONG{1} << 30;
        EXPECT_TRUE(::SetFilePointerEx(hAhead, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(hAhead));
        ::CloseHandle(hAhead);
    }
    WriteFileBytes(L"myfile-20200101-000000.txt", "old\r\n");
    WriteFileBytes(L"myfile-20200101-000001.txt", "old\r\n");
    WriteFileBytes(L"myfile-notes.txt", "not an archive");
    WriteFileBytes(L"myfile.txt", HistoryLines(0, LIST_CAP));
    Open();
    SendAndSettle({});
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 3u);
    EXPECT_EQ(archives[0], L"myfile-20200101-000000.txt");
    EXPECT_EQ(archives[1], L"myfile-20200101-000001.txt");
    EXPECT_TRUE(ReadFileBytes(archives[2]) == HistoryLines(0, LIST_CAP) + "marker;m;m;m;\r\n");
    EXPECT_FALSE(FileExists(L"myfile-20990101-120000.txt"));
    EXPECT_TRUE(FileExists(L"myfile-notes.txt"));
}

TEST_F(CLogTest, AViewerThatSharesTheFileHoldsUpNoLine)
{
    Open();
    // How viewers, backup and indexing open the file: reading, and letting others read, write
    // and delete it.
    HANDLE hViewer = ::CreateFileW(L"myfile.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hViewer, INVALID_HANDLE_VALUE);
    SendAndSettle({"a;b;c;d;", "e"});
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "a;b;c;d;\r\ne\r\nmarker;m;m;m;\r\n");
    EXPECT_EQ(Dlg().LastBalloonText(), "m") << "no notice of a failing log";
    ::CloseHandle(hViewer);
}

TEST_F(CLogTest, AnArchiveThatFailsLeavesTheFileGrowingAndTheNextCapTriesAgain)
{
    const std::string history = HistoryLines(0, LIST_CAP);
    WriteFileBytes(L"myfile.txt", history);
    Open();
    std::string expected = history + "cap;c;c;c;\r\nmarker;m;m;m;\r\n";
    {
        // A reader that does not share deletion: the file cannot be renamed while it is open.
        const CHandle hReader(::CreateFileW(L"myfile.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(hReader, INVALID_HANDLE_VALUE);
        SendDatagram("cap;c;c;c;");
        EXPECT_TRUE(PumpUntil([this] { return Dlg().LastBalloonText().find("无法归档告警日志 myfile.txt") == 0; }))
            << Dlg().LastBalloonText();
        SendAndSettle({});
        EXPECT_TRUE(LogArchives().empty());
        EXPECT_TRUE(ReadFileBytes(L"myfile.txt") == expected) << "nothing lost, nothing written twice";
        EXPECT_EQ(LogList().GetItemCount(), 2) << "the list is emptied at its cap all the same";
    }

    const std::vector<std::string> burst = Alarms("s", 0, LIST_CAP - 2);
    SendFenced(burst);
    SendAndSettle({});
    for (const std::string& datagram : burst)
        expected += datagram + "\r\n";
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(ReadFileBytes(archives[0]) == expected + "marker;m;m;m;\r\n");
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), "<absent>") << "the capping marker went with the archive";
}

TEST_F(CLogTest, AlarmsDuringTheStartAreListedAboveTheHistoryAndWrittenAfterIt)
{
    const std::string history = HistoryLines(0, 100);
    WriteFileBytes(L"myfile.txt", history);
    std::atomic<int> nSent{0};
    // Sent from before the port is bound until the window is up: what arrives before the bind
    // is lost to the network, everything after it must be there. The history and the most the
    // sender sends stay under the log page's cap, however long the start takes.
    CTestThread sender([&nSent](const std::atomic<bool>& bGoOn) {
        CUdpSender udp;
        for (int i = 0; bGoOn && i < LIST_CAP - 200; ++i) {
            udp.Send("live;" + std::to_string(i) + ";t;c;");
            nSent = i + 1;
            ::Sleep(1);
        }
    });
    Open();
    // A start quicker than the sender's first turn after the bind is let run until one arrives.
    ASSERT_TRUE(WaitUntil([&history] { return FileSize(L"myfile.txt") > history.size(); })) << "no alarm arrives";
    sender.Stop();
    SendAndSettle({});
    const std::string bytes = ReadFileBytes(L"myfile.txt");
    ASSERT_EQ(bytes.compare(0, history.size(), history), 0);
    std::vector<int> received;
    for (std::size_t start = history.size(); start < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end - start);
        if (line.compare(0, 5, "live;") == 0)
            received.push_back(std::stoi(line.substr(5)));
        start = end + 2;
    }
    ASSERT_FALSE(received.empty());
    for (std::size_t i = 1; i < received.size(); ++i)
        ASSERT_EQ(received[i], received[i - 1] + 1) << "a gap after " << received[i - 1];
    EXPECT_EQ(received.back(), nSent - 1);
    const int nLive = static_cast<int>(received.size()) + 1;
    ASSERT_EQ(LogList().GetItemCount(), 100 + nLive);
    EXPECT_EQ(LogList().GetItemText(1, 1), std::to_string(received.back()));
    EXPECT_EQ(LogList().GetItemText(nLive, 1), "99");
    EXPECT_EQ(AlarmList().GetItemCount(), nLive);
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
    SendDatagram("a;b;c;d;");
    // A writer that gave up on the file would have warned the operator, in a balloon of its own:
    // it waits out the hold instead.
    bool bWarned = false;
    const bool bWritten = PumpUntil([&] {
        bWarned = bWarned || Dlg().m_trayIconData.dwInfoFlags == NIIF_WARNING;
        return ReadFileBytes(L"myfile.txt") == "a;b;c;d;\r\n" && AlarmList().GetItemCount() == 1;
    });
    releaser.join();
    EXPECT_TRUE(bWritten) << ReadFileBytes(L"myfile.txt");
    EXPECT_FALSE(bWarned) << Dlg().LastBalloonText();
}

TEST_F(CLogTest, LinesThatCannotBeWrittenAreKeptAndWrittenLaterInOrder)
{
    Open();
    HANDLE hHeld = ::CreateFileW(L"myfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    SendDatagram("one;1;1;1");
    // The operator hears of it once.
    ASSERT_TRUE(PumpUntil([this] { return Dlg().LastBalloonText().find("无法写入") != std::string::npos; }));
    SendAndSettle({"two;2;2;2;"});
    // The lists go on as usual meanwhile.
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
    ::CloseHandle(hHeld);
    SendAndSettle({"three;3;3;3;"});
    // The file is tried again within a second of its last failure.
    EXPECT_TRUE(WaitForLog("one;1;1;1\r\ntwo;2;2;2;\r\nmarker;m;m;m;\r\nthree;3;3;3;\r\nmarker;m;m;m;\r\n"))
        << ReadFileBytes(L"myfile.txt");
    EXPECT_TRUE(PumpUntil([this] { return Dlg().LastBalloonText() == "告警日志 myfile.txt 已恢复写入"; })) << Dlg().LastBalloonText();
}

} // namespace
