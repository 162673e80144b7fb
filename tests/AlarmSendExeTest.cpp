// The real sender executable against a real socket.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "AlarmSendArgs.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace alarmsend;
using namespace std::string_literals;

namespace {

using Args = std::vector<std::wstring>;

// Collects every datagram sent to its port. It must never be the reason a datagram is lost: the
// socket gets a large buffer and a thread that does nothing but a blocking receive, so a burst
// waits in the socket however late that thread is scheduled.
class CUdpReceiver {
public:
    explicit CUdpReceiver(int nFamily = AF_INET) : m_nFamily(nFamily)
    {
        m_hSocket = BoundSocket(RECEIVE_BUFFER);
        m_usPort = PortOf(m_hSocket);
        m_hControl = BoundSocket(0);
        m_usControlPort = PortOf(m_hControl);
        m_thread = std::thread([this] { Collect(); });
    }
    ~CUdpReceiver()
    {
        m_bStop = true;
        SendControl();
        m_thread.join();
        closesocket(m_hControl);
        closesocket(m_hSocket);
    }
    unsigned short Port() const { return m_usPort; }

    // What arrived once nExpected datagrams are in, up to a fence datagram of our own sent
    // afterwards: the sender has ended by then, so anything extra it sent is already queued
    // ahead of the fence. A loss shows as a short list after the deadline, not as a hang.
    std::vector<std::string> Received(size_t nExpected)
    {
        const auto deadline = std::chrono::steady_clock::now() + RECEIVE_DEADLINE;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cvReceived.wait_until(lock, deadline, [&] { return m_iError || m_vecReceived.size() >= nExpected; });
        const size_t nFences = m_nFences;
        lock.unlock();
        SendControl();
        lock.lock();
        const bool bFenced = m_cvReceived.wait_until(lock, deadline + RECEIVE_DEADLINE,
                                                     [&] { return m_iError || m_nFences > nFences; });
        EXPECT_EQ(m_iError, 0) << "the test's receiver failed in recvfrom";
        EXPECT_TRUE(bFenced) << "the test's own fence datagram never arrived";
        return m_vecReceived;
    }

private:
    static constexpr int RECEIVE_BUFFER = 8 << 20;
    static constexpr std::chrono::seconds RECEIVE_DEADLINE{60};

    // The loopback address of the receiver's family, with the port.
    sockaddr_storage Loopback(unsigned short usPort) const
    {
        sockaddr_storage addr{};
        if (m_nFamily == AF_INET6) {
            auto& addr6 = reinterpret_cast<sockaddr_in6&>(addr);
            addr6.sin6_family = AF_INET6;
            addr6.sin6_port = htons(usPort);
            addr6.sin6_addr = in6addr_loopback;
        } else {
            auto& addr4 = reinterpret_cast<sockaddr_in&>(addr);
            addr4.sin_family = AF_INET;
            addr4.sin_port = htons(usPort);
            addr4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        return addr;
    }
    int AddressSize() const { return m_nFamily == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

    SOCKET BoundSocket(int cbReceiveBuffer) const
    {
        const SOCKET hSocket = socket(m_nFamily, SOCK_DGRAM, IPPROTO_UDP);
        EXPECT_NE(hSocket, INVALID_SOCKET) << "socket: error " << WSAGetLastError();
        if (cbReceiveBuffer)
            setsockopt(hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&cbReceiveBuffer),
                       sizeof cbReceiveBuffer);
        const sockaddr_storage addr = Loopback(0);
        EXPECT_EQ(bind(hSocket, reinterpret_cast<const sockaddr*>(&addr), AddressSize()), 0)
            << "bind: error " << WSAGetLastError();
        return hSocket;
    }
    // The port sits at the same place in both families' addresses.
    static unsigned short PortOf(SOCKET hSocket)
    {
        sockaddr_storage addr{};
        int cbAddr = sizeof addr;
        getsockname(hSocket, reinterpret_cast<sockaddr*>(&addr), &cbAddr);
        return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
    }

    // A datagram from the control socket is a fence, or the signal to stop; it is never data.
    void SendControl()
    {
        const sockaddr_storage to = Loopback(m_usPort);
        sendto(m_hControl, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), AddressSize());
    }

    void Collect()
    {
        std::vector<char> vecBuffer(65536);
        for (;;) {
            sockaddr_storage from{};
            int cbFrom = sizeof from;
            const int cbRead = recvfrom(m_hSocket, vecBuffer.data(), static_cast<int>(vecBuffer.size()), 0,
                                        reinterpret_cast<sockaddr*>(&from), &cbFrom);
            const int iError = cbRead < 0 ? WSAGetLastError() : 0;
            const bool bControl = cbRead >= 0 && ntohs(reinterpret_cast<const sockaddr_in&>(from).sin_port) == m_usControlPort;
            if (bControl && m_bStop)
                return;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (iError)
                m_iError = iError;
            else if (bControl)
                ++m_nFences;
            else
                m_vecReceived.emplace_back(vecBuffer.data(), static_cast<size_t>(cbRead));
            m_cvReceived.notify_all();
            if (iError)
                return;
        }
    }

