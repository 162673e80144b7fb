// Skin buttons on the real main window, bound by data exchange as the main window binds its
// caption buttons, drawn for real and read back from the screen.
#include "Dialog.h"
#include "SkinBtn.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr COLORREF CLR_HOST = RGB(20, 140, 60);
constexpr COLORREF CLR_STATES[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(100, 100, 100)};
const POINT PT_AWAY = {1200, 1000};

// IDD_MAIN painted in a flat colour of the test's choosing, so the captured background is known.
// The close button is skinned; the minimise button is bound with the skin switched off.
class CHostDlg : public CDialog {
public:
    CHostDlg() : CDialog(IDD_MAIN) { m_btnMin.m_bNoSkin = TRUE; }
    ~CHostDlg() override { DestroyWindow(); }
    CSkinBtn m_btnClose;
    CSkinBtn m_btnMin;
    COLORREF m_clrBack = CLR_HOST;

protected:
    const CMessageMap& GetMessageMap() const override
    {
        static const CMessageMap map =
            CMessageMap(&CDialog::GetThisMessageMap()).OnEraseBkgnd(&CHostDlg::OnEraseBkgnd);
        return map;
    }
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_BTN_CLOSE, m_btnClose);
        DDX_Control(pDX, IDC_BTN_MIN, m_btnMin);
    }
    BOOL OnEraseBkgnd(HDC hDC)
    {
        RECT rc;
        GetClientRect(&rc);
        ::SetDCBrushColor(hDC, m_clrBack);
        ::FillRect(hDC, &rc, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        return TRUE;
    }
};

// Records the press notifications that reach it.
class CPressListener : public CWnd {
public:
    CPressListener() { SubclassWindow(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)); }
    ~CPressListener() override { DestroyWindow(); }
    int m_nPresses = 0;
    POINT m_ptPress{};

protected:
    const CMessageMap& GetMessageMap() const override
    {
        static const CMessageMap map = CMessageMap().OnMessage(WM_SKINBTN_PRESS, &CPressListener::OnPress);
        return map;
    }
    LRESULT OnPress(WPARAM wParam, LPARAM lParam)
    {
        ++m_nPresses;
        m_ptPress = {static_cast<LONG>(wParam), static_cast<LONG>(lParam)};
        return 0;
    }
};

class SkinBtnTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::SetCursorPos(PT_AWAY.x, PT_AWAY.y);
        ASSERT_TRUE(m_dlg.Create(IDD_MAIN, nullptr));
        ASSERT_TRUE(PumpUntil([&] { return m_btn.m_bBgCaptured; }));
        ASSERT_TRUE(PumpWaiting());
        RECT rc;
        m_btn.GetClientRect(&rc);
        W = rc.right;
        H = rc.bottom;
    }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(CClientDC(m_btn), x, y); }
    void Draw(int nState)
    {
        m_btn.m_nState = nState;
        m_btn.PaintSkin();
    }
    void DrawItem(UINT nItemState)
    {
        DRAWITEMSTRUCT dis = {ODT_BUTTON, IDC_BTN_CLOSE, 0, ODA_DRAWENTIRE, nItemState, m_btn, nullptr, {}, 0};
        m_dlg.SendMessage(WM_DRAWITEM, IDC_BTN_CLOSE, reinterpret_cast<LPARAM>(&dis));
    }
    static std::string Image(const std::string& strName, int nWidth, int nHeight, std::function<COLORREF(int, int)> pixel)
    {
        WriteBitmapFile(Widen(strName), nWidth, nHeight, pixel);
        return strName;
    }
    void LoadStateImages(const std::string& strPrefix)
    {
        std::vector<std::string> names;
        for (COLORREF clr : CLR_STATES)
            names.push_back(Image(strPrefix + std::to_string(names.size()) + ".bmp", W, H, [clr](int, int) { return clr; }));
        m_btn.LoadImages(names[0], names[1], names[2], names[3]);
    }
    int LeftmostInk() const
    {
        for (int x = 0; x < W; ++x)
            for (int y = 0; y < H; ++y)
                if (Pixel(x, y) != CLR_HOST)
                    return x;
        return -1;
    }
    bool Shows(COLORREF clr) const
    {
        for (int x = 0; x < W; ++x)
            for (int y = 0; y < H; ++y)
                if (Pixel(x, y) == clr)
                    return true;
        return false;
    }
    POINT ButtonCentre() const
    {
        RECT rc;
        m_btn.GetWindowRect(&rc);
        return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }

    CTempDir m_dir;
    CHostDlg m_dlg;
    CSkinBtn& m_btn = m_dlg.m_btnClose;
    int W = 0;
    int H = 0;
};

