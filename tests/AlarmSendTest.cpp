#include <winsock2.h>
#include <ws2tcpip.h>

#include "AlarmSendArgs.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

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

// ---- argument parsing ----

struct CGoodForm {
    Args m_vecArgs;
    std::wstring m_strHost;
    unsigned short m_usPort;
    unsigned long m_ulCount;
    double m_dRate;
    ESource m_eSource;
    std::vector<std::string> m_vecPayloads;
};

TEST(AlarmSendArgs, AcceptsEveryWayOfGivingTheDatagrams)
{
    const CGoodForm rgForms[] = {
        {{L"a", L"b", L"c", L"d"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields, {"a;b;c;d;"}},
        {{L"--host", L"alarms.example", L"--port", L"1", L"--count", L"3", L"--rate", L"2.5", L"a", L"b", L"", L"d"},
         L"alarms.example", 1, 3, 2.5, ESource::Fields, {"a;b;;d;"}},
        {{L"a", L"b", L"--port=65535", L"c", L"d"}, L"127.0.0.1", 65535, 1, 0.0, ESource::Fields, {"a;b;c;d;"}},
        {{L"AP", L"T", L"中国", L"温度"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields,
         {"AP;T;\xD6\xD0\xB9\xFA;\xCE\xC2\xB6\xC8;"}},
        {{L"-5", L"--", L"--x", L"-", L"d"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields, {"-5;--x;-;d;"}},
        {{L"--raw", L""}, L"127.0.0.1", 6000, 1, 0.0, ESource::Raw, {""}},
        {{L"--raw", L"x;y;中"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Raw, {"x;y;\xD6\xD0"}},
        {{L"--count", L"1000000000", L"--file", L"-"}, L"127.0.0.1", 6000, 1000000000, 0.0, ESource::File, {}},
    };
    for (const CGoodForm& form : rgForms) {
        const CParseResult result = ParseArgs(form.m_vecArgs);
        SCOPED_TRACE(form.m_vecArgs.front());
        ASSERT_TRUE(result.m_bOk) << result.m_strError;
        EXPECT_EQ(result.m_opts.m_strHost, form.m_strHost);
        EXPECT_EQ(result.m_opts.m_usPort, form.m_usPort);
        EXPECT_EQ(result.m_opts.m_ulCount, form.m_ulCount);
        EXPECT_EQ(result.m_opts.m_dRate, form.m_dRate);
        EXPECT_EQ(result.m_opts.m_eSource, form.m_eSource);
        EXPECT_EQ(result.m_opts.m_vecPayloads, form.m_vecPayloads);
        EXPECT_EQ(result.m_opts.m_bReport, form.m_ulCount != 1 || form.m_dRate != 0.0);
    }
    EXPECT_EQ(ParseArgs({L"--file", L"alarms.txt"}).m_opts.m_strFile, L"alarms.txt");
    EXPECT_TRUE(ParseArgs({L"--port", L"1", L"--help", L"--bogus"}).m_opts.m_bHelp);
    EXPECT_TRUE(ParseArgs({L"-h"}).m_opts.m_bHelp);
}

struct CBadForm {
    Args m_vecArgs;
    std::wstring m_strErrorPart;
};

TEST(AlarmSendArgs, RejectsBadFormsWithAPointedMessage)
{
    const CBadForm rgForms[] = {
        {{}, L"nothing to send"},
        {{L"a", L"b", L"c"}, L"expected 4 fields (AP TIME TYPE CONTENT), got 3"},
        {{L"--bogus", L"a", L"b", L"c", L"d"}, L"unknown option '--bogus'"},
        {{L"a", L"b", L"c", L"d", L"--port"}, L"--port needs a value"},
        {{L"--host", L"", L"a", L"b", L"c", L"d"}, L"--host needs a value"},
        {{L"--file="}, L"--file needs a value"},
        {{L"--port", L"0", L"a", L"b", L"c", L"d"}, L"not '0'"},
        {{L"--port", L"65536", L"a", L"b", L"c", L"d"}, L"from 1 to 65535"},
        {{L"--port", L"+80", L"a", L"b", L"c", L"d"}, L"--port"},
        {{L"--count", L"0", L"a", L"b", L"c", L"d"}, L"--count must be a whole number"},
        {{L"--count", L"1000000001", L"a", L"b", L"c", L"d"}, L"--count"},
        {{L"--rate", L"0", L"a", L"b", L"c", L"d"}, L"--rate must be a positive number"},
        {{L"--rate", L"1e3", L"a", L"b", L"c", L"d"}, L"--rate"},
        {{L"--rate", L"1.2.3", L"a", L"b", L"c", L"d"}, L"--rate"},
        {{L"--port", L"1", L"--port", L"1", L"a", L"b", L"c", L"d"}, L"--port given more than once"},
        {{L"--raw", L"x", L"a", L"b", L"c", L"d"}, L"cannot be combined"},
        {{L"--raw", L"x", L"--file", L"f"}, L"cannot be combined"},
        {{L"a", L"b;c", L"d", L"e"}, L"the TIME field contains ';'"},
        {{L"a", L"b", L"c", L"\U0001F600"}, L"the CONTENT field has characters that code page 936"},
        {{L"--raw", L"\U0001F600"}, L"code page 936"},
    };
    for (const CBadForm& form : rgForms) {
        const CParseResult result = ParseArgs(form.m_vecArgs);
        EXPECT_FALSE(result.m_bOk);
        EXPECT_NE(result.m_strError.find(form.m_strErrorPart), std::wstring::npos)
            << "expected '" << form.m_strErrorPart << "' in '" << result.m_strError << "'";
    }
}

TEST(AlarmSendArgs, SplitsLinesKeepingBytesAndBlankLines)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("\n"), Lines{""});
    EXPECT_EQ(SplitLines("a"), Lines{"a"});
    EXPECT_EQ(SplitLines("a\r\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\n\r\n\nb"), (Lines{"a", "", "", "b"}));
    EXPECT_EQ(SplitLines("a\rb\r\r\n"), Lines{"a\rb\r"});
    EXPECT_EQ(SplitLines("\xD6\xD0\0\xFF\n"s), Lines{"\xD6\xD0\0\xFF"s});
}

// ---- the real executable against a real socket ----

class CUdpReceiver {
public:
    CUdpReceiver()
    {
        m_hSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_hSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        int cbAddr = sizeof addr;
        getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &cbAddr);
        m_usPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Collect(); });
    }
    ~CUdpReceiver()
    {
        m_bStop = true;
        m_thread.join();
        closesocket(m_hSocket);
    }
    unsigned short Port() const { return m_usPort; }

    // Waits for nExpected datagrams, then a little longer to catch any extra ones.
    std::vector<std::string> Received(size_t nExpected)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cvReceived.wait_for(lock, std::chrono::seconds(10), [&] { return m_vecReceived.size() >= nExpected; });
        m_cvReceived.wait_for(lock, std::chrono::milliseconds(200), [&] { return m_vecReceived.size() > nExpected; });
        return m_vecReceived;
    }

