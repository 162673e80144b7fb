// What the window tests share: a working directory of their own, a message pump that waits
// for a condition, and a real UDP sender.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Creates an empty temporary directory, makes it the current one, and on destruction goes back
// and removes it with everything in it.
class CTempDir {
public:
    CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    ~CTempDir();
    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
    std::wstring m_strPrevious;
};

// Deletes the folder with everything in it.
void RemoveTree(const std::wstring& path);

// How long a test waits for something it expects. Waits end as soon as the condition holds,
// so this only bounds how long a failing test takes; a busy machine must never reach it.
constexpr DWORD CONDITION_DEADLINE = 60000;

// Dispatches this thread's messages for the given time.
void PumpMessages(DWORD dwMilliseconds);
// Dispatches this thread's messages until the condition holds or the time is up; returns the condition.
bool PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMilliseconds = CONDITION_DEADLINE);
// Dispatches this thread's messages until none is waiting.
bool PumpWaiting();
// Waits for the condition without taking messages, for tests that hold the window's thread on
// purpose; returns the condition.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMilliseconds = CONDITION_DEADLINE);

// Sends one datagram with exactly these bytes to 127.0.0.1.
void SendDatagram(const std::string& bytes, unsigned short nPort = 6000);

// One socket for many datagrams, for senders that must keep up with a storm.
class CUdpSender {
public:
    explicit CUdpSender(unsigned short nPort = 6000);
    CUdpSender(const CUdpSender&) = delete;
    CUdpSender& operator=(const CUdpSender&) = delete;
    ~CUdpSender();
    void Send(const std::string& bytes);

private:
    UINT_PTR m_socket;
    unsigned short m_nPort;
};

// The folder of the running test program, where the built programs are.
std::wstring ExeFolder();
// The process that has the UDP port bound, 0 when nobody has; read from the system's table of
// endpoints, so nothing is bound to find out.
DWORD PortOwner(unsigned short nPort = 6000);

bool HasClass(HWND hWnd, const wchar_t* pszClass);
// The main window of a running Wendle: the top-level window of that process with the alarm list.
HWND FindMainWindow(DWORD dwProcessId);

// One argument quoted so that the started program's C runtime splits it back out unchanged.
std::wstring QuoteArgument(const std::wstring& arg);

// The whole content of a file, or "<absent>" when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
// The size of a file, read without opening it, so a writer that shares nothing is not disturbed;
// 0 when it does not exist.
ULONGLONG FileSize(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Writes a file of the given pixel colours as a 24-bit bitmap.
void WriteBitmapFile(const std::wstring& path, int nWidth, int nHeight, const std::function<COLORREF(int, int)>& pixel);
