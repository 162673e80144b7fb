// The road from the socket to the lists, without a window: the queue the capture fills, the
// tail read of the log, the feed the window applies, and the names of the log's archives.
#include "AlarmFeed.h"
#include "AlarmRules.h"
#include "DatagramQueue.h"
#include "LogTail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <future>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

TEST(DatagramQueueTest, BatchesKeepArrivalOrderAndEndAtADeleteRequest)
{
    CDatagramQueue queue;
    for (const char* text : {"1", "2", "3"})
        ASSERT_TRUE(queue.Push(text));
    queue.PushDeleteRequest();
    queue.PushDeleteRequest();
    queue.Push("4");
    CIntake intake;
    ASSERT_EQ(queue.Take(intake, 2, 0ms), TakeResult::Taken);
    EXPECT_EQ(intake.texts, (Texts{"1", "2"}));
    EXPECT_FALSE(intake.bDeleteLog);
    ASSERT_EQ(queue.Take(intake, 10, 0ms), TakeResult::Taken);
    EXPECT_EQ(intake.texts, (Texts{"3"}));
    EXPECT_TRUE(intake.bDeleteLog);
    // Two deletes in a row: the second comes with no text before it.
    ASSERT_EQ(queue.Take(intake, 10, 0ms), TakeResult::Taken);
    EXPECT_TRUE(intake.texts.empty());
    EXPECT_TRUE(intake.bDeleteLog);
    ASSERT_EQ(queue.Take(intake, 10, 0ms), TakeResult::Taken);
    EXPECT_EQ(intake.texts, (Texts{"4"}));
    EXPECT_FALSE(intake.bDeleteLog);
    EXPECT_EQ(queue.Take(intake, 10, 0ms), TakeResult::TimedOut);
}

TEST(DatagramQueueTest, DropsAndCountsWhenFullButNeverADeleteRequest)
{
    CDatagramQueue byCount(1u << 20, 2);
    EXPECT_TRUE(byCount.Push("a"));
    EXPECT_TRUE(byCount.Push("b"));
    EXPECT_FALSE(byCount.Push("c"));
    byCount.PushDeleteRequest();
    EXPECT_EQ(byCount.TakeDropped(), 1u);
    EXPECT_EQ(byCount.TakeDropped(), 0u);
    CIntake intake;
    ASSERT_EQ(byCount.Take(intake, 10, 0ms), TakeResult::Taken);
    EXPECT_EQ(intake.texts, (Texts{"a", "b"}));
    EXPECT_TRUE(intake.bDeleteLog);

    // Each text costs its size plus 32 bytes.
    CDatagramQueue byBytes(2 * (4 + 32) + 3, 100);
    EXPECT_TRUE(byBytes.Push("aaaa"));
    EXPECT_TRUE(byBytes.Push("bbbb"));
    EXPECT_FALSE(byBytes.Push("")) << "3 bytes left cannot hold even an empty text";
    ASSERT_EQ(byBytes.Take(intake, 1, 0ms), TakeResult::Taken);
    EXPECT_TRUE(byBytes.Push("cccc")) << "taking a text frees its bytes";
    bool bDeleteLog = true;
    EXPECT_EQ(byBytes.Discard(bDeleteLog), 2u);
    EXPECT_FALSE(bDeleteLog);
    EXPECT_TRUE(byBytes.Push("dddd")) << "discarding frees every byte";
    EXPECT_TRUE(byBytes.Push("eeee"));
}

TEST(DatagramQueueTest, StopWakesTheWriterOnlyOnceEverythingIsTaken)
{
    CDatagramQueue queue;
    auto waiter = std::async(std::launch::async, [&queue] {
        CIntake intake;
        return queue.Take(intake, 10, std::chrono::minutes(5));
    });
    queue.Stop();
    EXPECT_EQ(waiter.get(), TakeResult::Finished);

    CDatagramQueue draining;
    draining.Push("before");
    draining.Stop();
    draining.Push("after");
    CIntake intake;
    ASSERT_EQ(draining.Take(intake, 10, 0ms), TakeResult::Taken);
    EXPECT_EQ(intake.texts, (Texts{"before", "after"}));
    EXPECT_EQ(draining.Take(intake, 10, 0ms), TakeResult::Finished);
}

