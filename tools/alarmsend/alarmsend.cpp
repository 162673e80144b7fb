// alarmsend: sends alarm datagrams to Wendle for testing and load generation.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "AlarmSendArgs.h"
#include "Socket.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using namespace alarmsend;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSendFailed = 1;
constexpr int kExitBadArguments = 2;

const wchar_t kUsage[] =
    L"usage: alarmsend [options] AP TIME TYPE CONTENT   send 'AP;TIME;TYPE;CONTENT;'\n"
    L"       alarmsend [options] --raw TEXT             send TEXT as one datagram\n"
    L"       alarmsend [options] --file PATH            send each line of PATH (- for stdin)\n"
    L"options: --host H (127.0.0.1)  --port P (6000)  --count N repeats (1)  --rate R per second\n"
    L"H is an IPv4 or IPv6 address (::1) or a name; a name goes to its IPv4 address if it has one.\n"
    L"text is sent in code page 936 (GBK).\n"
    L"example: alarmsend --count 10 AP-01 \"2024-05-01 08:00:00\" 温度 \"机房温度过高\"\n";

std::string ToUtf8(const std::wstring& strText)
{
    if (strText.empty())
        return {};
    const int cchText = static_cast<int>(strText.size());
    const int cbOut = WideCharToMultiByte(CP_UTF8, 0, strText.data(), cchText, nullptr, 0, nullptr, nullptr);
    std::string strOut(static_cast<size_t>(cbOut > 0 ? cbOut : 0), '\0');
    if (cbOut > 0)
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), cchText, &strOut[0], cbOut, nullptr, nullptr);
    return strOut;
}

// A console shows UTF-16 as is; anything else (a file, a pipe, Wine's pipe to
// a Linux process) gets UTF-8 so the Chinese in messages survives.
void WriteText(DWORD dwStdHandle, const std::wstring& strText)
{
    const HANDLE hOut = GetStdHandle(dwStdHandle);
    if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE)
        return;
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        WriteConsoleW(hOut, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr);
        return;
    }
    const std::string strUtf8 = ToUtf8(strText);
    WriteFile(hOut, strUtf8.data(), static_cast<DWORD>(strUtf8.size()), &dwWritten, nullptr);
}

std::wstring SystemMessage(DWORD dwError)
{
    wchar_t* pszMessage = nullptr;
    const DWORD dwFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD cchMessage = FormatMessageW(dwFlags, nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pszMessage),
                                            0, nullptr);
    const CLocalMemory<wchar_t*> message(pszMessage);
    std::wstring strMessage = cchMessage ? std::wstring(pszMessage, cchMessage) : std::wstring();
    while (!strMessage.empty() && (strMessage.back() == L'\n' || strMessage.back() == L'\r' ||
                                   strMessage.back() == L' ' || strMessage.back() == L'.'))
        strMessage.pop_back();
    const std::wstring strCode = L"error " + std::to_wstring(dwError);
    return strMessage.empty() ? strCode : strMessage + L" (" + strCode + L")";
}

std::wstring SendErrorText(int nError)
{
    // Wine has no text for this one, and an over-long line is the usual cause.
    if (nError == WSAEMSGSIZE)
        return L"a datagram is longer than UDP allows (65507 bytes)";
    return SystemMessage(static_cast<DWORD>(nError));
}

int BadArguments(const std::wstring& strError)
{
    WriteText(STD_ERROR_HANDLE, L"alarmsend: " + strError + L"\nsee alarmsend --help\n");
    return kExitBadArguments;
}

int SendFailed(const std::wstring& strError)
{
    WriteText(STD_ERROR_HANDLE, L"alarmsend: " + strError + L"\n");
    return kExitSendFailed;
}

bool ReadAll(HANDLE hInput, std::string& strData, DWORD& dwError)
{
    char rgBuffer[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hInput, rgBuffer, sizeof rgBuffer, &cbRead, nullptr)) {
            dwError = GetLastError();
            // The writer closing its end of a pipe is how stdin ends, not a failure.
            return dwError == ERROR_BROKEN_PIPE;
        }
        if (cbRead == 0)
            return true;
        strData.append(rgBuffer, cbRead);
    }
}

// Returns an error text, empty on success.
std::wstring LoadLines(const std::wstring& strPath, std::vector<std::string>& vecLines)
{
    std::string strData;
    DWORD dwError = 0;
    if (strPath == L"-") {
        if (!ReadAll(GetStdHandle(STD_INPUT_HANDLE), strData, dwError))
            return L"cannot read standard input: " + SystemMessage(dwError);
    } else {
        const CFile hFile(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile.IsValid())
            return L"cannot read '" + strPath + L"': " + SystemMessage(GetLastError());
        if (!ReadAll(hFile, strData, dwError))
            return L"cannot read '" + strPath + L"': " + SystemMessage(dwError);
    }
    vecLines = SplitLines(strData);
    return {};
}

