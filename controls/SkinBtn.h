// The skinned push button of the caption-less main window: it draws itself in one of four
// styles over a copy of the parent's painting taken once, and follows the pointer by polling.
// SkinBtn.cpp holds the state, the images, the pointer tracking and the bitmap style every
// button of the system draws with; SkinBtnStyles.cpp the glyph-cell, vector and text styles.
#pragma once

#include "Controls.h"
#include "Gdi.h"
#include "Messages.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

enum : int { SKIN_STATE_NORMAL, SKIN_STATE_HOVER, SKIN_STATE_PRESSED, SKIN_STATE_DISABLED };

// m_nStyle. Only the bitmap style is in use; the others draw a glyph or the caption alone.
enum : int { SKIN_STYLE_BITMAP, SKIN_STYLE_GLYPH_CELL, SKIN_STYLE_VECTOR, SKIN_STYLE_TEXT };

// m_nGlyph, for the glyph-cell and vector styles; the cell style has cells for the first three
// only. Any other value draws no glyph.
enum : int {
    SKIN_GLYPH_NONE = -1,
    SKIN_GLYPH_BAR = 1,
    SKIN_GLYPH_SQUARES,
    SKIN_GLYPH_CROSS,
    SKIN_GLYPH_TRIANGLE,
    SKIN_GLYPH_PLUS,
    SKIN_GLYPH_CAPTION,
};

// m_bStayDown: only SKIN_STAY_DOWN, exactly, keeps a bitmap-style button showing its pressed
// image whatever its state; SKIN_STAY_OFF, like any other value, lets the state choose.
enum : int { SKIN_STAY_OFF, SKIN_STAY_DOWN };

// Where the bitmap style draws the window text, in client coordinates.
constexpr POINT SKIN_CAPTION_ORIGIN = {21, 0};

// Timers of the button's own window.
constexpr UINT_PTR TIMER_HOVER = 1;
constexpr UINT_PTR TIMER_PRESS = 2;
constexpr UINT_PTR TIMER_REPAINT = 101;

class CSkinBtn : public CWindowImpl<CSkinBtn, CButton> {
public:
    CSkinBtn();
    ~CSkinBtn() override;
    static const CMessageMap& GetThisMessageMap();

    // Paths in code page 936; a file that cannot be loaded ends the slots this call fills.
    void LoadImages(const std::string& strNormal, const std::string& strHover, const std::string& strPressed,
                    const std::string& strDisabled);
    // Slots 0 to 3 take their images in order up to the first null handle and own them.
    void SetImages(HBITMAP hNormal, HBITMAP hHover, HBITMAP hPressed, HBITMAP hDisabled);
    void SetOwnerDraw(bool bOn);

    void PaintSkin();
    void DrawBitmapStyle();
    void DrawGlyphCellStyle();
    void DrawVectorStyle();
    void DrawTextStyle();

    // The members are public: an owner configures the button by setting them, and the system
    // itself relies on the defaults.
    CBitmap m_bmpNormal;
    CBitmap m_bmpHover;
    CBitmap m_bmpPressed;
    CBitmap m_bmpDisabled;
    CBitmap m_bmpGlyphs;
    BOOL m_bIconMode = FALSE;
    CIcon m_hIconNormal;
    CIcon m_hIconHover;
    int m_nGlyph = SKIN_GLYPH_NONE;
    int m_bStayDown = SKIN_STAY_OFF;
    int m_nState = SKIN_STATE_NORMAL;
    COLORREF m_clrText = RGB(0, 0, 0);
    COLORREF m_clrTextHighlight = RGB(255, 255, 255);
    bool m_bHover = false;
    bool m_bEnabled = true;
    std::unique_ptr<CFont> m_pFont;
    bool m_bBgCaptured = false;
    POINT m_ptText = SKIN_CAPTION_ORIGIN;
    CBitmapDC m_dcBg;
    BOOL m_bHoverFrame = FALSE;
    int m_nStyle = SKIN_STYLE_BITMAP;
    BOOL m_bNoSkin = FALSE;
    HWND m_hWndNotify = nullptr;
    int m_nPressTicks = 0;
    std::string m_strCaption;

protected:
    void PreSubclassWindow() override;
    void DrawItem(LPDRAWITEMSTRUCT pDrawItem) override;

    void OnMouseMove(UINT nFlags, POINT point);
    void OnTimer(UINT_PTR nIDEvent);
    BOOL OnEraseBkgnd(HDC hDC);
    BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message);
    void OnSystemHover(UINT nFlags, POINT point);
    void OnSystemLeave();
    void OnEnable(BOOL bEnable);

private:
    // The caption colour of a hovered button in the icon, vector and text styles.
    static constexpr COLORREF CLR_HOVER_TEXT = RGB(36, 93, 219);

    // Outlines the whole client area with the current pen.
    static void DrawHoverFrame(HDC hDC, int nWidth, int nHeight);
    static void DrawCaption(HDC hDC, int x, int y, const std::string& strCaption);
    // Captions are placed for a 20-pixel line, centred on the height and never above the top.
    static int CaptionTop(int nHeight);

    // Returns how many slots took their image.
    size_t TakeImages(const std::array<HBITMAP, 4>& images);
    bool IsOverButton(const POINT& ptScreen) const;
    // One drawing pass: draw gets an off-screen surface of the client size that already shows
    // the captured background, and the result goes on the button with one copy.
    void Compose(const std::function<void(HDC hDC, int nWidth, int nHeight)>& draw);
    const CBitmap* ImageOfState() const;
    void DrawIcons(HDC hDC, int nWidth, int nHeight);
};
