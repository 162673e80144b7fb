// The main window's own behaviour: page switching, the detail panel, keys, closing, About.
#include "WindowTestSupport.h"

#include <functional>

namespace {

using CMainWindowTest = CMonitorWindowTest;

constexpr int ALARM_PAGE_CONTROLS[] = {IDC_DETAIL_AP,     IDC_STATIC,         IDC_LABEL_TYPE,   IDC_DETAIL_TYPE,
                                       IDC_LABEL_TIME,    IDC_DETAIL_ICON,    IDC_DETAIL_TIME,  IDC_LABEL_CONTENT,
                                       IDC_DETAIL_CONTENT, IDC_DETAIL_GROUP, IDC_ALARM_LIST};
constexpr int DETAIL_CONTROLS[] = {IDC_DETAIL_AP, IDC_DETAIL_TIME, IDC_DETAIL_TYPE, IDC_DETAIL_CONTENT};

RECT RectOnParent(HWND hWnd)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(hWnd), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void InsertRow(CAlarmListCtrl& list, const char* ap, const char* time, const char* type, const char* content)
{
    list.InsertRowsOnTop({{ap, time, type, content}});
}

// A press and release of the left button at a point of the list, as the mouse delivers them;
// the release is queued first because the list view waits for it inside its press handling.
void ClickList(CListCtrl& list, POINT pt)
{
    ::PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
    PumpWaiting();
}

POINT RowPoint(CListCtrl& list, int nRow)
{
    RECT rc{};
    rc.left = LVIR_LABEL;
    list.SendMessage(LVM_GETITEMRECT, nRow, reinterpret_cast<LPARAM>(&rc));
    return {rc.left + 5, (rc.top + rc.bottom) / 2};
}

TEST_F(CMainWindowTest, PageSwitchingWalksTheAlarmPageAndPlacesTheLogPage)
{
    Open();
    const RECT rcPage = RectOnParent(g_pLogPage->GetSafeHwnd());
    ::SetWindowTextW(Dlg().GetDlgItem(IDC_DETAIL_AP), L"kept");
    for (int nTimes = 0; nTimes < 2; ++nTimes) {
        Dlg().ShowLogPage();
        for (int nID : ALARM_PAGE_CONTROLS)
            EXPECT_FALSE(::IsWindowVisible(Dlg().GetDlgItem(nID))) << nID;
        ASSERT_TRUE(g_pLogPage->IsWindowVisible());
        const RECT rc = RectOnParent(g_pLogPage->GetSafeHwnd());
        EXPECT_EQ(rc.left, 10);
        EXPECT_EQ(rc.top, 100);
        EXPECT_EQ(rc.right - rc.left, rcPage.right - rcPage.left);
        EXPECT_EQ(rc.bottom - rc.top, rcPage.bottom - rcPage.top);
    }
    // The page buttons and caption buttons belong to neither page.
    EXPECT_TRUE(::IsWindowVisible(Dlg().GetDlgItem(IDC_BTN_ALARM)));
    EXPECT_TRUE(::IsWindowVisible(Dlg().GetDlgItem(IDC_BTN_CLOSE)));

    Dlg().ShowAlarmPage();
    EXPECT_FALSE(g_pLogPage->IsWindowVisible());
    for (int nID : ALARM_PAGE_CONTROLS)
        EXPECT_EQ(::IsWindowVisible(Dlg().GetDlgItem(nID)) != FALSE, nID != IDC_DETAIL_ICON) << nID;
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "kept");
}

TEST_F(CMainWindowTest, AClickOnARowFillsTheDetailPanel)
{
    Open();
    InsertRow(AlarmList(), "ap1", "10:00", "cpu", "high");
    InsertRow(AlarmList(), "接入点", "十点", "温度", "过高");
    ClickList(AlarmList(), RowPoint(AlarmList(), 1));
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "ap1");
    EXPECT_EQ(DetailText(IDC_DETAIL_TIME), "10:00");
    EXPECT_EQ(DetailText(IDC_DETAIL_TYPE), "cpu");
    EXPECT_EQ(DetailText(IDC_DETAIL_CONTENT), "high");

    ClickList(AlarmList(), RowPoint(AlarmList(), 0));
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "接入点");
    EXPECT_EQ(DetailText(IDC_DETAIL_TIME), "十点");
    EXPECT_EQ(DetailText(IDC_DETAIL_TYPE), "温度");
    EXPECT_EQ(DetailText(IDC_DETAIL_CONTENT), "过高");

    // Below the last row nothing is hit and nothing changes.
    RECT rcList;
    AlarmList().GetClientRect(&rcList);
    ClickList(AlarmList(), {20, rcList.bottom - 5});
    EXPECT_EQ(DetailText(IDC_DETAIL_AP), "接入点");

    // A row that does not exist empties the panel.
    Dlg().ShowAlarmDetails(5);
    for (int nID : DETAIL_CONTROLS)
        EXPECT_EQ(DetailText(nID), "") << nID;
}

TEST_F(CMainWindowTest, APressOnTheBackgroundBecomesAPressOnACaption)
{
    Open();
    MSG msg;
    while (::PeekMessageW(&msg, Dlg(), WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) {
    }
    Dlg().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 20));
    ASSERT_TRUE(::PeekMessageW(&msg, Dlg(), WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(HTCAPTION));
    EXPECT_EQ(msg.lParam, MAKELPARAM(300, 20));
}