class CWinsock {
public:
    CWinsock() { m_bStarted = WSAStartup(MAKEWORD(2, 2), &m_wsaData) == 0; }
    ~CWinsock()
    {
        if (m_bStarted)
            WSACleanup();
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
    bool IsStarted() const { return m_bStarted; }

private:
    WSADATA m_wsaData{};
    bool m_bStarted = false;
};

// Where the datagrams go: an IPv4 or IPv6 address, with the port.
struct CTarget {
    sockaddr_storage m_addr{};
    int m_cbAddr = 0;
};

// IPv4 when the host has such an address, as it always had to be, and IPv6 otherwise (--host ::1,
// or a name with only IPv6 addresses): Wendle listens on both.
bool ResolveHost(const CSendOptions& opts, CTarget& target, std::wstring& strError)
{
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    ADDRINFOW* pResult = nullptr;
    const int nError = GetAddrInfoW(opts.m_strHost.c_str(), nullptr, &hints, &pResult);
    if (nError != 0 || pResult == nullptr) {
        strError = L"cannot resolve host '" + opts.m_strHost + L"': " + SystemMessage(static_cast<DWORD>(nError));
        return false;
    }
    const ADDRINFOW* pChosen = pResult;
    for (const ADDRINFOW* pAddress = pResult; pAddress; pAddress = pAddress->ai_next)
        if (pAddress->ai_family == AF_INET) {
            pChosen = pAddress;
            break;
        }
    target.m_cbAddr = static_cast<int>(pChosen->ai_addrlen);
    memcpy(&target.m_addr, pChosen->ai_addr, pChosen->ai_addrlen);
    const u_short usPort = htons(opts.m_usPort);
    if (target.m_addr.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&target.m_addr)->sin6_port = usPort;
    else
        reinterpret_cast<sockaddr_in*>(&target.m_addr)->sin_port = usPort;
    FreeAddrInfoW(pResult);
    return true;
}

class CStopwatch {
public:
    CStopwatch()
    {
        QueryPerformanceFrequency(&m_liFrequency);
        QueryPerformanceCounter(&m_liStart);
    }
    double Seconds() const
    {
        LARGE_INTEGER liNow;
        QueryPerformanceCounter(&liNow);
        return static_cast<double>(liNow.QuadPart - m_liStart.QuadPart) / static_cast<double>(m_liFrequency.QuadPart);
    }

private:
    LARGE_INTEGER m_liFrequency{};
    LARGE_INTEGER m_liStart{};
};

// Each datagram has a due time on one schedule from the start, so a late
// wake-up is made up by the following datagrams instead of lowering the rate.
class CPacer {
public:
    CPacer(const CStopwatch& stopwatch, double dRate) : m_stopwatch(stopwatch), m_dRate(dRate) {}

    void WaitForTurn(unsigned long long ullIndex) const
    {
        if (m_dRate <= 0.0)
            return;
        const double dDue = static_cast<double>(ullIndex) / m_dRate;
        for (;;) {
            const double dLeft = dDue - m_stopwatch.Seconds();
            if (dLeft <= 0.0)
                return;
            // Sleep() may overshoot by a whole scheduler tick (about 15.6 ms), so
            // it only covers the bulk of a long wait and the rest is spun.
            if (dLeft > 0.020)
                Sleep(static_cast<DWORD>((dLeft - 0.016) * 1000.0));
            else
                SwitchToThread();
        }
    }

private:
    const CStopwatch& m_stopwatch;
    double m_dRate;
};

// The socket the datagrams leave from, made anew when Windows says the old one is done with.
class CSender {
public:
    explicit CSender(const CTarget& target) : m_target(target) {}
    CSender(const CSender&) = delete;
    CSender& operator=(const CSender&) = delete;

    bool Open(int& nError)
    {
        m_hSocket.Attach(socket(m_target.m_addr.ss_family, SOCK_DGRAM, IPPROTO_UDP));
        nError = m_hSocket.IsValid() ? 0 : WSAGetLastError();
        return m_hSocket.IsValid();
    }

