// Owners of GDI objects and device contexts. Each is move-only and releases what it holds;
// a selection into a device context is undone by a guard that remembers the context.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

template <typename THandle>
class CGdiObject {
public:
    CGdiObject() = default;
    explicit CGdiObject(THandle hObject) : m_hObject(hObject) {}
    CGdiObject(CGdiObject&& other) noexcept : m_hObject(other.Detach()) {}
    CGdiObject& operator=(CGdiObject&& other) noexcept
    {
        Attach(other.Detach());
        return *this;
    }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    ~CGdiObject() { DeleteObject(); }

    void Attach(THandle hObject)
    {
        DeleteObject();
        m_hObject = hObject;
    }
    THandle Detach() { return std::exchange(m_hObject, nullptr); }
    void DeleteObject()
    {
        if (m_hObject)
            ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
    THandle GetSafeHandle() const { return m_hObject; }
    operator THandle() const { return m_hObject; }

protected:
    THandle m_hObject = nullptr;
};

class CBitmap : public CGdiObject<HBITMAP> {
public:
    using CGdiObject::CGdiObject;
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
    CPen(int nPenStyle, int nWidth, COLORREF clr) : CGdiObject(::CreatePen(nPenStyle, nWidth, clr)) {}
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

// A memory device context; it owns the context, not what is selected into it.
class CMemDC {
public:
    CMemDC() = default;
    explicit CMemDC(HDC hCompatible) : m_hDC(::CreateCompatibleDC(hCompatible)) {}
    CMemDC(CMemDC&& other) noexcept : m_hDC(std::exchange(other.m_hDC, nullptr)) {}
    CMemDC& operator=(CMemDC&& other) noexcept
    {
        Reset();
        m_hDC = std::exchange(other.m_hDC, nullptr);
        return *this;
    }
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;
    ~CMemDC() { Reset(); }
    void Reset()
    {
        if (m_hDC)
            ::DeleteDC(m_hDC);
        m_hDC = nullptr;
    }
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

private:
    HDC m_hDC = nullptr;
};

// Draws the whole of a bitmap over the whole of a rectangle, the way the skinned windows
// paint their backgrounds: rows and columns dropped or repeated, never blended.
void StretchBitmap(HDC hDC, const RECT& rcDest, const CBitmap& bitmap);