    const int m_nFamily;
    SOCKET m_hSocket = INVALID_SOCKET;
    SOCKET m_hControl = INVALID_SOCKET;
    unsigned short m_usPort = 0;
    unsigned short m_usControlPort = 0;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_cvReceived;
    std::vector<std::string> m_vecReceived;
    size_t m_nFences = 0;
    int m_iError = 0;
    std::thread m_thread;
};

std::wstring AlarmSendPath()
{
    wchar_t szPath[MAX_PATH];
    const DWORD cchPath = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath(szPath, cchPath);
    return strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + L"alarmsend.exe";
}

struct CRun {
    DWORD m_dwExitCode = 0;
    std::string m_strOut;
    std::string m_strErr;
};

std::string Drain(HANDLE hRead)
{
    std::string strData;
    char rgBuffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hRead, rgBuffer, sizeof rgBuffer, &cbRead, nullptr) && cbRead > 0)
        strData.append(rgBuffer, cbRead);
    CloseHandle(hRead);
    return strData;
}

constexpr DWORD RUN_DEADLINE_MS = 60000;

// Output is a line or two, far below the pipe size, so reading after exit cannot deadlock.
CRun RunAlarmSend(const Args& vecArgs, const std::string& strStdin = {})
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE hInRead, hInWrite, hOutRead, hOutWrite, hErrRead, hErrWrite;
    EXPECT_TRUE(CreatePipe(&hInRead, &hInWrite, &sa, 65536));
    EXPECT_TRUE(CreatePipe(&hOutRead, &hOutWrite, &sa, 65536));
    EXPECT_TRUE(CreatePipe(&hErrRead, &hErrWrite, &sa, 65536));
    for (HANDLE hOurs : {hInWrite, hOutRead, hErrRead})
        SetHandleInformation(hOurs, HANDLE_FLAG_INHERIT, 0);

    std::wstring strCommand = QuoteArgument(AlarmSendPath());
    for (const std::wstring& strArg : vecArgs)
        strCommand += L" " + QuoteArgument(strArg);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hInRead;
    si.hStdOutput = hOutWrite;
    si.hStdError = hErrWrite;
    PROCESS_INFORMATION pi{};
    const BOOL bStarted = CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                         nullptr, &si, &pi);
    CloseHandle(hInRead);
    CloseHandle(hOutWrite);
    CloseHandle(hErrWrite);
    CRun run;
    DWORD cbWritten = 0;
    if (bStarted)
        WriteFile(hInWrite, strStdin.data(), static_cast<DWORD>(strStdin.size()), &cbWritten, nullptr);
    CloseHandle(hInWrite);
    if (!bStarted) {
        ADD_FAILURE() << "cannot start alarmsend.exe next to the test, error " << GetLastError();
        CloseHandle(hOutRead);
        CloseHandle(hErrRead);
        return run;
    }
    // A run that never ends is ended here: reading its output would wait for it forever.
    const bool bEnded = WaitForSingleObject(pi.hProcess, RUN_DEADLINE_MS) == WAIT_OBJECT_0;
    EXPECT_TRUE(bEnded) << "alarmsend.exe still runs after " << RUN_DEADLINE_MS / 1000 << " s";
    if (!bEnded)
        TerminateProcess(pi.hProcess, 255);
    GetExitCodeProcess(pi.hProcess, &run.m_dwExitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    run.m_strOut = Drain(hOutRead);
    run.m_strErr = Drain(hErrRead);
    return run;
}

class CTempFile {
public:
    explicit CTempFile(const std::string& strContent)
    {
        wchar_t szDir[MAX_PATH];
        wchar_t szPath[MAX_PATH];
        // A name of its own, created empty: no other test's file is ever written over.
        if (!GetTempPathW(MAX_PATH, szDir) || !GetTempFileNameW(szDir, L"als", 0, szPath))
            StopTest("no temporary file: error " + std::to_string(GetLastError()));
        m_strPath = szPath;
        WriteFileBytes(m_strPath, strContent);
    }
    ~CTempFile() { DeleteFileW(m_strPath.c_str()); }
    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
};

class AlarmSendExe : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WSADATA wsaData;
        WSAStartup(MAKEWORD(2, 2), &wsaData);
    }
    static void TearDownTestSuite() { WSACleanup(); }

    Args WithPort(Args vecArgs) const
    {
        vecArgs.insert(vecArgs.begin(), {L"--port", std::to_wstring(m_receiver.Port())});
        return vecArgs;
    }

    CUdpReceiver m_receiver;
};

using Datagrams = std::vector<std::string>;

TEST_F(AlarmSendExe, SendsTheFourFieldsAsGbkAndStaysQuiet)
{
    const CRun run = RunAlarmSend(WithPort({L"AP-01", L"2024-05-01 08:00:00", L"温度", L"中国"}));
    EXPECT_EQ(run.m_dwExitCode, 0u) << run.m_strErr;
    EXPECT_EQ(run.m_strOut, "");
    EXPECT_EQ(m_receiver.Received(1), Datagrams{"AP-01;2024-05-01 08:00:00;\xCE\xC2\xB6\xC8;\xD6\xD0\xB9\xFA;"});
}