    bool Send(const std::string& strPayload, int& nError)
    {
        for (int nAttempt = 0;; ++nAttempt) {
            const int nSent = sendto(m_hSocket, strPayload.data(), static_cast<int>(strPayload.size()), 0,
                                     reinterpret_cast<const sockaddr*>(&m_target.m_addr), m_target.m_cbAddr);
            if (nSent != SOCKET_ERROR)
                return true;
            nError = WSAGetLastError();
            if (nAttempt >= 1000)
                return false;
            if (nError == WSAECONNRESET) {
                // By the sendto documentation, on a UDP socket this says that an earlier datagram
                // met an ICMP port unreachable (nothing listened on the port then, as before the
                // monitor starts) and that the socket is to be closed; Linux, and so Wine, never
                // reports it. This call sent nothing: the report is counted and a new socket
                // sends the datagram again.
                ++m_ullUnreachable;
                m_hSocket.Close();
                if (!Open(nError))
                    return false;
            } else if (nError == WSAENOBUFS) {
                // Windows reports a momentarily full send buffer rather than blocking; under
                // load that is back-pressure, not a failure.
                Sleep(1);
            } else {
                return false;
            }
        }
    }

    unsigned long long Unreachable() const { return m_ullUnreachable; }

private:
    const CTarget& m_target;
    CSocket m_hSocket;
    unsigned long long m_ullUnreachable = 0;
};

struct CSendStats {
    unsigned long long m_ullSent = 0;
    double m_dSeconds = 0.0;
};

bool SendAll(CSender& sender, const CSendOptions& opts, CSendStats& stats, int& nError)
{
    const CStopwatch stopwatch;
    const CPacer pacer(stopwatch, opts.m_dRate);
    for (unsigned long ulRound = 0; ulRound < opts.m_ulCount; ++ulRound) {
        for (const std::string& strPayload : opts.m_vecPayloads) {
            pacer.WaitForTurn(stats.m_ullSent);
            if (!sender.Send(strPayload, nError))
                return false;
            ++stats.m_ullSent;
        }
    }
    stats.m_dSeconds = stopwatch.Seconds();
    return true;
}

void ReportStats(const CSendStats& stats)
{
    const double dRate = stats.m_dSeconds > 0.0 ? static_cast<double>(stats.m_ullSent) / stats.m_dSeconds : 0.0;
    wchar_t szLine[128];
    swprintf(szLine, sizeof szLine / sizeof szLine[0], L"sent %llu datagrams in %.3f s (%.1f/s)\n", stats.m_ullSent,
             stats.m_dSeconds, dRate);
    WriteText(STD_OUTPUT_HANDLE, szLine);
}

std::wstring Destination(const CSendOptions& opts)
{
    const bool bIpv6Address = opts.m_strHost.find(L':') != std::wstring::npos;
    return (bIpv6Address ? L"[" + opts.m_strHost + L"]" : opts.m_strHost) + L":" + std::to_wstring(opts.m_usPort);
}

int Run(CSendOptions& opts)
{
    if (opts.m_eSource == ESource::File) {
        const std::wstring strError = LoadLines(opts.m_strFile, opts.m_vecPayloads);
        if (!strError.empty())
            return BadArguments(strError);
    }
    const CWinsock winsock;
    if (!winsock.IsStarted())
        return SendFailed(L"cannot start Winsock");
    CTarget target;
    std::wstring strError;
    if (!ResolveHost(opts, target, strError))
        return BadArguments(strError);
    CSender sender(target);
    int nError = 0;
    if (!sender.Open(nError))
        return SendFailed(L"cannot create a UDP socket: " + SystemMessage(static_cast<DWORD>(nError)));

    CSendStats stats;
    const bool bSent = SendAll(sender, opts, stats, nError);
    if (const unsigned long long ullUnreachable = sender.Unreachable())
        WriteText(STD_ERROR_HANDLE, L"alarmsend: " + Destination(opts) + L" answered " + std::to_wstring(ullUnreachable) +
                                        (ullUnreachable == 1 ? L" time" : L" times") +
                                        L" that nothing listened there (ICMP port unreachable): the datagrams"
                                        L" it answered for were lost\n");
    if (!bSent)
        return SendFailed(L"sending to " + Destination(opts) + L" failed after " + std::to_wstring(stats.m_ullSent) +
                          L" datagrams: " + SendErrorText(nError));
    if (opts.m_bReport)
        ReportStats(stats);
    return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t* argv[])
{
    const std::vector<std::wstring> vecArgs(argv + (argc > 0 ? 1 : 0), argv + argc);
    CParseResult result = ParseArgs(vecArgs);
    if (!result.m_bOk)
        return BadArguments(result.m_strError);
    if (result.m_opts.m_bHelp) {
        WriteText(STD_OUTPUT_HANDLE, kUsage);
        return kExitOk;
    }
    return Run(result.m_opts);
}
