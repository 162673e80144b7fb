#include "AlarmReceiver.h"

#include <utility>

namespace {

// Datagrams written with one flush.
constexpr std::size_t WRITE_BATCH_MAX = 4096;
// Lines waiting for a file that cannot be written are tried again this often.
constexpr std::chrono::milliseconds PENDING_RETRY{1000};
constexpr std::chrono::milliseconds IDLE_WAIT{60000};
// What a close leaves the writer to put on disk what was taken in; the rest is counted lost.
constexpr ULONGLONG STOP_DRAIN_MILLISECONDS = 1200;

} // namespace

CAlarmReceiver::CAlarmReceiver() : m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_log(m_hStopEvent) {}

void CAlarmReceiver::Stop()
{
    // The deadline is the stop itself, so whoever sees the stop sees its deadline.
    ULONGLONG nRunning = 0;
    m_nStopDeadline.compare_exchange_strong(nRunning, ::GetTickCount64() + STOP_DRAIN_MILLISECONDS);
    ::SetEvent(m_hStopEvent);
}

void CAlarmReceiver::Wake(bool bWake)
{
    // A posted message, never a sent one: the writer must not wait for the window.
    if (bWake && !::PostMessageW(m_hWndNotify, WM_ALARM_FEED, 0, 0))
        m_feed.WakeFailed();
}

void CAlarmReceiver::Publish(const CHealthChange& change) noexcept
{
    // Raised from fault handlers too: a change that cannot be fed must not end the thread.
    try {
        Wake(m_feed.PublishHealth(change));
    } catch (...) {
    }
}

std::thread CAlarmReceiver::StartCapture()
{
    for (;;) {
        try {
            return std::thread(&CAlarmReceiver::CaptureThread, this);
        } catch (...) {
            Publish(HealthKind::ReceiveFault, true, CountDetail(1));
        }
        if (StoppedWithin(FAULT_PAUSE)) {
            // Nothing was taken in: the writer may run dry at once.
            m_queue.Stop();
            return std::thread();
        }
    }
}

void CAlarmReceiver::ReportLog()
{
    // The feed passes on only what changed.
    Publish(HealthKind::Log, m_log.IsFailing(), ErrorDetail(static_cast<long>(m_log.WriteError())));
    CHealthDetail memory;
    memory.nCount = m_log.PendingLines();
    memory.nDropped = m_log.DroppedLines();
    Publish(HealthKind::Memory, memory.nCount > 0, memory);
}

void CAlarmReceiver::ArchiveLog()
{
    const ArchiveResult result = m_log.Archive();
    if (result == ArchiveResult::Failed)
        Publish(HealthKind::Archive, true, ErrorDetail(static_cast<long>(m_log.ArchiveError())));
    else if (result == ArchiveResult::Archived && m_bArchiveFailing)
        Publish(HealthKind::Archive, false);
    if (result != ArchiveResult::Deferred)
        m_bArchiveFailing = result == ArchiveResult::Failed;
}

void CAlarmReceiver::Write(const CIntake& intake)
{
    std::vector<CFeedAlarm> alarms;
    std::vector<std::string> segment;
    for (const std::string& text : intake.texts) {
        segment.push_back(text);
        CFeedAlarm alarm;
        if (!ParseAlarm(text, alarm.record))
            continue;
        alarm.bCapsLog = m_nLogRows >= ALARM_LIST_CAP;
        if (alarm.bCapsLog) {
            // The capping alarm's line goes with the archive; the next line starts the new file.
            m_log.Append(segment);
            segment.clear();
            ArchiveLog();
            m_nLogRows = 0;
        }
        ++m_nLogRows;
        alarm.bCapsMain = m_nMainRows >= ALARM_LIST_CAP;
        if (alarm.bCapsMain)
            m_nMainRows = 0;
        ++m_nMainRows;
        alarms.push_back(alarm);
    }
    m_log.Append(segment);
    // Whatever the datagrams hold, the file has a bound, so the archives' bound holds for every
    // byte; the lists are not emptied for it.
    if (m_log.IsDueForArchive())
        ArchiveLog();
    ReportLog();
    Wake(m_feed.PublishAlarms(alarms));
    if (intake.bDeleteLog)
        DeleteLog();
    if (const std::size_t nDropped = m_queue.TakeDropped()) {
        m_log.CountLost(nDropped, LossCause::Overflow);
        Publish(HealthKind::Dropped, true, CountDetail(nDropped));
    }
}