private:
    void Collect()
    {
        std::vector<char> vecBuffer(65536);
        while (!m_bStop) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_hSocket, &readable);
            timeval tvWait{0, 50000};
            if (select(0, &readable, nullptr, nullptr, &tvWait) != 1)
                continue;
            const int cbRead = recv(m_hSocket, vecBuffer.data(), static_cast<int>(vecBuffer.size()), 0);
            if (cbRead < 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_vecReceived.emplace_back(vecBuffer.data(), static_cast<size_t>(cbRead));
            m_cvReceived.notify_all();
        }
    }

    SOCKET m_hSocket = INVALID_SOCKET;
    unsigned short m_usPort = 0;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_cvReceived;
    std::vector<std::string> m_vecReceived;
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
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
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
        GetTempPathW(MAX_PATH, szDir);
        GetTempFileNameW(szDir, L"als", 0, szPath);
        m_strPath = szPath;
        const HANDLE hFile = CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD cbWritten = 0;
        WriteFile(hFile, strContent.data(), static_cast<DWORD>(strContent.size()), &cbWritten, nullptr);
        CloseHandle(hFile);
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

TEST_F(AlarmSendExe, PacedRunDeliversEveryDatagram)
{
    const CRun run = RunAlarmSend(WithPort({L"--rate", L"5000", L"--count", L"500", L"--raw", L"r"}));
    EXPECT_EQ(run.m_dwExitCode, 0u) << run.m_strErr;
    EXPECT_EQ(m_receiver.Received(500), Datagrams(500, "r"));
    EXPECT_EQ(run.m_strOut.rfind("sent 500 datagrams in ", 0), 0u) << run.m_strOut;
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
