// The styles no button of the system is configured with: one cell of a glyph sheet, a glyph
// drawn with lines in a rounded frame, and the caption alone.
#include "SkinBtn.h"

#include <algorithm>

namespace {

constexpr UINT PRESS_TICK_MS = 20;

constexpr COLORREF CLR_VECTOR_TEXT = RGB(97, 113, 197);
constexpr COLORREF CLR_PEN_NORMAL = RGB(255, 0, 0);
constexpr COLORREF CLR_PEN_HOVER = RGB(0, 255, 0);
constexpr COLORREF CLR_PEN_PRESSED = RGB(0, 0, 255);
constexpr COLORREF CLR_PEN_DISABLED = RGB(225, 225, 225);

// Glyph sheets hold one 18-pixel column per glyph kind and one 18-pixel row per state.
constexpr int GLYPH_CELL_PITCH = 18;

// Where the vector style draws m_strCaption for SKIN_GLYPH_CAPTION.
constexpr POINT VECTOR_CAPTION_ORIGIN = {23, 5};

} // namespace

void CSkinBtn::DrawGlyphCellStyle()
{
    Compose([this](HDC hDC, int, int) {
        if (m_nState == SKIN_STATE_PRESSED)
            ::SetTimer(m_hWnd, TIMER_PRESS, PRESS_TICK_MS, nullptr);
        int nCellX = 0;
        int nCellWidth = 15;
        int nCellHeight = 14;
        switch (m_nGlyph) {
        case SKIN_GLYPH_BAR:
            break;
        case SKIN_GLYPH_SQUARES:
            nCellX = GLYPH_CELL_PITCH;
            break;
        case SKIN_GLYPH_CROSS:
            nCellX = 2 * GLYPH_CELL_PITCH;
            nCellHeight = 15;
            break;
        default:
            return;
        }
        // The disabled state has no row of its own and shows the normal cell.
        int nCellY = 0;
        if (m_nState == SKIN_STATE_HOVER)
            nCellY = GLYPH_CELL_PITCH;
        else if (m_nState == SKIN_STATE_PRESSED)
            nCellY = 2 * GLYPH_CELL_PITCH;
        CMemDC dcImage(hDC);
        CSelectObject selectSheet(dcImage, m_bmpGlyphs);
        ::BitBlt(hDC, 0, 0, nCellWidth, nCellHeight, dcImage, nCellX, nCellY, SRCCOPY);
    });
}

void CSkinBtn::DrawVectorStyle()
{
    Compose([this](HDC hDC, int nWidth, int nHeight) {
        COLORREF clrPen = CLR_PEN_NORMAL;
        switch (m_nState) {
        case SKIN_STATE_HOVER:
            ::SetTextColor(hDC, CLR_HOVER_TEXT);
            clrPen = CLR_PEN_HOVER;
            break;
        case SKIN_STATE_PRESSED:
            ::SetTextColor(hDC, m_clrTextHighlight);
            clrPen = CLR_PEN_PRESSED;
            break;
        case SKIN_STATE_DISABLED:
            ::SetTextColor(hDC, m_clrText);
            clrPen = CLR_PEN_DISABLED;
            break;
        default:
            ::SetTextColor(hDC, CLR_VECTOR_TEXT);
            break;
        }
        CPen pen(PS_SOLID, 1, clrPen);
        CSelectObject selectPen(hDC, pen);
        // Filled with the surface's own white brush: the captured background shows only at the corners.
        ::RoundRect(hDC, 0, 0, nWidth, nHeight, 2, 2);
        switch (m_nGlyph) {
        case SKIN_GLYPH_BAR:
            for (int x = 4; x <= 13; ++x)
                DrawLine(hDC, x, 7, x, 9);
            break;
        case SKIN_GLYPH_SQUARES:
            for (int d = 0; d <= 2; d += 2) {
                DrawLine(hDC, 5 + d, 5 + d, 12 + d, 5 + d);
                DrawLine(hDC, 5 + d, 5 + d, 5 + d, 12 + d);
                DrawLine(hDC, 12 + d, 12 + d, 5 + d, 12 + d);
                DrawLine(hDC, 12 + d, 12 + d, 12 + d, 5 + d);
            }
            break;
        case SKIN_GLYPH_CROSS:
            for (int i = 0; i <= 9; ++i) {
                DrawLine(hDC, 4 + i, 4 + i, 7 + i, 4 + i);
                DrawLine(hDC, 4 + i, 13 - i, 7 + i, 13 - i);
            }
            break;
        case SKIN_GLYPH_TRIANGLE:
            for (int i = 0; i <= 4; ++i)
                DrawLine(hDC, 3 + i, 3 + i, 12 - i, 3 + i);
            break;
        case SKIN_GLYPH_PLUS:
            for (int i = 0; i <= 10; ++i) {
                DrawLine(hDC, 4 + i, 7, 4 + i, 9);
                DrawLine(hDC, 8, 13 - i, 10, 13 - i);
            }
            break;
        case SKIN_GLYPH_CAPTION:
            DrawCaption(hDC, VECTOR_CAPTION_ORIGIN.x, VECTOR_CAPTION_ORIGIN.y, m_strCaption);
            break;
        default:
            break;
        }
    });
}

void CSkinBtn::DrawTextStyle()
{
    Compose([this](HDC hDC, int nWidth, int nHeight) {
        // Lengths are in code-page-936 bytes: two Chinese characters count as a long caption.
        const std::string strCaption = GetWindowText();
        const int nLeft = std::max(0, strCaption.size() <= 3 ? nWidth / 3 : nWidth / 5);
        switch (m_nState) {
        case SKIN_STATE_NORMAL:
        case SKIN_STATE_PRESSED:
            ::SetTextColor(hDC, m_clrTextHighlight);
            break;
        case SKIN_STATE_HOVER:
            if (m_bHoverFrame) {
                ::SetTextColor(hDC, CLR_HOVER_TEXT);
                DrawHoverFrame(hDC, nWidth, nHeight);
            }
            break;
        case SKIN_STATE_DISABLED:
            ::SetTextColor(hDC, m_clrText);
            break;
        default:
            break;
        }
        if (!strCaption.empty())
            DrawCaption(hDC, nLeft, CaptionTop(nHeight), strCaption);
    });
}