TEST_F(SkinBtnTest, BindingMakesButtonsOwnerDrawnAndTheBackgroundIsCapturedOnce)
{
    EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), m_btn.GetStyle() & BS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(BS_PUSHBUTTON), m_dlg.m_btnMin.GetStyle() & BS_TYPEMASK);
    EXPECT_FALSE(m_dlg.m_btnMin.m_bBgCaptured);
    CGdiObject<HRGN> rgn(::CreateRectRgn(0, 0, 0, 0));
    RECT rcRgn, rcClient = {0, 0, W, H};
    EXPECT_EQ(SIMPLEREGION, ::GetWindowRgn(m_btn, rgn));
    ::GetRgnBox(rgn, &rcRgn);
    EXPECT_TRUE(::EqualRect(&rcRgn, &rcClient));
    EXPECT_EQ(CLR_HOST, Pixel(W / 2, H / 2));

    // The parent repaints in another colour, then the button is erased and drawn again: it keeps its first copy.
    m_dlg.m_clrBack = RGB(250, 250, 0);
    ::RedrawWindow(m_dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    POINT ptAbove = {0, -3};
    ::MapWindowPoints(m_btn, m_dlg, &ptAbove, 1);
    EXPECT_EQ(RGB(250, 250, 0), ::GetPixel(CClientDC(m_dlg), ptAbove.x, ptAbove.y));
    EXPECT_EQ(CLR_HOST, Pixel(0, 0));
    EXPECT_EQ(CLR_HOST, Pixel(W - 1, H - 1));
}

TEST_F(SkinBtnTest, ImagesAreCopiedUnscaledUnlessLargerThanTheButton)
{
    auto pattern = [](int x, int y) { return RGB(x * 7, y * 7, 90); };
    const std::string strExact = Image("exact.bmp", W, H, pattern);
    m_btn.LoadImages(strExact, strExact, strExact, strExact);
    Draw(SKIN_STATE_NORMAL);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(pattern(x, y), Pixel(x, y)) << x << "," << y;

    // One row too many: the whole image is fitted, so its last row reaches the bottom.
    const std::string strTall = Image("tall.bmp", W, H + 1, [&](int, int y) {
        return y == 0 ? RGB(255, 0, 0) : y == H ? RGB(0, 0, 255) : RGB(255, 255, 255);
    });
    m_btn.LoadImages(strTall, strTall, strTall, strTall);
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(RGB(255, 0, 0), Pixel(W / 2, 0));
    EXPECT_EQ(RGB(255, 255, 255), Pixel(W / 2, H / 2));
    EXPECT_EQ(RGB(0, 0, 255), Pixel(W / 2, H - 1));

    const std::string strSmall = Image("small.bmp", 10, 8, pattern);
    m_btn.LoadImages(strSmall, strSmall, strSmall, strSmall);
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(pattern(9, 7), Pixel(9, 7));
    EXPECT_EQ(CLR_HOST, Pixel(10, 7));
    EXPECT_EQ(CLR_HOST, Pixel(9, 8));
}

