// The main window from its template and the receiver behind it, fed through a real UDP socket.
#include "WindowTestSupport.h"

#include <winsock2.h>

namespace {

using CReceiverTest = CMonitorWindowTest;

TEST_F(CReceiverTest, BothListsHaveTheirColumnsStylesAndImageLists)
{
    Open();
    const std::vector<std::string> headings = {"Ap名称", "日志时间", "告警类型", "告警内容"};
    for (CListCtrl* list : {&AlarmList(), &LogList()}) {
        ASSERT_EQ(list->GetColumnCount(), 4);
        for (int nColumn = 0; nColumn < 4; ++nColumn)
            EXPECT_EQ(list->GetColumnHeading(nColumn), headings[nColumn]);
        EXPECT_EQ(list->GetExtendedStyle(), 0x23u);
        ASSERT_NE(list->GetImageList(LVSIL_SMALL), nullptr);
    }
    HIMAGELIST hImages = AlarmList().GetImageList(LVSIL_SMALL);
    EXPECT_EQ(ImageList_GetImageCount(hImages), 2);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(hImages, &cx, &cy);
    EXPECT_EQ(cx, 24);
    EXPECT_EQ(cy, 16);
    // The log page's image list holds none, and the page and its edit start hidden.
    EXPECT_EQ(ImageList_GetImageCount(LogList().GetImageList(LVSIL_SMALL)), 0);
    EXPECT_FALSE(g_pLogPage->IsWindowVisible());
    EXPECT_FALSE(::IsWindowVisible(g_pLogPage->GetDlgItem(IDC_LOG_EDIT)));
}

TEST_F(CReceiverTest, AnAlarmBecomesRowZeroOfBothListsAndTheBalloonShowsItsTime)
{
    Open();
    Dlg().m_nAlarmToShow = 7;
    SendDatagram("a;b;c;d;");
    ASSERT_TRUE(PumpUntil([this] { return AlarmList().GetItemCount() == 1; }));
    EXPECT_EQ(Row(AlarmList(), 0), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(Row(LogList(), 0), (std::vector<std::string>{"a", "b", "c", "d"}));
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    AlarmList().SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(item.iImage, 1) << "an alarm row shows the red alarm disc";
    EXPECT_EQ(Dlg().m_nAlarmToShow, 0);
    EXPECT_EQ(Dlg().LastBalloonText(), "b");
    EXPECT_EQ(Dlg().LastBalloonTitle(), "警告警告");

    // Only the first column shows the disc, though the list has sub-item images on.
    item.iSubItem = 1;
    item.iImage = 0;
    AlarmList().SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_NE(item.iImage, 1) << "a cell beside the first shows the disc too";

    // From an IPv6 sender too: every local address is listened on.
    SendDatagram("接入点1;10:00:00;温度;过高;tail", ALARM_PORT, true);
    ASSERT_TRUE(PumpUntil([this] { return AlarmList().GetItemCount() == 2; }));
    EXPECT_EQ(Row(AlarmList(), 0), (std::vector<std::string>{"接入点1", "10:00:00", "温度", "过高"}));
    EXPECT_EQ(Row(AlarmList(), 1), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(CReceiverTest, NonAlarmsChangeNoListButEveryDatagramIsLogged)
{
    Open();
    SendAndSettle({"a;b;c;d", "a;b;c;d;e;", "", "hello", std::string("a;b;c;d;\0x;y;", 14)});
    // The datagram cut at its NUL is an alarm; the others are only recorded.
    EXPECT_EQ(AlarmList().GetItemCount(), 2);
    EXPECT_EQ(LogList().GetItemCount(), 2);
    EXPECT_EQ(Row(AlarmList(), 1), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(ReadFileBytes(L"myfile.txt"),
              "a;b;c;d\r\na;b;c;d;e;\r\n\r\nhello\r\na;b;c;d;\r\nmarker;m;m;m;\r\n");
}

TEST_F(CReceiverTest, LongFieldsAndDatagramsAreCutAtCharacterBoundaries)
{
    Open();
    const std::string field40(40, 'x');
    // 30 bytes, then a Chinese character whose first byte is the 31st.
    const std::string straddling = std::string(30, 'y') + "中国";
    SendAndSettle({field40 + ";" + straddling + ";c;d;" + std::string(300, 'z')});
    EXPECT_EQ(Row(AlarmList(), 1), (std::vector<std::string>{std::string(31, 'x'), std::string(30, 'y'), "c", "d"}));
    const std::string bytes = ReadFileBytes(L"myfile.txt");
    const std::size_t firstLine = bytes.find("\r\n");
    EXPECT_EQ(firstLine, 255u);
}

TEST_F(CReceiverTest, EachListIsEmptiedWhenAnAlarmArrivesAtItsOwnCap)
{
    // The log page starts with a history, so its cap falls earlier than the alarm list's.
    WriteFileBytes(L"myfile.txt", HistoryLines(0, 1000));
    Open();
    SendFenced(Alarms("s", 0, LIST_CAP));
    SendAndSettle({});
    ASSERT_EQ(AlarmList().GetItemCount(), 1);
    EXPECT_EQ(Row(AlarmList(), 0), (std::vector<std::string>{"marker", "m", "m", "m"}));
    // Alarm 2000 found the log page full: it and the thousand after it are listed there.
    ASSERT_EQ(LogList().GetItemCount(), 1001);
    EXPECT_EQ(LogList().GetItemText(1000, 1), "2000");
}

TEST_F(CReceiverTest, ClosingEndsTheReceiverBlockedInItsReceive)
{
    Open();
    ASSERT_EQ(PortOwner(), ::GetCurrentProcessId());
    Close();
}

TEST_F(CReceiverTest, TheFileDoesNotWaitForTheWindowNorTheCloseForTheFeed)
{
    Open();
    SendDatagram("a;b;c;d;");
    // Not pumping: the window has not taken the alarm, and the file has it all the same.
    ASSERT_TRUE(WaitUntil([] { return ReadFileBytes(L"myfile.txt") == "a;b;c;d;\r\n"; })) << "the datagram is not recorded";
    // The alarm waits for the window when it closes (the writer feeds it a moment after the line
    // is on disk): the close must not wait for it in turn.
    ASSERT_TRUE(WaitUntil([this] { return !Dlg().m_pReceiver->Feed().IsIdle(); })) << "the alarm is not fed";
    Close();
}

// UDP 6000 bound the way a second program would try to share it, until the holder goes.
class CPortHolder {
public:
    CPortHolder()
    {
        WSADATA wsaData;
        m_bStarted = ::WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
        m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        const BOOL bReuse = TRUE;
        ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse), sizeof(bReuse));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(ALARM_PORT);
        m_bBound = ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    CPortHolder(const CPortHolder&) = delete;
    CPortHolder& operator=(const CPortHolder&) = delete;
    ~CPortHolder() { Release(); }
    bool IsBound() const { return m_bBound; }
    void Release()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        if (std::exchange(m_bStarted, false))
            ::WSACleanup();
    }

private:
    bool m_bStarted = false;
    SOCKET m_socket = INVALID_SOCKET;
    bool m_bBound = false;
};

TEST_F(CReceiverTest, APortHeldElsewhereIsReportedAndTakenOnceFree)
{
    CPortHolder holder;
    ASSERT_TRUE(holder.IsBound()) << "error " << ::WSAGetLastError();

    WriteFileBytes(L"myfile.txt", HistoryLines(0, 3));
    m_pDlg = std::make_unique<CMonitorDlg>();
    ASSERT_TRUE(m_pDlg->Create(IDD_MAIN, nullptr));
    // The window says so for as long as it lasts, naming what really failed; so do the tray's tip
    // and a balloon.
    const std::string held = "UDP 6000 被另一个程序占用（Winsock 错误 10048）";
    ASSERT_TRUE(PumpUntil([&] { return DetailText(IDC_HEALTH_TEXT).find(held) != std::string::npos; }))
        << DetailText(IDC_HEALTH_TEXT);
    EXPECT_TRUE(::IsWindowVisible(Dlg().GetDlgItem(IDC_HEALTH_TEXT)));
    EXPECT_EQ(Narrow(Dlg().m_trayIconData.szTip).find("Alarm - 未在接收"), 0u) << Narrow(Dlg().m_trayIconData.szTip);
    EXPECT_EQ(Dlg().LastBalloonText(), DetailText(IDC_HEALTH_TEXT));
    EXPECT_FALSE(Dlg().m_pReceiver->IsListening());
    // The log is the operator's whatever the port does: the history shows, and 删除 deletes it.
    ASSERT_TRUE(PumpUntil([this] { return LogList().GetItemCount() == 3; }));
    ::SendMessageW(g_pLogPage->GetDlgItem(IDC_LOG_DELETE), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitForLog("<absent>")) << "the delete waits for the port";

    holder.Release();
    ASSERT_TRUE(PumpUntil([this] { return Dlg().m_pReceiver->IsListening(); }));
    // The notice reaches the window through its feed, a moment after the receiver listens.
    EXPECT_TRUE(PumpUntil([this] { return Dlg().LastBalloonText() == "已开始监听 UDP 端口 6000"; }))
        << Dlg().LastBalloonText();
    EXPECT_EQ(DetailText(IDC_HEALTH_TEXT), "");
    EXPECT_FALSE(::IsWindowVisible(Dlg().GetDlgItem(IDC_HEALTH_TEXT)));
    EXPECT_EQ(std::wstring(Dlg().m_trayIconData.szTip), L"Alarm");
    SendDatagram("a;b;c;d;");
    EXPECT_TRUE(PumpUntil([this] { return AlarmList().GetItemCount() == 1; }));
}

} // namespace