// The rows a read of the whole file from its start lists, newest first.
std::vector<CAlarmRow> RowsReadForward(const std::string& file)
{
    std::vector<CAlarmRow> rows;
    std::vector<std::string> columns;
    for (const std::string& piece : SplitLogPieces(file)) {
        if (ParseLogPiece(piece, columns))
            rows.push_back(columns);
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

std::vector<CAlarmRow> Tail(const std::string& file, std::size_t nMaxRows, std::size_t* pnBytesRead = nullptr,
                            std::size_t nReadMax = LOG_TAIL_READ_MAX)
{
    const LogByteReader readAt = [&file, pnBytesRead](std::uint64_t offset, std::size_t size, char* out) {
        if (offset + size > file.size())
            return false;
        std::memcpy(out, file.data() + offset, size);
        if (pnBytesRead)
            *pnBytesRead += size;
        return true;
    };
    return ReadLogTail(file.size(), readAt, nMaxRows, nReadMax);
}

TEST(LogTailTest, ReadsTheNewestRowsExactlyAsAReadFromTheStart)
{
    // A run of lines that give no row, as empty and one-byte datagrams leave them, longer than
    // the first read, with now and then a line just long enough for a row.
    const char* const rowlessLines[] = {"\r\n", "x\r\n", "\n", "\r\r\n"};
    const char* const justRows[] = {"ab\r\n", "ab\n", "x\r\r\n"};
    std::string rowless;
    for (int i = 0; rowless.size() < 70000; ++i)
        rowless += i % 5000 == 4999 ? justRows[i / 5000 % 3] : rowlessLines[i * 7 % 11 % 4];
    // Lines of every kind the reading rules treat apart, in random files, many of them larger
    // than the tail read's first read of 64 KiB, some with a line longer than it, read in reads
    // of every size.
    const std::vector<std::string> lines = {
        "a;b;c;d;\r\n", ";b;c;d;\r\n", "x\r\n", "\r\n", "\n", "hello\n", "e;f;g;h;", "cr\rinside\r\n", "\r\r\n",
        std::string(1021, 'L') + "\r\n", std::string(1022, 'M') + "\r\n", std::string(1023, 'N') + "\r\n",
        std::string(2046, 'O') + "\n", std::string(3000, 'P') + ";q;\r\n", "ends with cr\r",
        std::string(20000, 'Q') + "\r\n", std::string(65535, 'R') + "\r\n", std::string(70000, 'S') + "\n", rowless,
    };
    std::mt19937 random(12345);
    for (int nFile = 0; nFile < 300; ++nFile) {
        std::string file;
        const int nLines = static_cast<int>(random() % 40);
        for (int i = 0; i < nLines; ++i)
            file += lines[random() % lines.size()];
        const std::vector<CAlarmRow> all = RowsReadForward(file);
        for (std::size_t nMax : {std::size_t{1}, std::size_t{3}, std::size_t{70}, std::size_t{1000}}) {
            const std::vector<CAlarmRow> expected(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(nMax, all.size())));
            const std::size_t nReadMax = nMax == 1000 ? LOG_TAIL_READ_MAX : 1 + random() % 300;
            std::size_t nBytesRead = 0;
            ASSERT_EQ(Tail(file, nMax, &nBytesRead, nReadMax), expected)
                << "file " << nFile << ", at most " << nMax << ", reads of " << nReadMax;
            ASSERT_LE(nBytesRead, file.size()) << "file " << nFile << ", reads of " << nReadMax;
        }
    }
    // A row just below such a run, wherever the run's windows leave off.
    for (const char* pszRow : justRows) {
        for (std::size_t nRun = 0; nRun < 300; ++nRun) {
            const std::string file = pszRow + rowless.substr(rowless.size() - nRun);
            ASSERT_EQ(Tail(file, 1000), RowsReadForward(file)) << "a run of " << nRun << " bytes";
        }
    }
}

TEST(LogTailTest, ReadsEachByteOfTheTailOnceAndStopsAtAReadError)
{
    std::string file;
    for (int i = 0; i < 200000; ++i)
        file += "ap;" + std::to_string(i) + ";t;c;\r\n";
    std::size_t nBytesRead = 0;
    const std::vector<CAlarmRow> rows = Tail(file, 3000, &nBytesRead);
    ASSERT_EQ(rows.size(), 3000u);
    EXPECT_EQ(rows.front()[1], "199999");
    EXPECT_EQ(rows.back()[1], "197000");
    EXPECT_LT(nBytesRead, 256u * 1024) << "of a " << file.size() << "-byte file";

    // A line of 200 KB, about 200 rows, between short ones: read once, not once for each row.
    const std::string longLine = "a;b;c;d;" + std::string(200 * 1024, 'L') + "\r\n";
    const std::string mixed = file.substr(0, 1000) + longLine + "x;y;z;w;\r\n";
    nBytesRead = 0;
    EXPECT_EQ(Tail(mixed, 1000, &nBytesRead), RowsReadForward(mixed));
    EXPECT_LE(nBytesRead, mixed.size());

    const LogByteReader failing = [](std::uint64_t, std::size_t, char*) { return false; };
    EXPECT_TRUE(ReadLogTail(file.size(), failing, 3000).empty());
    // A read that fails part-way ends the load with the newest rows, those read before it.
    const std::uint64_t failBelow = file.size() - 100000;
    const LogByteReader failingPartWay = [&file, failBelow](std::uint64_t offset, std::size_t size, char* out) {
        if (offset < failBelow)
            return false;
        std::memcpy(out, file.data() + offset, size);
        return true;
    };
    const std::vector<CAlarmRow> newest = ReadLogTail(file.size(), failingPartWay, 100000);
    const std::vector<CAlarmRow> all = Tail(file, 100000);
    ASSERT_FALSE(newest.empty());
    ASSERT_LT(newest.size(), all.size());
    EXPECT_TRUE(std::equal(newest.begin(), newest.end(), all.begin()));
}

CFeedAlarm Alarm(int n, bool bCapsLog = false, bool bCapsMain = false)
{
    CFeedAlarm alarm;
    std::snprintf(alarm.record.szApName, sizeof(alarm.record.szApName), "%d", n);
    alarm.bCapsLog = bCapsLog;
    alarm.bCapsMain = bCapsMain;
    return alarm;
}

// A list as the window keeps it, and the same list as one alarm at a time leaves it.
struct CListPair {
    std::deque<std::string> fed, reference;
};

TEST(AlarmFeedTest, ApplyingInAnySlicesEndsAsOneAlarmAtATime)
{
    constexpr int CAP = 7;
    std::mt19937 random(777);
    for (int nRun = 0; nRun < 200; ++nRun) {
        CAlarmFeed feed;
        CListPair log, main;
        int nLogRows = static_cast<int>(random() % (CAP + 1)), nMainRows = 0;
        std::vector<CAlarmRow> history;
        for (int i = 0; i < nLogRows; ++i) {
            history.push_back({"h" + std::to_string(i)});
            log.reference.push_back(history.back()[0]);
        }
        feed.PublishHistory(history);
        int nNext = 0;
        const auto apply = [&](std::size_t nMax) {
            CFeedSlice slice;
            const bool bMore = feed.Take(slice, nMax);
            EXPECT_LE(slice.RowCount(), nMax);
            // Whatever waits, the feed never holds more for a list than the list can show.
            EXPECT_LE(slice.logRows.size() + slice.history.size(), static_cast<std::size_t>(CAP));
            EXPECT_LE(slice.mainRows.size(), static_cast<std::size_t>(CAP));
            if (slice.bClearLog)
                log.fed.clear();
            for (const CAlarmRow& row : slice.logRows)
                log.fed.push_front(row[0]);
            for (const CAlarmRow& row : slice.history)
                log.fed.push_back(row[0]);
            if (slice.bClearMain)
                main.fed.clear();
            for (const CAlarmRow& row : slice.mainRows)
                main.fed.push_front(row[0]);
            return bMore;
        };
        for (int nStep = 0; nStep < 30; ++nStep) {
            if (random() % 4 == 0) {
                // Now and then everything waiting at once.
                apply(random() % 3 == 0 ? SIZE_MAX : 1 + random() % 10);
                continue;
            }
            if (random() % 10 == 0) {
                feed.PublishLogCleared();
                log.reference.clear();
                nLogRows = 0;
                continue;
            }
            std::vector<CFeedAlarm> alarms;
            for (int i = static_cast<int>(random() % 20); i > 0; --i) {
                const CFeedAlarm alarm = Alarm(nNext++, nLogRows >= CAP, nMainRows >= CAP);
                nLogRows = alarm.bCapsLog ? 1 : nLogRows + 1;
                nMainRows = alarm.bCapsMain ? 1 : nMainRows + 1;
                for (auto [pList, bCaps] : {std::pair{&log, alarm.bCapsLog}, std::pair{&main, alarm.bCapsMain}}) {
                    if (bCaps)
                        pList->reference.clear();
                    pList->reference.push_front(alarm.record.szApName);
                }
                alarms.push_back(alarm);
            }
            feed.PublishAlarms(alarms);
        }
        while (apply(1 + random() % 10)) {
        }
        EXPECT_TRUE(feed.IsIdle());
        ASSERT_EQ(log.fed, log.reference) << "run " << nRun;
        ASSERT_EQ(main.fed, main.reference) << "run " << nRun;
    }
}

TEST(AlarmFeedTest, WakesTheWindowOnceUntilItHasTakenEverythingAndNotAfterClosing)
{
    CAlarmFeed feed;
    EXPECT_TRUE(feed.PublishAlarms({Alarm(1)}));
    EXPECT_FALSE(feed.PublishAlarms({Alarm(2)})) << "already woken";
    EXPECT_FALSE(feed.PublishHealth({HealthKind::Port, true, ErrorDetail(10048)}));
    CFeedSlice slice;
    EXPECT_TRUE(feed.Take(slice, 1)) << "one row is still waiting";
    EXPECT_FALSE(feed.PublishAlarms({Alarm(3)})) << "the window comes back by itself";
    EXPECT_FALSE(feed.Take(slice, 10));
    EXPECT_EQ(slice.logRows.size(), 3u);
    EXPECT_EQ(slice.mainRows.size(), 2u) << "the first slice took one";
    EXPECT_TRUE(feed.PublishLogCleared());
    feed.WakeFailed();
    EXPECT_TRUE(feed.PublishHealth({HealthKind::Port, false, {}})) << "a lost wake-up is sent again";
    // Each kind waits once: a condition's latest change, an event's total.
    feed.PublishHealth({HealthKind::Dropped, true, CountDetail(5)});
    feed.PublishHealth({HealthKind::Dropped, true, CountDetail(7)});
    feed.Take(slice, 10);
    ASSERT_EQ(slice.health.size(), 2u);
    EXPECT_FALSE(slice.health[0].bSet) << "the port's clear replaced its set";
    EXPECT_EQ(slice.health[1].detail.nCount, 12u);
    feed.Close();
    EXPECT_FALSE(feed.PublishAlarms({Alarm(4)}));
    EXPECT_FALSE(feed.Take(slice, 10));
    EXPECT_EQ(slice.RowCount(), 0u);
}

TEST(AlarmFeedTest, EverySliceServesBothListsSoTheAlarmListNeverStarves)
{
    CAlarmFeed feed;
    feed.PublishHistory(std::vector<CAlarmRow>(3000, CAlarmRow{"h"}));
    feed.PublishAlarms({Alarm(1), Alarm(2)});
    CFeedSlice slice;
    EXPECT_TRUE(feed.Take(slice, 100));
    EXPECT_EQ(slice.mainRows.size(), 2u) << "the alarm list and its balloon wait behind the log page's rows";
    EXPECT_EQ(slice.RowCount(), 100u);
    // Alone, either list has the whole slice.
    EXPECT_TRUE(feed.Take(slice, 100));
    EXPECT_EQ(slice.history.size() + slice.logRows.size(), 100u);
    CAlarmFeed mainOnly;
    std::vector<CFeedAlarm> alarms(300, Alarm(3));
    mainOnly.PublishAlarms(alarms);
    mainOnly.PublishLogCleared();
    EXPECT_TRUE(mainOnly.Take(slice, 100));
    EXPECT_EQ(slice.mainRows.size(), 100u);
}

TEST(ArchiveNameTest, ArchivesSortOldestFirstAndNothingElseCounts)
{
    const std::vector<std::string> names = {
        ArchiveName("20261208-221530", 1), ArchiveName("20261208-221530", 2), ArchiveName("20261208-221530", 10),
        ArchiveName("20261208-221531", 1), ArchiveName("20271208-000000", 3)};
    EXPECT_EQ(names[0], "myfile-20261208-221530.txt");
    EXPECT_EQ(names[1], "myfile-20261208-221530-2.txt");
    std::vector<std::string> keys;
    for (const std::string& name : names) {
        std::string key;
        ASSERT_TRUE(ArchiveOrderKey(name, key)) << name;
        keys.push_back(key);
    }
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    for (const char* other : {"myfile.txt", "myfile-2026.txt", "myfile-20261208-221530-0.txt",
                              "myfile-20261208-221530-x.txt", "myfile-20261208x221530.txt", "myfile-20261208-221530.log"}) {
        std::string key;
        EXPECT_FALSE(ArchiveOrderKey(other, key)) << other;
    }
}

struct CPruneCase {
    const char* pszName;
    std::vector<CArchiveFile> files;
    const char* pszJustMade;
    std::uint64_t nBytesKept;
    std::vector<std::string> pruned;
};

TEST(ArchiveNameTest, ArchivesArePrunedBySizeNewestFirstAndNeverTheOneJustMade)
{
    const std::vector<CPruneCase> cases = {
        {"all fit",
         {{"myfile-20200101-000000.txt", 40}, {"myfile-20200101-000001.txt", 30}},
         "myfile-20261209-101010.txt", 70, {}},
        {"the oldest go, and everything older than the first that does not fit",
         {{"myfile-20200101-000000.txt", 10}, {"myfile-20200101-000001.txt", 40}, {"myfile-20200101-000002.txt", 30},
          {"myfile-20200101-000003.txt", 30}, {"myfile-20261209-101010.txt", 5000}},
         "myfile-20261209-101010.txt", 70, {"myfile-20200101-000000.txt", "myfile-20200101-000001.txt"}},
        {"a second's archives in their order: -2 after the plain name, -10 after -2",
         {{"myfile-20261209-101010-10.txt", 10}, {"myfile-20261209-101010-2.txt", 10},
          {"myfile-20261209-101010.txt", 10}},
         "myfile-20261209-101011.txt", 20, {"myfile-20261209-101010.txt"}},
        {"stamped after the archive just made: made before the clock went back, and gone first",
         {{"myfile-20990101-120000.txt", 10}, {"myfile-20990102-120000.txt", 10}, {"myfile-20990103-120000.txt", 10},
          {"myfile-20200101-000000.txt", 10}},
         "myfile-20261209-101010.txt", 20, {"myfile-20990101-120000.txt", "myfile-20990102-120000.txt"}},
        {"the archive just made is kept whatever it holds",
         {{"myfile-20990101-120000.txt", 10}, {"myfile-20261209-101010.txt", 3000}},
         "myfile-20261209-101010.txt", 0, {"myfile-20990101-120000.txt"}},
        {"what is no archive is left alone",
         {{"myfile-notes.txt", 100}, {"myfile.txt", 100}, {"myfile-20200101-000000.txt", 100}},
         "myfile-20261209-101010.txt", 0, {"myfile-20200101-000000.txt"}},
    };
    for (const CPruneCase& c : cases) {
        std::vector<std::string> pruned = ArchivesToPrune(c.files, c.pszJustMade, c.nBytesKept);
        std::sort(pruned.begin(), pruned.end());
        EXPECT_EQ(pruned, c.pruned) << c.pszName;
    }
}

} // namespace
