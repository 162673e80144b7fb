#include "SkinBtn.h"

#include "Text.h"

#include <algorithm>

namespace {

constexpr UINT HOVER_POLL_MS = 10;
// The height of the line a caption is centred for.
constexpr int CAPTION_LINE_HEIGHT = 20;

// A relative path names a file under the current directory, and only there: some platforms
// would otherwise also look beside the executable.
HBITMAP LoadBitmapFile(const std::string& strPath)
{
    const std::wstring path = Widen(strPath);
    // A result as large as the buffer or larger is the size needed, not a path: a working
    // directory deep enough makes it so.
    std::wstring fullPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(fullPath.size()), fullPath.data(), nullptr);
        if (length == 0)
            return nullptr;
        if (length < fullPath.size())
            break;
        fullPath.assign(length, L'\0');
    }
    return static_cast<HBITMAP>(::LoadImageW(nullptr, fullPath.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

} // namespace

void CSkinBtn::DrawHoverFrame(HDC hDC, int nWidth, int nHeight)
{
    DrawLine(hDC, 0, 0, nWidth, 0);
    DrawLine(hDC, 0, 0, 0, nHeight);
    DrawLine(hDC, 0, nHeight - 1, nWidth, nHeight - 1);
    DrawLine(hDC, nWidth - 1, 0, nWidth - 1, nHeight);
}

void CSkinBtn::DrawCaption(HDC hDC, int x, int y, const std::string& strCaption)
{
    const std::wstring text = Widen(strCaption);
    ::TextOutW(hDC, x, y, text.c_str(), static_cast<int>(text.size()));
}

int CSkinBtn::CaptionTop(int nHeight)
{
    return std::max(0, (nHeight - CAPTION_LINE_HEIGHT) / 2);
}

CSkinBtn::CSkinBtn() : m_pFont(std::make_unique<CFont>())
{
    m_pFont->CreatePointFont(90, L"Arial");
}

CSkinBtn::~CSkinBtn() = default;

const CMessageMap& CSkinBtn::GetThisMessageMap()
{
    static const CMessageMap map = CMessageMap(&CButton::GetThisMessageMap())
                                       .OnMouseMove(&CSkinBtn::OnMouseMove)
                                       .OnTimer(&CSkinBtn::OnTimer)
                                       .OnEraseBkgnd(&CSkinBtn::OnEraseBkgnd)
                                       .OnSetCursor(&CSkinBtn::OnSetCursor)
                                       .OnEnable(&CSkinBtn::OnEnable)
                                       .OnMouseHover(&CSkinBtn::OnSystemHover)
                                       .OnMouseLeave(&CSkinBtn::OnSystemLeave);
    return map;
}

void CSkinBtn::LoadImages(const std::string& strNormal, const std::string& strHover, const std::string& strPressed,
                          const std::string& strDisabled)
{
    const std::array<HBITMAP, 4> images = {LoadBitmapFile(strNormal), LoadBitmapFile(strHover),
                                           LoadBitmapFile(strPressed), LoadBitmapFile(strDisabled)};
    for (size_t i = TakeImages(images); i < images.size(); ++i)
        CBitmap(images[i]).Close();
}

void CSkinBtn::SetImages(HBITMAP hNormal, HBITMAP hHover, HBITMAP hPressed, HBITMAP hDisabled)
{
    TakeImages({hNormal, hHover, hPressed, hDisabled});
}

size_t CSkinBtn::TakeImages(const std::array<HBITMAP, 4>& images)
{
    CBitmap* slots[] = {&m_bmpNormal, &m_bmpHover, &m_bmpPressed, &m_bmpDisabled};
    size_t nTaken = 0;
    for (; nTaken < images.size() && images[nTaken]; ++nTaken)
        slots[nTaken]->Attach(images[nTaken]);
    return nTaken;
}

void CSkinBtn::SetOwnerDraw(bool bOn)
{
    if (m_bNoSkin)
        return;
    if (bOn)
        ModifyStyle(0, BS_OWNERDRAW);
    else
        ModifyStyle(BS_OWNERDRAW, 0);
    Invalidate(FALSE);
}

void CSkinBtn::PreSubclassWindow()
{
    SetOwnerDraw(true);
}

void CSkinBtn::DrawItem(LPDRAWITEMSTRUCT pDrawItem)
{
    // Without the focus the button counts as neither pressed nor hovered.
    const UINT nItemState = pDrawItem->itemState;
    m_nState = SKIN_STATE_NORMAL;
    if (nItemState & ODS_FOCUS) {
        if (nItemState & ODS_SELECTED)
            m_nState = SKIN_STATE_PRESSED;
        else if (m_bHover)
            m_nState = SKIN_STATE_HOVER;
    }
    if (nItemState & ODS_DISABLED) {
        m_nState = SKIN_STATE_DISABLED;
        m_bEnabled = false;
    }
    PaintSkin();
}

void CSkinBtn::PaintSkin()
{
    switch (m_nStyle) {
    case SKIN_STYLE_GLYPH_CELL:
        DrawGlyphCellStyle();
        break;
    case SKIN_STYLE_VECTOR:
        DrawVectorStyle();
        break;
    case SKIN_STYLE_TEXT:
        DrawTextStyle();
        break;
    default:
        DrawBitmapStyle();
        break;
    }
}

bool CSkinBtn::IsOverButton(const POINT& ptScreen) const
{
    RECT rcWindow;
    GetWindowRect(&rcWindow);
    return ::PtInRect(&rcWindow, ptScreen) != FALSE;
}

void CSkinBtn::OnMouseMove(UINT, POINT)
{
    // The move's own position is not trusted: the button may hold the capture while the
    // pointer is already elsewhere, so the system's pointer position decides.
    if (!m_bHover && m_bEnabled) {
        m_bHover = true;
        m_nState = SKIN_STATE_HOVER;
        POINT ptCursor;
        ::GetCursorPos(&ptCursor);
        if (!IsOverButton(ptCursor)) {
            // Seen from outside, the move only arms the poll and is kept from the button's own handling.
            ::SetTimer(m_hWnd, TIMER_HOVER, HOVER_POLL_MS, nullptr);
            return;
        }
        PaintSkin();
        ::SetTimer(m_hWnd, TIMER_HOVER, HOVER_POLL_MS, nullptr);
    }
    Default();
}

void CSkinBtn::OnTimer(UINT_PTR nIDEvent)
{
    POINT ptCursor;
    ::GetCursorPos(&ptCursor);
    const bool bOver = IsOverButton(ptCursor);
    switch (nIDEvent) {
    case TIMER_HOVER:
        // Polling rather than a leave notification: it also sees a pointer that left while
        // another window had the capture.
        if (!bOver && m_bHover && m_bEnabled) {
            ::KillTimer(m_hWnd, TIMER_HOVER);
            m_bHover = false;
            m_nState = SKIN_STATE_NORMAL;
            PaintSkin();
        }
        break;
    case TIMER_PRESS:
        if (++m_nPressTicks == 1 && m_hWndNotify)
            ::SendMessageW(m_hWndNotify, WM_SKINBTN_PRESS, static_cast<WPARAM>(ptCursor.x), ptCursor.y);
        break;
    case TIMER_REPAINT:
        Invalidate(FALSE);
        break;
    default:
        break;
    }
    // A press ends with the first tick that finds the button no longer pressed, so the next
    // press notifies again.
    if (m_nState != SKIN_STATE_PRESSED) {
        ::KillTimer(m_hWnd, TIMER_PRESS);
        m_nPressTicks = 0;
    }
    Default();
}

BOOL CSkinBtn::OnEraseBkgnd(HDC hDC)
{
    // What the button's DC shows at the first erase is the parent's painting under it; every
    // drawing pass reuses that copy, so the parent never has to repaint behind the button.
    if (m_bNoSkin || m_bBgCaptured)
        return TRUE;
    RECT rcClient;
    GetClientRect(&rcClient);
    m_dcBg.Create(hDC, rcClient.right, rcClient.bottom);
    ::BitBlt(m_dcBg, 0, 0, rcClient.right, rcClient.bottom, hDC, 0, 0, SRCCOPY);
    m_bBgCaptured = true;
    // The window system owns the region once it is set.
    ::SetWindowRgn(m_hWnd, ::CreateRectRgn(0, 0, rcClient.right, rcClient.bottom), TRUE);
    return TRUE;
}

BOOL CSkinBtn::OnSetCursor(HWND, UINT, UINT)
{
    // The pointer keeps the shape it came with.
    return TRUE;
}

void CSkinBtn::OnSystemHover(UINT, POINT)
{
    // The button follows the pointer by its own polling. The system button's hot tracking
    // would repaint it as an owner-draw request without the focus flag, the normal look,
    // while the pointer is still over it.
}

void CSkinBtn::OnSystemLeave()
{
    // Kept from the system button for the same reason as the hover.
}

void CSkinBtn::OnEnable(BOOL bEnable)
{
    // The system repaints the button after the change, and that owner-draw request sets the state.
    Default();
    m_bEnabled = bEnable != FALSE;
}

void CSkinBtn::Compose(const std::function<void(HDC hDC, int nWidth, int nHeight)>& draw)
{
    if (m_bNoSkin)
        return;
    CClientDC dcClient(m_hWnd);
    RECT rcClient;
    GetClientRect(&rcClient);
    const int nWidth = rcClient.right;
    const int nHeight = rcClient.bottom;
    CBitmapDC dcSurface;
    dcSurface.Create(dcClient, nWidth, nHeight);
    // Before the first erase there is no background yet; the face colour stands in for it.
    if (m_bBgCaptured)
        ::BitBlt(dcSurface, 0, 0, nWidth, nHeight, m_dcBg, 0, 0, SRCCOPY);
    else
        ::FillRect(dcSurface, &rcClient, ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetBkMode(dcSurface, TRANSPARENT);
    {
        CSelectObject selectFont(dcSurface, *m_pFont);
        draw(dcSurface, nWidth, nHeight);
    }
    ::BitBlt(dcClient, 0, 0, nWidth, nHeight, dcSurface, 0, 0, SRCCOPY);
}

const CBitmap* CSkinBtn::ImageOfState() const
{
    if (m_bStayDown == SKIN_STAY_DOWN)
        return &m_bmpPressed;
    switch (m_nState) {
    case SKIN_STATE_NORMAL:
        return &m_bmpNormal;
    case SKIN_STATE_HOVER:
        return &m_bmpHover;
    case SKIN_STATE_PRESSED:
        return &m_bmpPressed;
    case SKIN_STATE_DISABLED:
        return &m_bmpDisabled;
    default:
        return nullptr;
    }
}

void CSkinBtn::DrawBitmapStyle()
{
    Compose([this](HDC hDC, int nWidth, int nHeight) {
        if (m_bIconMode) {
            DrawIcons(hDC, nWidth, nHeight);
            return;
        }
        const CBitmap* pImage = ImageOfState();
        if (pImage && pImage->GetSafeHandle()) {
            CMemDC dcImage(hDC);
            CSelectObject selectImage(dcImage, *pImage);
            const SIZE size = pImage->GetSize();
            // Only an image larger than the button is scaled; the installation's images
            // are expected to match the button and are copied as they are.
            if (size.cy > nHeight || size.cx > nWidth)
                ::StretchBlt(hDC, 0, 0, nWidth, nHeight, dcImage, 0, 0, size.cx, size.cy, SRCCOPY);
            else
                ::BitBlt(hDC, 0, 0, nWidth, nHeight, dcImage, 0, 0, SRCCOPY);
        }
        const std::string strCaption = GetWindowText();
        if (m_bStayDown == SKIN_STAY_DOWN) {
            ::SetTextColor(hDC, m_clrTextHighlight);
        } else if (m_nState == SKIN_STATE_NORMAL || m_nState == SKIN_STATE_DISABLED) {
            ::SetTextColor(hDC, m_clrText);
        } else if (m_nState == SKIN_STATE_PRESSED) {
            ::SetTextColor(hDC, m_clrTextHighlight);
        } else if (m_nState == SKIN_STATE_HOVER && m_bHoverFrame) {
            ::SetTextColor(hDC, m_clrTextHighlight);
            DrawCaption(hDC, m_ptText.x, m_ptText.y, strCaption);
            DrawHoverFrame(hDC, nWidth, nHeight);
        }
        if (!strCaption.empty())
            DrawCaption(hDC, m_ptText.x, m_ptText.y, strCaption);
    });
}

void CSkinBtn::DrawIcons(HDC hDC, int nWidth, int nHeight)
{
    // An icon's hot spot is its centre, so twice the hot spot is its size.
    int nIconWidth = 16;
    int nIconHeight = 16;
    ICONINFO info{};
    if (::GetIconInfo(m_hIconNormal, &info)) {
        CBitmap bmpMask(info.hbmMask);
        CBitmap bmpColor(info.hbmColor);
        nIconWidth = 2 * static_cast<int>(info.xHotspot);
        nIconHeight = 2 * static_cast<int>(info.yHotspot);
    } else {
        m_hIconNormal.Close();
    }
    const int nIconTop = std::max(0, (nHeight - nIconHeight) / 2);
    const int nTextLeft = nIconWidth + 2;
    const int nTextTop = CaptionTop(nHeight);

    HICON hIcon = m_hIconNormal;
    switch (m_nState) {
    case SKIN_STATE_HOVER:
        hIcon = m_hIconHover;
        ::SetTextColor(hDC, CLR_HOVER_TEXT);
        if (m_bHoverFrame)
            DrawHoverFrame(hDC, nWidth, nHeight);
        break;
    case SKIN_STATE_PRESSED:
        hIcon = m_hIconHover;
        ::SetTextColor(hDC, m_clrTextHighlight);
        break;
    default:
        ::SetTextColor(hDC, m_clrText);
        break;
    }
    if (hIcon)
        ::DrawStateW(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(hIcon), 0, 0, nIconTop, nIconWidth,
                     nIconHeight - nIconTop, DST_ICON);
    const std::string strCaption = GetWindowText();
    if (!strCaption.empty())
        DrawCaption(hDC, nTextLeft, nTextTop, strCaption);
}
