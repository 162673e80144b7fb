// Owners of GDI objects and device contexts, each a handle owner with its own release;
// a selection into a device context is undone by a guard that remembers the context.
#pragma once

#include "Handle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

struct CGdiObjectPolicy {
    static void Release(HGDIOBJ hObject) { ::DeleteObject(hObject); }
};

template <typename THandle>
using CGdiObject = CHandleOwner<THandle, CGdiObjectPolicy>;

struct CIconPolicy {
    static void Release(HICON hIcon) { ::DestroyIcon(hIcon); }
};

// An icon the program made for itself; shared icons from LoadIcon are never destroyed.
using CIcon = CHandleOwner<HICON, CIconPolicy>;

class CBitmap : public CGdiObject<HBITMAP> {
public:
    using CHandleOwner::CHandleOwner;
    BOOL LoadBitmap(UINT nIDResource);
    BOOL CreateCompatibleBitmap(HDC hDC, int nWidth, int nHeight);
    // Width and height in pixels; (0, 0) without a bitmap.
    SIZE GetSize() const;
};

class CFont : public CGdiObject<HFONT> {
public:
    // nPointSize in tenths of a point, converted to a height for the screen's pixels per inch.
    BOOL CreatePointFont(int nPointSize, const std::wstring& strFaceName);
};

class CPen : public CGdiObject<HPEN> {
public:
    CPen() = default;
    CPen(int nPenStyle, int nWidth, COLORREF clr) : CHandleOwner(::CreatePen(nPenStyle, nWidth, clr)) {}
};

class CSelectObject {
public:
    CSelectObject(HDC hDC, HGDIOBJ hObject) : m_hDC(hDC), m_hOld(::SelectObject(hDC, hObject)) {}
    CSelectObject(CSelectObject&& other) noexcept
        : m_hDC(std::exchange(other.m_hDC, nullptr)), m_hOld(std::exchange(other.m_hOld, nullptr)) {}
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;
    CSelectObject& operator=(CSelectObject&&) = delete;
    ~CSelectObject()
    {
        if (m_hDC && m_hOld)
            ::SelectObject(m_hDC, m_hOld);
    }

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(::BeginPaint(hWnd, &m_ps)) {}
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    operator HDC() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
    HDC m_hDC;
};

class CClientDC {
public:
    explicit CClientDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(::GetDC(hWnd)) {}
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;
    ~CClientDC()
    {
        if (m_hDC)
            ::ReleaseDC(m_hWnd, m_hDC);
    }
    operator HDC() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

struct CMemDCPolicy {
    static void Release(HDC hDC) { ::DeleteDC(hDC); }
};

// A memory device context; it owns the context, not what is selected into it.
class CMemDC : public CHandleOwner<HDC, CMemDCPolicy> {
public:
    CMemDC() = default;
    explicit CMemDC(HDC hCompatible) : CHandleOwner(::CreateCompatibleDC(hCompatible)) {}
};

// A memory device context with a bitmap of its own selected into it: an off-screen surface.
// The members are declared so that destruction deselects the bitmap, then deletes it, then
// deletes the context.
class CBitmapDC {
public:
    void Create(HDC hCompatible, int nWidth, int nHeight);
    operator HDC() const { return m_dc; }

private:
    CMemDC m_dc;
    CBitmap m_bmp;
    std::optional<CSelectObject> m_select;
};

// A line without its end point, as LineTo draws it.
void DrawLine(HDC hDC, int x1, int y1, int x2, int y2);

// Draws the whole of a bitmap over the whole of a rectangle, the way the skinned windows
// paint their backgrounds: rows and columns dropped or repeated, never blended.
void StretchBitmap(HDC hDC, const RECT& rcDest, const CBitmap& bitmap);