TEST_F(SkinBtnTest, OwnerDrawBitsAndStayDownChooseTheImage)
{
    LoadStateImages("state");
    m_btn.m_bStayDown = SKIN_STAY_DOWN;
    for (int nState = 0; nState < 4; ++nState) {
        Draw(nState);
        EXPECT_EQ(CLR_STATES[SKIN_STATE_PRESSED], Pixel(W / 2, H / 2)) << nState;
    }

    m_btn.m_bStayDown = 2;
    struct {
        UINT nItemState;
        bool bHover;
        int nState;
    } const cases[] = {
        {ODS_SELECTED, true, SKIN_STATE_NORMAL},         {ODS_FOCUS, false, SKIN_STATE_NORMAL},
        {ODS_FOCUS, true, SKIN_STATE_HOVER},             {ODS_FOCUS | ODS_SELECTED, true, SKIN_STATE_PRESSED},
        {ODS_DISABLED | ODS_FOCUS | ODS_SELECTED, true, SKIN_STATE_DISABLED},
    };
    for (const auto& c : cases) {
        m_btn.m_bHover = c.bHover;
        DrawItem(c.nItemState);
        EXPECT_EQ(c.nState, m_btn.m_nState) << c.nItemState;
        EXPECT_EQ(CLR_STATES[c.nState], Pixel(W / 2, H / 2)) << c.nItemState;
    }
    EXPECT_FALSE(m_btn.m_bEnabled);

    m_btn.m_bHoverFrame = TRUE;
    Draw(SKIN_STATE_HOVER);
    for (POINT pt : {POINT{0, H / 2}, POINT{W - 1, H / 2}, POINT{W / 2, 0}, POINT{W / 2, H - 1}})
        EXPECT_EQ(RGB(0, 0, 0), Pixel(pt.x, pt.y)) << pt.x << "," << pt.y;
    EXPECT_EQ(CLR_STATES[SKIN_STATE_HOVER], Pixel(W / 2, H / 2));
}

TEST_F(SkinBtnTest, HoverFollowsThePointerUntilItLeaves)
{
    LoadStateImages("hover");
    const POINT ptInside = ButtonCentre();
    ::SetCursorPos(ptInside.x, ptInside.y);
    POINT ptCursor;
    ::GetCursorPos(&ptCursor);
    ASSERT_TRUE(ptCursor.x == ptInside.x && ptCursor.y == ptInside.y);
    m_btn.SendMessage(WM_MOUSEMOVE);
    EXPECT_TRUE(m_btn.m_bHover);
    EXPECT_EQ(CLR_STATES[SKIN_STATE_HOVER], Pixel(W / 2, H / 2));

    ::SetCursorPos(PT_AWAY.x, PT_AWAY.y);
    ASSERT_TRUE(PumpUntil([&] { return !m_btn.m_bHover; }));
    EXPECT_EQ(SKIN_STATE_NORMAL, m_btn.m_nState);
    EXPECT_EQ(CLR_STATES[SKIN_STATE_NORMAL], Pixel(W / 2, H / 2));

    // A move that finds the pointer already outside (the button holding the capture) only arms the poll.
    m_btn.SendMessage(WM_MOUSEMOVE);
    EXPECT_TRUE(m_btn.m_bHover);
    EXPECT_EQ(SKIN_STATE_HOVER, m_btn.m_nState);
    EXPECT_EQ(CLR_STATES[SKIN_STATE_NORMAL], Pixel(W / 2, H / 2));
    ASSERT_TRUE(PumpUntil([&] { return !m_btn.m_bHover; }));
    EXPECT_EQ(SKIN_STATE_NORMAL, m_btn.m_nState);

    ::EnableWindow(m_btn, FALSE);
    EXPECT_FALSE(m_btn.m_bEnabled);
    ASSERT_TRUE(PumpUntil([&] { return m_btn.m_nState == SKIN_STATE_DISABLED; }));
    EXPECT_EQ(CLR_STATES[SKIN_STATE_DISABLED], Pixel(W / 2, H / 2));
    ::SetCursorPos(ptInside.x, ptInside.y);
    m_btn.SendMessage(WM_MOUSEMOVE);
    EXPECT_FALSE(m_btn.m_bHover);
    EXPECT_FALSE(::KillTimer(m_btn, TIMER_HOVER));
    ::SetCursorPos(PT_AWAY.x, PT_AWAY.y);
}

