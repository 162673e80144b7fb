// What senders and the workstation may throw at the monitor: odd sizes, bytes that are no text,
// a log that cannot be written, a missing image folder, closing in the middle of a storm.
#include "WindowTestSupport.h"

#include "FloodSupport.h"

#include <malloc.h>

namespace {

using CFaultTest = CMonitorWindowTest;

TEST_F(CFaultTest, DatagramsOfEverySizeAreRecordedAsAtMost255Bytes)
{
    Open();
    const std::vector<std::size_t> sizes = {0, 1, 255, 256, 65507};
    std::vector<std::string> datagrams;
    for (std::size_t size : sizes)
        datagrams.push_back(std::string(size, 'x'));
    SendAndSettle(datagrams);
    std::string expected;
    for (std::size_t size : sizes)
        expected += std::string(std::min<std::size_t>(size, 255), 'x') + "\r\n";
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), expected + "marker;m;m;m;\r\n");
}

TEST_F(CFaultTest, BytesThatAreNoTextShowAsReplacementCharactersAndShiftNothing)
{
    Open();
    // A lead byte before ';', a lone 0xFF and a lead byte with an invalid trail byte.
    const std::string datagram = "ap\x81;\xFF;\x81\x30x;中文;";
    SendAndSettle({datagram});
    wchar_t text[64] = {};
    LVITEMW item{};
    item.pszText = text;
    item.cchTextMax = 64;
    const std::vector<std::wstring> expected = {L"ap\xFFFD", L"\xFFFD", L"\xFFFD" L"0x", L"中文"};
    for (int nColumn = 0; nColumn < 4; ++nColumn) {
        item.iSubItem = nColumn;
        AlarmList().SendMessage(LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(std::wstring(text), expected[nColumn]) << nColumn;
    }
    // The detail panel shows exactly what the row shows.
    Dlg().ShowAlarmDetails(1);
    const int detailControls[] = {IDC_DETAIL_AP, IDC_DETAIL_TIME, IDC_DETAIL_TYPE, IDC_DETAIL_CONTENT};
    for (int nColumn = 0; nColumn < 4; ++nColumn) {
        ::GetWindowTextW(Dlg().GetDlgItem(detailControls[nColumn]), text, 64);
        EXPECT_EQ(std::wstring(text), expected[nColumn]) << nColumn;
    }
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"), datagram + "\r\nmarker;m;m;m;\r\n");
}

TEST_F(CFaultTest, ALogThatIsADirectoryStillLetsAlarmsShow)
{
    ::CreateDirectoryW(L"myfile.txt", nullptr);
    Open();
    SendDatagram("a;b;c;d");
    ASSERT_TRUE(PumpUntil([this] { return Dlg().LastBalloonText().find("无法写入") != std::string::npos; }));
    SendAndSettle({"a;b;c;d;"});
    EXPECT_EQ(Row(AlarmList(), 1), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(Row(LogList(), 1), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(CFaultTest, WithoutTheImageFolderTheCaptionButtonsAreBareAndAlarmsStillShow)
{
    Open();
    EXPECT_EQ(Dlg().m_btnClose.m_bmpNormal.GetSafeHandle(), nullptr);
    EXPECT_EQ(Dlg().m_btnClose.GetWindowText(), "");
    EXPECT_TRUE(Dlg().m_bgBitmap.GetSafeHandle() != nullptr);
    SendAndSettle({});
    EXPECT_EQ(AlarmList().GetItemCount(), 1);
}

// A thread that takes the process heap's lock and the C runtime's, on request: a thread left
// suspended while it holds one would stop every other thread at its next allocation.
class CHeapProbe {
public:
    CHeapProbe() : m_hThread(::CreateThread(nullptr, 0, &CHeapProbe::Run, this, 0, nullptr)) {}
    CHeapProbe(const CHeapProbe&) = delete;
    CHeapProbe& operator=(const CHeapProbe&) = delete;
    ~CHeapProbe()
    {
        m_bEnd = true;
        ::SetEvent(m_hGo);
        ::WaitForSingleObject(m_hThread, CONDITION_DEADLINE);
    }
    // False when a lock is not free within a moment; the probe then takes it once it is.
    bool HeapsFree()
    {
        ::ResetEvent(m_hDone);
        ::SetEvent(m_hGo);
        return ::WaitForSingleObject(m_hDone, 200) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Run(LPVOID pParam)
    {
        auto& probe = *static_cast<CHeapProbe*>(pParam);
        const HANDLE heaps[] = {::GetProcessHeap(), reinterpret_cast<HANDLE>(_get_heap_handle())};
        while (::WaitForSingleObject(probe.m_hGo, INFINITE) == WAIT_OBJECT_0 && !probe.m_bEnd) {
            for (HANDLE hHeap : heaps) {
                ::HeapLock(hHeap);
                ::HeapUnlock(hHeap);
            }
            ::SetEvent(probe.m_hDone);
        }
        return 0;
    }

    CHandle m_hGo{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    CHandle m_hDone{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> m_bEnd{false};
    CHandle m_hThread;
};

// Suspends the writer inside one of its file calls, as behind a share that stopped answering.
bool SuspendInFileCall(CMonitorDlg& dlg)
{
    CHeapProbe probe;
    return WaitUntil([&] {
        if (::SuspendThread(dlg.m_hReceiverThread) == static_cast<DWORD>(-1))
            return false;
        // Returns once the thread has stopped.
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        ::GetThreadContext(dlg.m_hReceiverThread, &context);
        if (dlg.m_pReceiver->FileCallRunningFor(::GetTickCount64()) > 0 && probe.HeapsFree())
            return true;
        ::ResumeThread(dlg.m_hReceiverThread);
        return false;
    });
}

TEST_F(CFaultTest, AFileCallThatStallsIsToldAndClosingInAStormLeavesOnlyWholeLines)
{
    Open();
    CTestThread sender([](const std::atomic<bool>& bGoOn) {
        CFencedSender fenced([&bGoOn] { return bGoOn.load(); });
        for (int i = 0; bGoOn && fenced.Send("storm;" + std::to_string(i) + ";t;c;"); ++i) {
        }
    });
    ASSERT_TRUE(PumpUntil([] { return FileSize(L"myfile.txt") > 20000; })) << "the storm is not recorded";
    // The window's watchdog tells of it, whatever the writer does, and takes it back once the
    // call returns.
    ASSERT_TRUE(SuspendInFileCall(Dlg())) << "the writer is never caught in a file call";
    const std::string stalled = HealthText(HealthKind::Stalled, {});
    EXPECT_TRUE(PumpUntil([&] { return DetailText(IDC_HEALTH_TEXT) == stalled; })) << DetailText(IDC_HEALTH_TEXT);
    EXPECT_EQ(Dlg().LastBalloonText(), stalled);
    ::ResumeThread(Dlg().m_hReceiverThread);
    EXPECT_TRUE(PumpUntil([this] { return DetailText(IDC_HEALTH_TEXT).empty(); })) << DetailText(IDC_HEALTH_TEXT);
    Close();
    sender.Stop();
    // Every line is whole and the lines follow each other from the storm's first, in the order
    // they were sent, across the archives the log page's cap may have made on the way; the close
    // may end them with the line that counts what it could not write in time.
    const std::string bytes = LoggedBytes();
    int nExpected = 0;
    for (std::size_t nStart = 0; nStart < bytes.size(); ++nExpected) {
        const std::size_t nEnd = bytes.find("\r\n", nStart);
        ASSERT_NE(nEnd, std::string::npos) << "a line without its end: " << bytes.substr(nStart);
        const std::string line = bytes.substr(nStart, nEnd - nStart);
        nStart = nEnd + 2;
        if (nStart == bytes.size() && IsCloseLossLine(line))
            break;
        ASSERT_EQ(line, "storm;" + std::to_string(nExpected) + ";t;c;");
    }
    EXPECT_GT(nExpected, 0);
}

} // namespace
