// The skinned push button of the caption-less main window: it draws itself in one of four
// styles over a copy of the parent's painting taken once, and follows the pointer by polling.
#pragma once

#include "Controls.h"
#include "Gdi.h"
#include "Messages.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

constexpr int SKIN_STATE_NORMAL = 0;
constexpr int SKIN_STATE_HOVER = 1;
constexpr int SKIN_STATE_PRESSED = 2;
constexpr int SKIN_STATE_DISABLED = 3;

constexpr int SKIN_STYLE_BITMAP = 0;
constexpr int SKIN_STYLE_GLYPH_CELL = 1;
constexpr int SKIN_STYLE_VECTOR = 2;
constexpr int SKIN_STYLE_TEXT = 3;

// Timers of the button's own window.
constexpr UINT_PTR TIMER_HOVER = 1;
constexpr UINT_PTR TIMER_PRESS = 2;
constexpr UINT_PTR TIMER_REPAINT = 101;

// A memory device context with a bitmap of its own selected into it. The members are declared
// so that destruction deselects the bitmap, then deletes it, then deletes the context.
class CBitmapDC {
public:
    void Create(HDC hCompatible, int nWidth, int nHeight);
    operator HDC() const { return m_dc; }

private:
    CMemDC m_dc;
    CBitmap m_bmp;
    std::optional<CSelectObject> m_select;
};

class CSkinBtn : public CButton {
public:
    CSkinBtn();
    ~CSkinBtn() override;

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
    HICON m_hIconNormal = nullptr;
    HICON m_hIconHover = nullptr;
    int m_nGlyph = -1;
    int m_bStayDown = 0;
    int m_nState = SKIN_STATE_NORMAL;
    COLORREF m_clrText = RGB(0, 0, 0);
    COLORREF m_clrTextHighlight = RGB(255, 255, 255);
    bool m_bHover = false;
    bool m_bEnabled = true;
    std::unique_ptr<CFont> m_pFont;
    bool m_bBgCaptured = false;
    POINT m_ptText = {21, 0};
    CBitmapDC m_dcBg;
    BOOL m_bHoverFrame = FALSE;
    int m_nStyle = SKIN_STYLE_BITMAP;
    BOOL m_bNoSkin = FALSE;
    HWND m_hWndNotify = nullptr;
    int m_nPressTicks = 0;
    std::string m_strCaption;

protected:
    const CMessageMap& GetMessageMap() const override;
    static const CMessageMap& GetThisMessageMap();

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
    // Returns how many slots took their image.
    size_t TakeImages(const std::array<HBITMAP, 4>& images);
    bool IsOverButton(const POINT& ptScreen) const;
    // One drawing pass: draw gets an off-screen surface of the client size that already shows
    // the captured background, and the result goes on the button with one copy.
    void Compose(const std::function<void(HDC hDC, int nWidth, int nHeight)>& draw);
    const CBitmap* ImageOfState() const;
    void DrawIcons(HDC hDC, int nWidth, int nHeight);
};
