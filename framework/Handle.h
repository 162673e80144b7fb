// One owner for every kind of handle the program holds: move-only, it releases what it holds
// on destruction and before taking another. The policy says how a handle of the kind is released
// and, where it is not null, which value holds nothing (INVALID_SOCKET, INVALID_HANDLE_VALUE).
#pragma once

#include <windows.h>

#include <type_traits>
#include <utility>

template <typename TPolicy, typename THandle, typename = void> struct CEmptyHandle {
    static THandle Value() { return THandle{}; }
};
template <typename TPolicy, typename THandle>
struct CEmptyHandle<TPolicy, THandle, std::void_t<decltype(TPolicy::Empty())>> {
    static THandle Value() { return TPolicy::Empty(); }
};

template <typename THandle, typename TPolicy>
class CHandleOwner {
public:
    static THandle Empty() { return CEmptyHandle<TPolicy, THandle>::Value(); }

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
    THandle Detach() { return std::exchange(m_hObject, Empty()); }
    void Close()
    {
        if (IsValid())
            TPolicy::Release(m_hObject);
        m_hObject = Empty();
    }
    bool IsValid() const { return m_hObject != Empty(); }
    THandle GetSafeHandle() const { return m_hObject; }
    operator THandle() const { return m_hObject; }

protected:
    THandle m_hObject = Empty();
};

struct CKernelHandlePolicy {
    static void Release(HANDLE hObject) { ::CloseHandle(hObject); }
};

// A kernel object (mutex, event, thread).
using CHandle = CHandleOwner<HANDLE, CKernelHandlePolicy>;

struct CLocalMemoryPolicy {
    template <typename T> static void Release(T pMemory) { ::LocalFree(pMemory); }
};

// Memory the system allocated for the caller with LocalAlloc (FormatMessage, CommandLineToArgvW).
template <typename T> using CLocalMemory = CHandleOwner<T, CLocalMemoryPolicy>;

struct CFilePolicy {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE hFile) { ::CloseHandle(hFile); }
};

// An open file, as CreateFile gives it.
using CFile = CHandleOwner<HANDLE, CFilePolicy>;
