#include "DiskWatcher.h"

#include "AlarmLog.h"

#include <algorithm>

namespace {

constexpr DWORD POLL_MILLISECONDS = 1;
constexpr DWORD READ_CHUNK = 1 << 16;

HANDLE OpenLog()
{
    // Shared as viewers share it, so the writer's appends, renames and deletes go on meanwhile.
    return ::CreateFileW(ALARM_LOG_FILE, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

CDiskWatcher::CDiskWatcher(char chPhase, int nCount, bool bFromEnd)
    : m_chPhase(chPhase), m_vecSentAt(static_cast<std::size_t>(nCount), 0),
      m_vecSeenAt(static_cast<std::size_t>(nCount), 0), m_hFile(OpenLog())
{
    LARGE_INTEGER end{};
    if (bFromEnd && m_hFile != INVALID_HANDLE_VALUE && ::SetFilePointerEx(m_hFile, LARGE_INTEGER{}, &end, FILE_END))
        m_ullOffset = static_cast<ULONGLONG>(end.QuadPart);
    m_thread = std::thread(&CDiskWatcher::Run, this);
}

CDiskWatcher::~CDiskWatcher()
{
    m_bStop = true;
    m_thread.join();
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
}

bool CDiskWatcher::WaitForAll(DWORD dwMilliseconds)
{
    const ULONGLONG ullDeadline = ::GetTickCount64() + dwMilliseconds;
    while (Seen() < static_cast<int>(m_vecSeenAt.size())) {
        if (::GetTickCount64() >= ullDeadline)
            return false;
        ::Sleep(POLL_MILLISECONDS);
    }
    return true;
}

std::vector<double> CDiskWatcher::Delays()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<double> vecDelays;
    for (std::size_t i = 0; i < m_vecSeenAt.size(); ++i) {
        if (m_vecSeenAt[i])
            vecDelays.push_back(Seconds(m_vecSeenAt[i] - m_vecSentAt[i]));
    }
    return vecDelays;
}

double CDiskWatcher::DelayOf(int nSeq)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto i = static_cast<std::size_t>(nSeq);
    return m_vecSeenAt[i] ? Seconds(m_vecSeenAt[i] - m_vecSentAt[i]) : -1;
}

int CDiskWatcher::Seen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSeen;
}

double CDiskWatcher::LongestPauseSeconds()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return Seconds(m_llLongestPause);
}

void CDiskWatcher::Run()
{
    LONGLONG llLooked = QpcNow();
    while (!m_bStop) {
        if (!ReadMore()) {
            FollowName();
            ::Sleep(POLL_MILLISECONDS);
        }
        const LONGLONG llNow = QpcNow();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_llLongestPause = std::max(m_llLongestPause, llNow - llLooked);
        llLooked = llNow;
    }
}

bool CDiskWatcher::ReadMore()
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return false;
    char buffer[READ_CHUNK];
    DWORD dwRead = 0;
    if (!::ReadFile(m_hFile, buffer, READ_CHUNK, &dwRead, nullptr) || dwRead == 0)
        return false;
    m_ullOffset += dwRead;
    m_strPending.append(buffer, dwRead);
    TakeLines();
    return true;
}

void CDiskWatcher::FollowName()
{
    // The open file was read to its end. The name stands for another file once it is gone or
    // its size differs from what was read while the open file has still nothing more: the
    // writer appends only to the file of that name, so an archived file never grows again.
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!::GetFileAttributesExW(ALARM_LOG_FILE, GetFileExInfoStandard, &attributes))
        return;
    const ULONGLONG ullSize = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    if (m_hFile != INVALID_HANDLE_VALUE && (ullSize == m_ullOffset || ReadMore()))
        return;
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
    m_hFile = OpenLog();
    m_ullOffset = 0;
    m_strPending.clear();
}

void CDiskWatcher::TakeLines()
{
    const LONGLONG llSeen = QpcNow();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t nStart = 0;
    for (std::size_t nEnd; (nEnd = m_strPending.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1) {
        int nSeq = 0;
        LONGLONG llSentAt = 0;
        if (!ParseLine(m_strPending.substr(nStart, nEnd - nStart), m_chPhase, nSeq, llSentAt) ||
            nSeq >= static_cast<int>(m_vecSeenAt.size()) || m_vecSeenAt[static_cast<std::size_t>(nSeq)])
            continue;
        m_vecSentAt[static_cast<std::size_t>(nSeq)] = llSentAt;
        m_vecSeenAt[static_cast<std::size_t>(nSeq)] = llSeen;
        ++m_nSeen;
    }
    m_strPending.erase(0, nStart);
}
