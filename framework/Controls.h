// Thin wrappers over the common controls: each operation is one control message.
#pragma once

#include "Handle.h"
#include "Wnd.h"

#include <commctrl.h>

#include <string>

struct CImageListPolicy {
    static void Release(HIMAGELIST hImageList) { ImageList_Destroy(hImageList); }
};

// Detach hands the image list to a new owner, such as a list view that destroys it with itself.
class CImageList : public CHandleOwner<HIMAGELIST, CImageListPolicy> {
public:
    BOOL Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow)
    {
        Attach(ImageList_Create(cx, cy, nFlags, nInitial, nGrow));
        return m_hObject != nullptr;
    }
    int Add(HBITMAP hBitmap, COLORREF clrMask) { return ImageList_AddMasked(m_hObject, hBitmap, clrMask); }
};

class CListCtrl : public CWnd {
public:
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    int InsertItem(const LVITEMW& item) const
    {
        return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL SetItemText(int nItem, int nSubItem, const std::string& strText);
    std::string GetItemText(int nItem, int nSubItem) const;
    // The text as the list shows it, with no round trip through code page 936.
    std::wstring GetItemTextW(int nItem, int nSubItem) const;
    int InsertColumn(int nCol, const std::string& strHeading, int nFormat, int nWidth, int nSubItem = -1);
    int GetColumnCount() const
    {
        return static_cast<int>(::SendMessageW(reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER)), HDM_GETITEMCOUNT, 0, 0));
    }
    std::string GetColumnHeading(int nCol) const;
    DWORD SetExtendedStyle(DWORD dwNewStyle)
    {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, dwNewStyle));
    }
    DWORD GetExtendedStyle() const { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
    HIMAGELIST SetImageList(HIMAGELIST hImageList, int nImageListType)
    {
        return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_SETIMAGELIST, nImageListType, reinterpret_cast<LPARAM>(hImageList)));
    }
    HIMAGELIST GetImageList(int nImageListType) const
    {
        return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_GETIMAGELIST, nImageListType));
    }
    void SetRedraw(BOOL bRedraw) { SendMessage(WM_SETREDRAW, bRedraw); }
    // Lets a held list draw again and repaints all of it, as documented for WM_SETREDRAW: with
    // RedrawWindow, since a control with a border has a frame of its own to repaint.
    void ResumeRedraw()
    {
        SetRedraw(TRUE);
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
};

class CButton : public CWnd {
protected:
    // Owner-drawn buttons draw themselves: the parent hands WM_DRAWITEM back to them.
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}
    BOOL OnChildNotify(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CStatic : public CWnd {};
