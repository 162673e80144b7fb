#include "Gdi.h"

#include "WinApp.h"

BOOL CBitmap::LoadBitmap(UINT nIDResource)
{
    Attach(::LoadBitmapW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(nIDResource)));
    return m_hObject != nullptr;
}

BOOL CBitmap::CreateCompatibleBitmap(HDC hDC, int nWidth, int nHeight)
{
    Attach(::CreateCompatibleBitmap(hDC, nWidth, nHeight));
    return m_hObject != nullptr;
}

SIZE CBitmap::GetSize() const
{
    BITMAP bm{};
    if (!m_hObject || !::GetObjectW(m_hObject, sizeof(bm), &bm))
        return {0, 0};
    return {bm.bmWidth, bm.bmHeight};
}

BOOL CFont::CreatePointFont(int nPointSize, const std::wstring& strFaceName)
{
    LOGFONTW lf{};
    lf.lfHeight = -(::GetDeviceCaps(CClientDC(nullptr), LOGPIXELSY) * nPointSize / 720);
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, strFaceName.c_str(), LF_FACESIZE);
    Attach(::CreateFontIndirectW(&lf));
    return m_hObject != nullptr;
}

void CBitmapDC::Create(HDC hCompatible, int nWidth, int nHeight)
{
    m_select.reset();
    m_dc = CMemDC(hCompatible);
    m_bmp.CreateCompatibleBitmap(hCompatible, nWidth, nHeight);
    m_select.emplace(m_dc, m_bmp);
}

void DrawLine(HDC hDC, int x1, int y1, int x2, int y2)
{
    ::MoveToEx(hDC, x1, y1, nullptr);
    ::LineTo(hDC, x2, y2);
}

void StretchBitmap(HDC hDC, const RECT& rcDest, const CBitmap& bitmap)
{
    CMemDC dcMem(hDC);
    const SIZE size = bitmap.GetSize();
    CSelectObject select(dcMem, bitmap);
    ::SetStretchBltMode(hDC, COLORONCOLOR);
    ::StretchBlt(hDC, 0, 0, rcDest.right - rcDest.left, rcDest.bottom - rcDest.top, dcMem, 0, 0, size.cx, size.cy,
                 SRCCOPY);
}
