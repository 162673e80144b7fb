// One owner for every kind of handle the framework holds: move-only, it releases what it holds
// on destruction and before taking another. The policy says how a handle of the kind is released.
#pragma once

#include <windows.h>

#include <utility>

template <typename THandle, typename TRelease>
class CHandleOwner {
public:
    CHandleOwner() = default;
    explicit CHandleOwner(THandle hObject) : m_hObject(hObject) {}
    CHandleOwner(CHandleOwner&& other) noexcept : m_hObject(other.Detach()) {}
    CHandleOwner& operator=(CHandleOwner&& other) noexcept
    {
        Attach(other.Detach());
        return *this;
    }
    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;
    ~CHandleOwner() { Close(); }

    void Attach(THandle hObject)
    {
        Close();
        m_hObject = hObject;
    }
    // Hands the handle to a new owner, such as a control that destroys it with itself.
    THandle Detach() { return std::exchange(m_hObject, nullptr); }
    void Close()
    {
        if (m_hObject)
            TRelease::Release(m_hObject);
        m_hObject = nullptr;
    }
    THandle GetSafeHandle() const { return m_hObject; }
    operator THandle() const { return m_hObject; }

protected:
    THandle m_hObject = nullptr;
};

struct CKernelHandlePolicy {
    static void Release(HANDLE hObject) { ::CloseHandle(hObject); }
};

// A kernel object (mutex, event, thread).
using CHandle = CHandleOwner<HANDLE, CKernelHandlePolicy>;
