// What the test programs share: a working directory of their own, a message pump that waits
// for a condition, a real UDP sender, and reading the log's files from outside the program.
#pragma once

#include "CommandLine.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Ends the running test with this failure, for a step whose failure leaves nothing worth
// checking after it. Only from the test's own code, never from a window's or timer's callback.
[[noreturn]] void StopTest(const std::string& why);

// Creates an empty temporary directory of a name no earlier run used, in the given folder or
// the system's temporary one, makes it the current one, and on destruction goes back and
// removes it with everything in it.
class CTempDir {
public:
    explicit CTempDir(const std::wstring& strIn = std::wstring());
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    ~CTempDir();
    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
    std::wstring m_strPrevious;
};

// Deletes the folder with everything in it; false when something of it stays.
bool RemoveTree(const std::wstring& path);

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

// A thread of the test's own, told to stop and joined however the test ends. Its body runs for
// as long as the flag it is given holds.
class CTestThread {
public:
    explicit CTestThread(std::function<void(const std::atomic<bool>& bGoOn)> body)
        : m_thread([this, body = std::move(body)] { body(m_bGoOn); })
    {
    }
    CTestThread(const CTestThread&) = delete;
    CTestThread& operator=(const CTestThread&) = delete;
    ~CTestThread() { Stop(); }
    void Stop()
    {
        m_bGoOn = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_bGoOn{true};
    std::thread m_thread;
};

// Sends one datagram with exactly these bytes to 127.0.0.1, or to ::1.
void SendDatagram(const std::string& bytes, unsigned short nPort = 6000, bool bIpv6 = false);

// One socket for many datagrams, for senders that must keep up with a storm. A failed call is a
// failure of the running test, from any thread.
class CUdpSender {
public:
    explicit CUdpSender(unsigned short nPort = 6000, bool bIpv6 = false);
    CUdpSender(const CUdpSender&) = delete;
    CUdpSender& operator=(const CUdpSender&) = delete;
    ~CUdpSender();
    void Send(const std::string& bytes);

private:
    bool m_bStarted = false;
    UINT_PTR m_socket;
    unsigned short m_nPort;
    bool m_bIpv6;
    bool m_bFailed = false;
};

// The folder of the running test program, where the built programs are.
std::wstring ExeFolder();
// The process that has the UDP port bound, 0 when nobody has; read from the system's table of
// endpoints, so nothing is bound to find out. A table that cannot be read fails the test.
DWORD PortOwner(unsigned short nPort = 6000);

bool HasClass(HWND hWnd, const wchar_t* pszClass);
// The main window of a running Wendle: the top-level window of that process with the alarm list.
HWND FindMainWindow(DWORD dwProcessId);

// The whole content of a file, read as viewers read it: sharing reading, writing and deletion, so
// that the program's own appends, renames and deletes go on meanwhile. "<absent>" when there is
// no such file, "<unreadable: error N>" when it is there but cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
// The size of a file, read without opening it, so a writer that shares nothing is not disturbed;
// 0 when it does not exist.
ULONGLONG FileSize(const std::wstring& path);
// Writes the file whole, or stops the test.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The names of the log's archives in the folder, oldest first: "myfile-YYYYMMDD-hhmmss.txt",
// then "-2", "-3", ... "-10" for later ones within the same second.
std::vector<std::wstring> LogArchives(const std::wstring& folder = L".");
// Every line the log in the folder holds so far: its archives, oldest first, then the log.
std::string LoggedBytes(const std::wstring& folder = L".");
// The bytes of the log in the current folder and its archives, counted without opening them,
// and counted again when an archive was made meanwhile.
ULONGLONG LoggedSize();
// Writes a file of the given pixel colours as a 24-bit bitmap.
void WriteBitmapFile(const std::wstring& path, int nWidth, int nHeight, const std::function<COLORREF(int, int)>& pixel);
