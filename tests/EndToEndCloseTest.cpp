// The shipped Wendle.exe closed, logged off and started again while alarms keep coming, and
// its log read by another program meanwhile.
#include "EndToEndSupport.h"

#include "FloodSupport.h"

#include <cstdio>

namespace {

TEST_F(CEndToEndTest, CloseInAFloodEndsTheProcessWithEveryLineWhole)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return FileSize(LogFile()) > 20000; }, START_TIMEOUT));
    const ULONGLONG start = ::GetTickCount64();
    Close();
    ASSERT_FALSE(HasFatalFailure());
    // A figure for the record, not a check: the machine's speed is not the program's.
    std::printf("close in a flood of about 2,000 alarms a second: process ended after %llu ms\n",
                static_cast<unsigned long long>(::GetTickCount64() - start));
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(LoggedBytes(m_dir.Path()));
}

TEST_F(CEndToEndTest, TheEndOfTheSessionInAFloodWritesEverythingAndEndsTheProcess)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return FileSize(LogFile()) > 20000; }, START_TIMEOUT));
    EXPECT_EQ(SendTo(m_run.m_hWndMain, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendTo(m_run.m_hWndMain, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // Windows may end the process as soon as the message is answered: all is done by then. (The
    // icon's removal is checked inside the process, where the window is still there.)
    const std::string written = LoggedBytes(m_dir.Path());
    EXPECT_TRUE(m_run.WaitForExit(EXIT_TIMEOUT)) << "Wendle.exe does not end after the session";
    EXPECT_EQ(LoggedBytes(m_dir.Path()), written) << "lines written after the end of the session";
    flood.Stop();
    ExpectWholeConsecutiveFloodLines(written);
}

TEST_F(CEndToEndTest, ASecondStartWhileTheFirstClosesTakesOverOnceItHasEnded)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    const DWORD dwFirst = m_run.m_dwProcessId;
    CFlood flood;
    ASSERT_TRUE(PumpUntil([&] { return FileSize(LogFile()) > 20000; }, START_TIMEOUT));
    m_run.ClickMainButton(IDC_BTN_CLOSE);
    CWendleRun second;
    second.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure()) << "the second start did not take over";
    EXPECT_TRUE(m_run.WaitForExit(0)) << "the first monitor still runs";
    EXPECT_NE(second.m_dwProcessId, dwFirst);
    flood.Stop();
    SendAlarm(L"AP-01", L"08:00:00", L"CPU", L"high");
    EXPECT_TRUE(PumpUntil([&] { return ItemCount(second.m_hWndAlarmList) > 0; }, EFFECT_TIMEOUT));
}

TEST_F(CEndToEndTest, AViewerInAnotherProgramHoldsUpNoLine)
{
    m_run.Start(m_dir.Path());
    ASSERT_FALSE(HasFatalFailure());
    // This test program is the viewer: it reads the file and lets others read, write and
    // delete it, as viewers, backup and indexing do.
    HANDLE hViewer = ::CreateFileW(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hViewer, INVALID_HANDLE_VALUE);
    SendAlarm(L"AP-01", L"1", L"t", L"c");
    SendRaw(L"not an alarm");
    EXPECT_TRUE(LogFileIs("AP-01;1;t;c;\r\nnot an alarm\r\n")) << "myfile.txt holds: " << ReadFileBytes(LogFile());
    ::CloseHandle(hViewer);
}

} // namespace
