#include "MachineLimits.h"

#include "AlarmRules.h"
#include "BenchSupport.h"
#include "TestSupport.h"
#include "Text.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

constexpr double BARE_SECONDS = 1;
constexpr int BARE_UDP_MAX = 200000;
constexpr int BARE_UDP_BUFFER = 8 << 20;
constexpr DWORD BARE_UDP_TIMEOUT = 300;
constexpr int LIST_LIMIT_ROUNDS = 3;
constexpr DWORD REPAINT_PUMP_MILLISECONDS = 20;

} // namespace

unsigned long long ReceiveBufferCap()
{
    // Under Wine a Unix path has a name on one of Wine's drives; Windows has no such call.
    using DosNameFunction = wchar_t*(CDECL*)(const char*);
    const auto pDosName = reinterpret_cast<DosNameFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    wchar_t* pszPath = pDosName ? pDosName("/proc/sys/net/core/rmem_max") : nullptr;
    if (!pszPath)
        return 0;
    const std::string text = ReadFileBytes(pszPath);
    ::HeapFree(::GetProcessHeap(), 0, pszPath);
    return std::strtoull(text.c_str(), nullptr, 10);
}

CBareUdp MeasureBareUdp()
{
    CBareUdp result;
    SOCKET rx = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::setsockopt(rx, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&BARE_UDP_BUFFER), sizeof(BARE_UDP_BUFFER));
    ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&BARE_UDP_TIMEOUT),
                 sizeof(BARE_UDP_TIMEOUT));
    // Any free port: a fixed one may belong to another program on a shared machine.
    sockaddr_in address = LoopbackAddress(0);
    ::bind(rx, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int nLength = sizeof(address);
    ::getsockname(rx, reinterpret_cast<sockaddr*>(&address), &nLength);

    std::atomic<bool> bSenderDone{false};
    std::atomic<int> nSent{0};
    std::thread sender([&] {
        SOCKET tx = ::socket(AF_INET, SOCK_DGRAM, 0);
        const LONGLONG llEnd = QpcNow() + static_cast<LONGLONG>(BARE_SECONDS * g_llFrequency);
        for (int nSeq = 0; nSeq < BARE_UDP_MAX && QpcNow() < llEnd; ++nSeq) {
            const std::string strText = AlarmText(PHASE_BARE, nSeq, QpcNow());
            if (::sendto(tx, strText.data(), static_cast<int>(strText.size()), 0,
                         reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != SOCKET_ERROR)
                ++nSent;
        }
        ::closesocket(tx);
        bSenderDone = true;
    });

    char buffer[65536];
    LONGLONG llFirst = 0;
    LONGLONG llLast = 0;
    for (;;) {
        const int n = ::recvfrom(rx, buffer, sizeof(buffer), 0, nullptr, nullptr);
        if (n != SOCKET_ERROR) {
            llLast = QpcNow();
            if (result.nArrived++ == 0)
                llFirst = llLast;
        } else if (bSenderDone) {
            break;
        }
    }
    sender.join();
    ::closesocket(rx);
    result.nSent = nSent;
    if (result.nArrived > 1 && llLast > llFirst)
        result.dRate = (result.nArrived - 1) / Seconds(llLast - llFirst);
    return result;
}

CBareAppend MeasureFlushedAppends(const wchar_t* pszFile, double dSeconds)
{
    CBareAppend result;
    const std::string strLine = AlarmText(PHASE_BARE, 0, 0) + "\r\n";
    const LONGLONG llStart = QpcNow();
    const LONGLONG llEnd = llStart + static_cast<LONGLONG>(dSeconds * g_llFrequency);
    std::vector<double> vecLineSeconds;
    LONGLONG llNow = llStart;
    while (llNow < llEnd) {
        HANDLE hFile = ::CreateFileW(pszFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return result;
        ::SetFilePointerEx(hFile, LARGE_INTEGER{}, nullptr, FILE_END);
        DWORD dwWritten = 0;
        ::WriteFile(hFile, strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten, nullptr);
        ::FlushFileBuffers(hFile);
        ::CloseHandle(hFile);
        const LONGLONG llLine = llNow;
        llNow = QpcNow();
        vecLineSeconds.push_back(Seconds(llNow - llLine));
    }
    ::DeleteFileW(pszFile);
    result.dRate = static_cast<double>(vecLineSeconds.size()) / Seconds(llNow - llStart);
    result.dSlowestSeconds = *std::max_element(vecLineSeconds.begin(), vecLineSeconds.end());
    result.dP99Seconds = Percentile(vecLineSeconds, 0.99);
    return result;
}

CBareAppend MeasureBareAppend()
{
    CTempDir dir;
    return MeasureFlushedAppends(L"bare.txt", BARE_SECONDS);
}

CBareRows BareRows(int nCount)
{
    CBareRows rows;
    for (int nRow = 0; nRow < nCount; ++nRow) {
        rows.push_back({Widen(std::string("wb") + PHASE_BARE + ":" + std::to_string(nRow)),
                        Widen("2024-05-01 08:00:00"), Widen("温度"), Widen(std::to_string(QpcNow()))});
    }
    return rows;
}

double InsertBareRows(HWND hList, CBareRows& rows, bool bAtEnd)
{
    ::SendMessageW(hList, WM_SETREDRAW, FALSE, 0);
    const LONGLONG llStart = QpcNow();
    for (std::vector<std::wstring>& row : rows) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = bAtEnd ? static_cast<int>(::SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0)) : 0;
        item.pszText = row[0].data();
        const auto nRow =
            static_cast<WPARAM>(::SendMessageW(hList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        for (std::size_t nColumn = 1; nColumn < row.size(); ++nColumn) {
            LVITEMW subItem{};
            subItem.iSubItem = static_cast<int>(nColumn);
            subItem.pszText = row[nColumn].data();
            ::SendMessageW(hList, LVM_SETITEMTEXTW, nRow, reinterpret_cast<LPARAM>(&subItem));
        }
    }
    const double dSeconds = Seconds(QpcNow() - llStart);
    ::SendMessageW(hList, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(hList, nullptr, TRUE);
    PumpMessages(REPAINT_PUMP_MILLISECONDS);
    return dSeconds;
}

double MeasureListInserts(HWND hList)
{
    CBareRows rows = BareRows(ALARM_LIST_CAP);
    double dBest = 0;
    for (int nRound = 0; nRound < LIST_LIMIT_ROUNDS; ++nRound) {
        dBest = std::max(dBest, ALARM_LIST_CAP / InsertBareRows(hList, rows, false));
        ::SendMessageW(hList, LVM_DELETEALLITEMS, 0, 0);
    }
    return dBest;
}
