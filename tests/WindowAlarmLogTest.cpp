// The log file on its own, as the writer thread uses it: lines that wait for a file that cannot
// be written, what is lost beyond their bound, and deletes and archives that fail.
#include "AlarmLog.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

HANDLE HoldLog(DWORD dwSharing)
{
    return ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, dwSharing, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(AlarmLogTest, LinesBeyondTheWaitingBoundAreCountedInOneLineOfTheLog)
{
    CTempDir dir;
    CAlarmLog log;
    HANDLE hHeld = HoldLog(0);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < ALARM_LOG_PENDING_MAX + 10; ++i)
        texts.push_back("a;" + std::to_string(i) + ";t;c;");
    EXPECT_EQ(log.Append(texts), LogHealth::Failing);
    EXPECT_EQ(log.Append({}), LogHealth::Unchanged) << "the failure is reported once";
    ::CloseHandle(hHeld);
    // A failing file is tried again once a second.
    EXPECT_TRUE(WaitUntil([&log] { return log.Append({}) == LogHealth::Recovered; }));
    EXPECT_FALSE(log.HasPending());

    const std::string bytes = ReadFileBytes(ALARM_LOG_FILE);
    const std::size_t firstEnd = bytes.find("\r\n");
    const std::string lossLine = bytes.substr(0, firstEnd);
    EXPECT_NE(lossLine.find("丢失 10 条数据报"), std::string::npos) << lossLine;
    EXPECT_EQ(lossLine.find(';'), std::string::npos) << "the loss line must never read back as an alarm";
    std::string expected;
    for (std::size_t i = 10; i < texts.size(); ++i)
        expected += texts[i] + "\r\n";
    EXPECT_TRUE(bytes.substr(firstEnd + 2) == expected) << "the newest lines are kept, in order, once each";
}

TEST(AlarmLogTest, ADeleteOrArchiveThatFailsKeepsTheFileAndItsWaitingLines)
{
    CTempDir dir;
    CAlarmLog log;
    ASSERT_EQ(log.Append({"one"}), LogHealth::Unchanged);
    // Reading and writing shared, deletion not: the file can be neither deleted nor renamed.
    HANDLE hHeld = HoldLog(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    EXPECT_NE(log.Delete(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(log.Archive(), ArchiveResult::Failed);
    EXPECT_EQ(log.Append({"two"}), LogHealth::Unchanged);
    ::CloseHandle(hHeld);
    EXPECT_EQ(ReadFileBytes(ALARM_LOG_FILE), "one\r\ntwo\r\n");

    // Lines that wait for the file go with it when it is deleted, and stay when it is not.
    hHeld = HoldLog(FILE_SHARE_READ);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    EXPECT_EQ(log.Append({"three"}), LogHealth::Failing);
    EXPECT_EQ(log.Archive(), ArchiveResult::Deferred) << "an archive must hold every line so far";
    EXPECT_NE(log.Delete(), static_cast<DWORD>(ERROR_SUCCESS));
    ::CloseHandle(hHeld);
    EXPECT_TRUE(WaitUntil([&log] { return log.Append({}) == LogHealth::Recovered; }));
    EXPECT_EQ(ReadFileBytes(ALARM_LOG_FILE), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(log.Archive(), ArchiveResult::Archived);
    EXPECT_FALSE(FileExists(ALARM_LOG_FILE));
}

TEST(AlarmLogTest, AHoldOfAMomentWithoutDeleteSharingHoldsUpNoAppendArchiveOrDelete)
{
    CTempDir dir;
    CAlarmLog log;
    ASSERT_EQ(log.Append({"one"}), LogHealth::Unchanged);
    // Another program reads the file for about 200 ms, sharing reading and writing but not
    // deletion, as the C runtime's fopen does, around each step.
    const auto heldAround = [](const std::function<bool()>& step) {
        HANDLE hHeld = HoldLog(FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_NE(hHeld, INVALID_HANDLE_VALUE);
        std::thread releaser([hHeld] {
            ::Sleep(200);
            ::CloseHandle(hHeld);
        });
        const bool bDone = step();
        releaser.join();
        return bDone;
    };
    EXPECT_TRUE(heldAround([&log] { return log.Append({"two"}) == LogHealth::Unchanged; }));
    EXPECT_TRUE(heldAround([&log] { return log.Archive() == ArchiveResult::Archived; }));
    const std::vector<std::wstring> archives = LogArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(ReadFileBytes(archives[0]), "one\r\ntwo\r\n");
    ASSERT_EQ(log.Append({"three"}), LogHealth::Unchanged);
    EXPECT_TRUE(heldAround([&log] { return log.Delete() == ERROR_SUCCESS; }));
    EXPECT_FALSE(FileExists(ALARM_LOG_FILE));
    EXPECT_EQ(LogArchives(), archives);
}

TEST(AlarmLogTest, TwoArchivesWithinOneSecondAreBothKeptInTheirOrder)
{
    // Two archives made one right after the other; a pair that straddles the turn of a second is
    // made again.
    for (int nTry = 0; nTry < 10; ++nTry) {
        CTempDir dir;
        CAlarmLog log;
        ASSERT_EQ(log.Append({"first"}), LogHealth::Unchanged);
        ASSERT_EQ(log.Archive(), ArchiveResult::Archived);
        ASSERT_EQ(log.Append({"second"}), LogHealth::Unchanged);
        ASSERT_EQ(log.Archive(), ArchiveResult::Archived);
        const std::vector<std::wstring> archives = LogArchives();
        ASSERT_EQ(archives.size(), 2u);
        EXPECT_EQ(ReadFileBytes(archives[0]), "first\r\n");
        EXPECT_EQ(ReadFileBytes(archives[1]), "second\r\n");
        // "myfile-YYYYMMDD-hhmmss"
        const std::wstring stamp = archives[0].substr(0, 22);
        if (archives[1].compare(0, 22, stamp) == 0) {
            EXPECT_EQ(archives[0], stamp + L".txt");
            EXPECT_EQ(archives[1], stamp + L"-2.txt");
            return;
        }
    }
    FAIL() << "no two archives fell within one second in ten tries";
}

} // namespace
