#include "DatagramQueue.h"

#include <algorithm>
#include <utility>

namespace {

// What a queued text costs beyond its bytes: the string object and the deque slot.
constexpr std::size_t QUEUE_ITEM_OVERHEAD = 32;

} // namespace

CDatagramQueue::CDatagramQueue(std::size_t nMaxBytes, std::size_t nMaxCount)
    : m_nMaxBytes(nMaxBytes), m_nMaxCount(nMaxCount)
{
}

bool CDatagramQueue::Push(std::string text)
{
    const std::size_t cost = text.size() + QUEUE_ITEM_OVERHEAD;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dqTexts.size() >= m_nMaxCount || cost > m_nMaxBytes - m_nQueuedBytes) {
            ++m_nDropped;
            return false;
        }
        m_dqTexts.push_back(std::move(text));
        m_nQueuedBytes += cost;
        ++m_nQueuedEver;
    }
    m_cvReady.notify_one();
    return true;
}

void CDatagramQueue::PushDeleteRequest()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dqDeleteAt.push_back(m_nQueuedEver);
    }
    m_cvReady.notify_one();
}

TakeResult CDatagramQueue::Take(CIntake& intake, std::size_t nMax, std::chrono::milliseconds timeout)
{
    intake.texts.clear();
    intake.bDeleteLog = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cvReady.wait_for(lock, timeout, [this] { return IsReady(); }))
        return TakeResult::TimedOut;
    if (m_dqTexts.empty() && m_dqDeleteAt.empty())
        return TakeResult::Finished;
    std::size_t count = std::min(nMax, m_dqTexts.size());
    if (!m_dqDeleteAt.empty())
        count = std::min<std::size_t>(count, m_dqDeleteAt.front() - m_nTakenEver);
    for (std::size_t i = 0; i < count; ++i) {
        m_nQueuedBytes -= m_dqTexts.front().size() + QUEUE_ITEM_OVERHEAD;
        intake.texts.push_back(std::move(m_dqTexts.front()));
        m_dqTexts.pop_front();
    }
    m_nTakenEver += count;
    if (!m_dqDeleteAt.empty() && m_dqDeleteAt.front() == m_nTakenEver) {
        m_dqDeleteAt.pop_front();
        intake.bDeleteLog = true;
    }
    return TakeResult::Taken;
}

void CDatagramQueue::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopped = true;
    }
    m_cvReady.notify_all();
}

std::size_t CDatagramQueue::Discard(bool& bDeleteLog)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bDeleteLog = !m_dqDeleteAt.empty();
    const std::size_t count =
        static_cast<std::size_t>(m_nQueuedEver - (bDeleteLog ? m_dqDeleteAt.back() : m_nTakenEver));
    m_nTakenEver = m_nQueuedEver;
    m_dqTexts.clear();
    m_dqDeleteAt.clear();
    m_nQueuedBytes = 0;
    return count;
}

std::size_t CDatagramQueue::TakeDropped()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_nDropped, 0);
}