void CAlarmReceiver::DeleteLog()
{
    // The page was emptied by the button: its count starts again whatever the file does.
    m_nLogRows = 0;
    Wake(m_feed.PublishLogCleared());
    if (const DWORD dwError = m_log.Delete())
        Publish(HealthKind::DeleteFailed, true, ErrorDetail(static_cast<long>(dwError)));
    ReportLog();
}

void CAlarmReceiver::ReadHistory()
{
    // Read before the first datagram is written, while the capture already takes in whatever
    // arrives meanwhile.
    try {
        std::vector<CAlarmRow> history = m_log.ReadTail(ALARM_LIST_CAP);
        m_nLogRows = static_cast<int>(history.size());
        if (const DWORD dwError = m_log.ReadError())
            Publish(HealthKind::History, true, ErrorDetail(static_cast<long>(dwError)));
        Wake(m_feed.PublishHistory(std::move(history)));
    } catch (...) {
        Publish(HealthKind::WriteFault, true, CountDetail(1));
    }
    m_bHistoryRead = true;
}

void CAlarmReceiver::WriteUntilStopped()
{
    CIntake intake;
    for (;;) {
        try {
            if (IsStopping())
                m_log.SetStopping();
            const TakeResult result =
                m_queue.Take(intake, WRITE_BATCH_MAX, m_log.HasPending() ? PENDING_RETRY : IDLE_WAIT);
            if (result == TakeResult::Finished)
                return;
            // A wait that timed out is the time to try the waiting lines again.
            if (result == TakeResult::Taken) {
                Write(intake);
            } else {
                m_log.Append({});
                ReportLog();
            }
        } catch (...) {
            m_log.CountLost(intake.texts.size(), LossCause::WriteFailed);
            Publish(HealthKind::WriteFault, true, CountDetail(1));
        }
        if (IsStopping() && ::GetTickCount64() > m_nStopDeadline)
            return;
    }
}

void CAlarmReceiver::Run()
{
    RaisePriority();
    std::thread capture = StartCapture();
    // What an earlier run left unwritten goes into the file first, so the history shows it too.
    m_log.BeginRun();
    m_log.Append({});
    ReportLog();
    ReadHistory();
    WriteUntilStopped();
    if (capture.joinable())
        capture.join();
    m_bHistoryRead = false;
    // Whatever the close leaves in the queue, and what the queue dropped after the last batch,
    // is counted in the log with one last try; an operator's delete still queued is carried out.
    m_log.SetStopping();
    bool bDeleteLog = false;
    const std::size_t nLeft = m_queue.Discard(bDeleteLog);
    if (bDeleteLog)
        m_log.Delete();
    m_log.CountLost(nLeft, LossCause::Closing);
    m_log.CountLost(m_queue.TakeDropped(), LossCause::Overflow);
    m_log.AppendLast();
    m_log.EndRun();
}

DWORD WINAPI AlarmReceiverThread(LPVOID pParam)
{
    auto& receiver = *static_cast<CAlarmReceiver*>(pParam);
    // Winsock 2.2: the receiver uses Winsock 2 calls (WSAEventSelect, WSAWaitForMultipleEvents).
    // Without it the writer still runs, and the binds that fail tell the operator why.
    WSADATA wsaData;
    const bool bWinsock = ::WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    // Nothing may leave a thread's entry function: the process would end with the alarms in it.
    try {
        receiver.Run();
    } catch (...) {
    }
    if (bWinsock)
        ::WSACleanup();
    return 0;
}