TEST_F(SkinBtnTest, LoadImagesStopsAtTheFirstMissingFileAndReleasesWhatItDoesNotKeep)
{
    LoadStateImages("old");
    const HBITMAP hOld[] = {m_btn.m_bmpNormal, m_btn.m_bmpHover, m_btn.m_bmpPressed, m_btn.m_bmpDisabled};
    const std::string strNew = Image("new.bmp", W, H, [](int, int) { return RGB(1, 2, 3); });
    m_btn.LoadImages(strNew, "missing.bmp", strNew, strNew);
    EXPECT_NE(hOld[0], m_btn.m_bmpNormal.GetSafeHandle());
    EXPECT_EQ(0u, ::GetObjectType(hOld[0]));
    EXPECT_EQ(hOld[1], m_btn.m_bmpHover.GetSafeHandle());
    EXPECT_EQ(hOld[2], m_btn.m_bmpPressed.GetSafeHandle());
    EXPECT_EQ(hOld[3], m_btn.m_bmpDisabled.GetSafeHandle());
    for (HBITMAP hKept : {hOld[1], hOld[2], hOld[3]})
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), ::GetObjectType(hKept));
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(RGB(1, 2, 3), Pixel(W / 2, H / 2));
    Draw(SKIN_STATE_PRESSED);
    EXPECT_EQ(CLR_STATES[SKIN_STATE_PRESSED], Pixel(W / 2, H / 2));

    m_btn.LoadImages(strNew, strNew, strNew, strNew);
    for (HBITMAP hReplaced : {hOld[1], hOld[2], hOld[3]})
        EXPECT_EQ(0u, ::GetObjectType(hReplaced));
}