TEST_F(CMainWindowTest, StaticTextsAreDrawnStraightOntoTheBackground)
{
    Open();
    HDC hDC = ::GetDC(Dlg());
    const auto hbrStatic = reinterpret_cast<HBRUSH>(
        Dlg().SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hDC), reinterpret_cast<LPARAM>(Dlg().GetDlgItem(IDC_LABEL_TYPE))));
    EXPECT_EQ(hbrStatic, ::GetStockObject(NULL_BRUSH));
    EXPECT_EQ(::GetBkMode(hDC), TRANSPARENT);
    EXPECT_EQ(::GetTextColor(hDC), RGB(0, 0, 0));
    const auto hbrButton = reinterpret_cast<HBRUSH>(
        Dlg().SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(hDC), reinterpret_cast<LPARAM>(Dlg().GetDlgItem(IDC_BTN_LOG))));
    EXPECT_NE(hbrButton, ::GetStockObject(NULL_BRUSH));
    ::ReleaseDC(Dlg(), hDC);
}

TEST_F(CMainWindowTest, TheMinimisedIconIsCentredWithHalvesTruncatedTowardZero)
{
    const POINT inWide = MinimizedIconPosition({100, 50}, {32, 32});
    EXPECT_EQ(inWide.x, 34);
    EXPECT_EQ(inWide.y, 9);
    const POINT inSmall = MinimizedIconPosition({20, 20}, {32, 32});
    EXPECT_EQ(inSmall.x, -5);
    EXPECT_EQ(inSmall.y, -5);
}

TEST_F(CMainWindowTest, EnterEscapeAndCloseRequestsNeverEndTheWindow)
{
    CMonitorDlg dlg;
    bool bLogShownAfterEnter = false, bAlarmShownAfterEscape = false, bLogShownAfterClose = false;
    // The real modal loop, driven from timer ticks, one step a tick.
    const std::vector<std::function<void()>> steps = {
        [&] {
            dlg.ShowLogPage();
            // Were Enter a dialog key, it would press the default button and show the alarm page.
            ::PostMessageW(dlg, WM_KEYDOWN, VK_RETURN, 0);
        },
        [&] {
            bLogShownAfterEnter = g_pLogPage->IsWindowVisible() != FALSE;
            dlg.ShowAlarmPage();
            // Were Escape a dialog key, it would be the cancel command and show the log page.
            ::PostMessageW(dlg.m_alarmList, WM_KEYDOWN, VK_ESCAPE, 0);
        },
        [&] {
            bAlarmShownAfterEscape = !g_pLogPage->IsWindowVisible() && ::IsWindowVisible(dlg.m_alarmList);
            ::PostMessageW(dlg, WM_CLOSE, 0, 0);
        },
        [&] {
            bLogShownAfterClose = g_pLogPage->IsWindowVisible() != FALSE;
            ::PostMessageW(dlg, WM_COMMAND, IDC_BTN_CLOSE, 0);
        },
    };
    std::size_t nStep = 0;
    const CTickTimer script(100, [&] {
        if (nStep < steps.size())
            steps[nStep++]();
    });
    EXPECT_EQ(DoModalWithin(dlg), IDOK);
    EXPECT_EQ(nStep, steps.size());
    EXPECT_TRUE(bLogShownAfterEnter);
    EXPECT_TRUE(bAlarmShownAfterEscape);
    EXPECT_TRUE(bLogShownAfterClose);
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    ExpectReceiverStopped(dlg);
}

// The top-level dialog of this thread other than the window given, or null.
HWND OtherDialogOfThisThread(HWND hWndExcept)
{
    struct CSearch {
        HWND hWndExcept;
        HWND hWndFound;
    } search{hWndExcept, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto& found = *reinterpret_cast<CSearch*>(lParam);
            if (hWnd == found.hWndExcept || !HasClass(hWnd, L"#32770") || !::IsWindowVisible(hWnd))
                return TRUE;
            found.hWndFound = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.hWndFound;
}

TEST_F(CMainWindowTest, TheAboutCommandOpensTheAboutBoxCentredOverTheWindow)
{
    Open();
    // The window has neither caption nor system menu: no menu item leads the operator to the
    // About box, the system command alone opens it.
    EXPECT_EQ(::GetWindowLongPtrW(Dlg(), GWL_STYLE) & WS_SYSMENU, 0);

    HWND hAbout = nullptr;
    RECT rcAbout{};
    std::wstring title;
    const ULONGLONG deadline = ::GetTickCount64() + CONDITION_DEADLINE;
    const CTickTimer script(50, [&] {
        HWND hFound = OtherDialogOfThisThread(Dlg());
        if (!hFound)
            return;
        if (!hAbout) {
            hAbout = hFound;
            ::GetWindowRect(hAbout, &rcAbout);
            wchar_t text[64] = {};
            ::GetWindowTextW(hAbout, text, 64);
            title = text;
        }
        // An OK that does not end the box is told apart from a box that hangs.
        if (::GetTickCount64() < deadline) {
            ::PostMessageW(hFound, WM_COMMAND, IDOK, 0);
        } else {
            ADD_FAILURE() << "the About box does not end on OK";
            ::PostMessageW(hFound, WM_COMMAND, IDCANCEL, 0);
        }
    });
    Dlg().SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ASSERT_NE(hAbout, nullptr) << "no About box opened";
    EXPECT_EQ(title, L"关于 Wendle");
    EXPECT_FALSE(::IsWindow(hAbout));
    EXPECT_TRUE(::IsWindowEnabled(Dlg()));
    RECT rcMain;
    Dlg().GetWindowRect(&rcMain);
    EXPECT_NEAR((rcAbout.left + rcAbout.right) / 2, (rcMain.left + rcMain.right) / 2, 1);
    EXPECT_NEAR((rcAbout.top + rcAbout.bottom) / 2, (rcMain.top + rcMain.bottom) / 2, 1);
}

} // namespace