// Wendle listens on IPv6 too.
TEST_F(AlarmSendExe, SendsOverIpv6ToAnIpv6Address)
{
    CUdpReceiver receiver6(AF_INET6);
    const CRun run = RunAlarmSend({L"--host", L"::1", L"--port", std::to_wstring(receiver6.Port()), L"--raw", L"v6"});
    EXPECT_EQ(run.m_dwExitCode, 0u) << run.m_strErr;
    EXPECT_EQ(receiver6.Received(1), Datagrams{"v6"});
}

TEST_F(AlarmSendExe, EmptyRawTextIsAnEmptyDatagram)
{
    EXPECT_EQ(RunAlarmSend(WithPort({L"--raw", L""})).m_dwExitCode, 0u);
    EXPECT_EQ(m_receiver.Received(1), Datagrams{""});
}

TEST_F(AlarmSendExe, FileLinesAreSentByteForByte)
{
    const CTempFile file("a;b;c;d;\r\n\xD6\xD0\xB9\xFA\n\nla\0st"s);
    EXPECT_EQ(RunAlarmSend(WithPort({L"--file", file.Path()})).m_dwExitCode, 0u);
    EXPECT_EQ(m_receiver.Received(4), (Datagrams{"a;b;c;d;", "\xD6\xD0\xB9\xFA", "", "la\0st"s}));
}

TEST_F(AlarmSendExe, StandardInputRepeatedWithCountReportsTotals)
{
    const CRun run = RunAlarmSend(WithPort({L"--count", L"3", L"--file", L"-"}), "x\r\ny\n");
    EXPECT_EQ(run.m_dwExitCode, 0u) << run.m_strErr;
    EXPECT_EQ(m_receiver.Received(6), (Datagrams{"x", "y", "x", "y", "x", "y"}));
    EXPECT_EQ(run.m_strOut.rfind("sent 6 datagrams in ", 0), 0u) << run.m_strOut;
}

// Names the first difference rather than printing two long lists.
void ExpectSameDatagrams(const Datagrams& received, const Datagrams& expected)
{
    const auto [itReceived, itExpected] =
        std::mismatch(received.begin(), received.end(), expected.begin(), expected.end());
    if (itReceived == received.end() && itExpected == expected.end())
        return;
    ADD_FAILURE() << "received " << received.size() << " of " << expected.size() << " datagrams; #"
                  << (itReceived - received.begin()) << " is '"
                  << (itReceived == received.end() ? "<nothing>" : *itReceived) << "' instead of '"
                  << (itExpected == expected.end() ? "<nothing>" : *itExpected) << "'";
}

TEST_F(AlarmSendExe, PacedRunDeliversEveryDatagramInOrder)
{
    // Few enough datagrams that the whole run fits even a default-sized receive buffer, so
    // the check does not rest on the buffer the machine grants.
    constexpr int nLines = 100;
    std::string strLines;
    Datagrams lines;
    for (int i = 0; i < nLines; ++i) {
        lines.push_back("p" + std::to_string(i));
        strLines += lines.back() + "\n";
    }
    const CTempFile file(strLines);
    const CRun run = RunAlarmSend(WithPort({L"--rate", L"2000", L"--count", L"2", L"--file", file.Path()}));
    EXPECT_EQ(run.m_dwExitCode, 0u) << run.m_strErr;
    Datagrams expected = lines;
    expected.insert(expected.end(), lines.begin(), lines.end());
    ExpectSameDatagrams(m_receiver.Received(expected.size()), expected);
    EXPECT_EQ(run.m_strOut.rfind("sent 200 datagrams in ", 0), 0u) << run.m_strOut;
}

TEST_F(AlarmSendExe, BadArgumentsExitWithTwoAndSendNothing)
{
    const Args rgBad[] = {
        WithPort({L"a", L"b", L"c"}),
        WithPort({L"--file", L"Z:\\no\\such\\alarms.txt"}),
        WithPort({L"--host", L"no-such-host.invalid", L"a", L"b", L"c", L"d"}),
    };
    for (const Args& vecArgs : rgBad) {
        const CRun run = RunAlarmSend(vecArgs);
        EXPECT_EQ(run.m_dwExitCode, 2u);
        EXPECT_EQ(run.m_strErr.rfind("alarmsend: ", 0), 0u) << run.m_strErr;
        EXPECT_NE(run.m_strErr.find("\nsee alarmsend --help"), std::string::npos) << run.m_strErr;
    }
    EXPECT_EQ(m_receiver.Received(0), Datagrams{});
}

TEST_F(AlarmSendExe, OversizedDatagramIsASendFailure)
{
    const CTempFile file(std::string(70000, 'x'));
    const CRun run = RunAlarmSend(WithPort({L"--file", file.Path()}));
    EXPECT_EQ(run.m_dwExitCode, 1u);
    EXPECT_NE(run.m_strErr.find("longer than UDP allows"), std::string::npos) << run.m_strErr;
}

}  // namespace