TEST_F(SkinBtnTest, VectorStyleDrawsTheFrameAndGlyphWithTheStatePen)
{
    ::SetWindowPos(m_btn, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_btn.m_nStyle = SKIN_STYLE_VECTOR;
    m_btn.m_nGlyph = SKIN_GLYPH_TRIANGLE;
    const COLORREF pens[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(225, 225, 225)};
    for (int nState = 0; nState < 4; ++nState) {
        Draw(nState);
        const COLORREF clrPen = pens[nState];
        EXPECT_EQ(clrPen, Pixel(0, 10));
        EXPECT_EQ(RGB(255, 255, 255), Pixel(10, 15));
        for (int y = 1; y < 19; ++y) {
            int nCount = 0, nLeft = 20, nRight = -1;
            for (int x = 1; x < 19; ++x) {
                if (Pixel(x, y) == clrPen) {
                    ++nCount;
                    nLeft = std::min(nLeft, x);
                    nRight = std::max(nRight, x);
                }
            }
            const int nExpected = y >= 3 && y <= 7 ? 9 - 2 * (y - 3) : 0;
            EXPECT_EQ(nExpected, nCount) << "state " << nState << " row " << y;
            EXPECT_TRUE(nCount == 0 || nLeft + nRight == 14) << "state " << nState << " row " << y;
        }
    }
}

TEST_F(SkinBtnTest, TextStylePlacesTheCaptionByItsByteLengthInTheStateColour)
{
    m_btn.m_nStyle = SKIN_STYLE_TEXT;
    m_btn.SetWindowText("\xC8\xB7\xB6\xA8");
    Draw(SKIN_STATE_NORMAL);
    EXPECT_GE(LeftmostInk(), W / 5);
    EXPECT_LE(LeftmostInk(), W / 5 + 2);
    m_btn.SetWindowText("OK");
    Draw(SKIN_STATE_NORMAL);
    EXPECT_GE(LeftmostInk(), W / 3);
    EXPECT_LE(LeftmostInk(), W / 3 + 2);
    EXPECT_TRUE(Shows(RGB(255, 255, 255)));
    Draw(SKIN_STATE_DISABLED);
    EXPECT_TRUE(Shows(RGB(0, 0, 0)));
    m_btn.m_bHoverFrame = TRUE;
    Draw(SKIN_STATE_HOVER);
    EXPECT_TRUE(Shows(RGB(36, 93, 219)));
    EXPECT_EQ(RGB(0, 0, 0), Pixel(0, 0));
    m_btn.SetWindowText("");
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(-1, LeftmostInk());
}

TEST_F(SkinBtnTest, GlyphCellStyleCopiesTheStateCellAndNotifiesOncePerPress)
{
    const std::string strSheet = Image("sheet.bmp", 54, 54, [](int x, int y) { return RGB(x / 18 * 80 + 10, y / 18 * 80 + 10, 150); });
    m_btn.m_bmpGlyphs.Attach(static_cast<HBITMAP>(::LoadImageW(nullptr, Widen(strSheet).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
    m_btn.m_nStyle = SKIN_STYLE_GLYPH_CELL;
    m_btn.m_nGlyph = SKIN_GLYPH_SQUARES;
    Draw(SKIN_STATE_HOVER);
    EXPECT_EQ(RGB(90, 90, 150), Pixel(14, 13));
    EXPECT_EQ(CLR_HOST, Pixel(15, 13));
    EXPECT_EQ(CLR_HOST, Pixel(14, 14));
    Draw(SKIN_STATE_DISABLED);
    EXPECT_EQ(RGB(90, 10, 150), Pixel(0, 0));

    // A glyph kind that names no cell still notifies.
    CPressListener listener;
    m_btn.m_hWndNotify = listener;
    m_btn.m_nGlyph = SKIN_GLYPH_NONE;
    DrawItem(ODS_FOCUS | ODS_SELECTED);
    ASSERT_TRUE(PumpUntil([&] { return m_btn.m_nPressTicks > 3; }));
    EXPECT_EQ(1, listener.m_nPresses);
    EXPECT_TRUE(listener.m_ptPress.x == PT_AWAY.x && listener.m_ptPress.y == PT_AWAY.y);

    DrawItem(0);
    ASSERT_TRUE(PumpUntil([&] { return m_btn.m_nPressTicks == 0; }));
    EXPECT_FALSE(::KillTimer(m_btn, TIMER_PRESS));

    m_btn.SendMessage(WM_TIMER, TIMER_REPAINT);
    EXPECT_TRUE(::GetUpdateRect(m_btn, nullptr, FALSE));
}

TEST_F(SkinBtnTest, IconModeDrawsTheStateIconAndGivesUpAnUnreadableOne)
{
    auto makeIcon = [](COLORREF clr) {
        const std::vector<BYTE> mask(32, 0);
        std::vector<DWORD> pixels(16 * 16, RGB(GetBValue(clr), GetGValue(clr), GetRValue(clr)));
        return ::CreateIcon(nullptr, 16, 16, 1, 32, mask.data(), reinterpret_cast<const BYTE*>(pixels.data()));
    };
    m_btn.m_bIconMode = TRUE;
    m_btn.m_hIconNormal.Attach(makeIcon(RGB(200, 0, 0)));
    m_btn.m_hIconHover.Attach(makeIcon(RGB(0, 200, 0)));
    const int nIconTop = (H - 16) / 2;
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(RGB(200, 0, 0), Pixel(1, nIconTop + 1));
    EXPECT_EQ(CLR_HOST, Pixel(1, nIconTop - 1));
    EXPECT_EQ(CLR_HOST, Pixel(17, nIconTop + 1));
    Draw(SKIN_STATE_PRESSED);
    EXPECT_EQ(RGB(0, 200, 0), Pixel(1, nIconTop + 1));

    ::DestroyIcon(m_btn.m_hIconNormal);
    Draw(SKIN_STATE_NORMAL);
    EXPECT_EQ(nullptr, m_btn.m_hIconNormal);
    EXPECT_EQ(CLR_HOST, Pixel(1, nIconTop + 1));
}

} // namespace
