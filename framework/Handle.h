// Owner of a kernel object handle (mutex, event, thread): move-only, closed on destruction.
#pragma once

#include <windows.h>

#include <utility>

class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE hObject) : m_hObject(hObject) {}
    CHandle(CHandle&& other) noexcept : m_hObject(std::exchange(other.m_hObject, nullptr)) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        Close();
        m_hObject = std::exchange(other.m_hObject, nullptr);
        return *this;
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    ~CHandle() { Close(); }

    void Close()
    {
        if (m_hObject)
            ::CloseHandle(m_hObject);
        m_hObject = nullptr;
    }
    operator HANDLE() const { return m_hObject; }

private:
    HANDLE m_hObject = nullptr;
};
