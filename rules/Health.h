// What stops alarms from being received, logged or shown, kept as a state for as long as it
// lasts, and what the operator is told of each change. Whoever sees a condition sets and clears
// it; the window shows the state in a line of text and the tray in its tip and icon, and a
// balloon announces each change. A balloon is never the only place a fault is told: it can be
// lost (no icon yet, quiet hours, replaced by the next). Plain C++: it builds natively.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class HealthKind {
    // Conditions, set and cleared by whoever sees them.
    Port,    // UDP 6000 is not bound, for one family or both
    Log,     // myfile.txt cannot be written
    Memory,  // lines held in memory for it, and how many of them were dropped
    Stalled, // a file call has run for more than the watchdog's bound
    History, // the history could not be read
    Folder,  // the working folder asked for could not be entered
    Tray,    // the tray icon is not there
    Archive, // the log could not be archived; it goes on growing, nothing is stopped
    // Events, counted and never cleared.
    Dropped,
    ReceiveFault,
    WriteFault,
    DeleteFailed,
};
constexpr std::size_t HEALTH_KINDS = 12;

// The Winsock errors a bind of UDP 6000 meets, by the documented bind tables: another socket on
// the port, whatever its options, and a port Windows reserves or a policy refuses.
constexpr long WINSOCK_ADDRESS_IN_USE = 10048;
constexpr long WINSOCK_ACCESS_DENIED = 10013;
// Port: an IPv6 error of this value means the machine has no IPv6, so IPv4 is all there is.
constexpr long NO_SUCH_FAMILY = -1;

struct CHealthDetail {
    long nError = 0;            // the Winsock or Windows error; Port: of IPv4, 0 while bound
    long nErrorV6 = 0;          // Port: of IPv6, 0 while bound, or NO_SUCH_FAMILY
    long nSession = -1;         // Port: the Windows session whose monitor holds the port
    std::uint64_t nCount = 0;   // Memory: the lines held; events: how many happened
    std::uint64_t nDropped = 0; // Memory: the lines dropped beyond the bound
    std::string strFolder;      // Folder: as it was asked for
};

inline CHealthDetail ErrorDetail(long nError)
{
    CHealthDetail detail;
    detail.nError = nError;
    return detail;
}

inline CHealthDetail CountDetail(std::uint64_t nCount)
{
    CHealthDetail detail;
    detail.nCount = nCount;
    return detail;
}

// One change as its finder reports it: a condition set or cleared, or events counted.
struct CHealthChange {
    HealthKind kind = HealthKind::Port;
    bool bSet = true;
    CHealthDetail detail;
};

// A balloon that announces a change.
struct CAnnouncement {
    HealthKind kind;
    std::string text;
    bool bWarning;
};

// A file call that has run this long is stalled: a share that stopped answering, a filter that
// holds the call. The window's watchdog says so, whatever the writer is doing.
constexpr std::uint64_t FILE_CALL_STALL_MILLISECONDS = 10000;

// Counted events are announced at most this often, with their running total, so that a flood
// of them can never hide a change of state.
constexpr std::uint64_t EVENT_REPEAT_MILLISECONDS = 60000;

// True for a kind that is counted rather than set and cleared.
bool IsHealthEvent(HealthKind kind);
// The line a condition shows while it holds, or the balloon of an event. Code page 936.
std::string HealthText(HealthKind kind, const CHealthDetail& detail);

class CHealth {
public:
    // True when what the window shows changed.
    bool Apply(const CHealthChange& change, std::uint64_t nNowMilliseconds);
    bool IsSet(HealthKind kind) const { return Slot(kind).bSet; }
    // True while a condition that the window shows holds.
    bool IsFailing() const;
    // The text of every shown condition, in the table's order, in one line; empty when all is well.
    std::string Line() const;
    // One slot per kind: the announcements due by now, each the latest of its kind.
    std::vector<CAnnouncement> Due(std::uint64_t nNowMilliseconds) const;
    // The balloon was shown: its slot is free.
    void Announced(HealthKind kind, std::uint64_t nNowMilliseconds);

private:
    struct CSlot {
        bool bSet = false;
        CHealthDetail detail;
        // What the last announcement of a condition told; empty while it is not set.
        std::string strTold;
        std::uint64_t nTotal = 0;
        bool bPending = false;
        CAnnouncement pending{HealthKind::Port, {}, false};
        std::uint64_t nDue = 0;
        bool bShownBefore = false;
        std::uint64_t nLastShown = 0;
    };

    CSlot& Slot(HealthKind kind) { return m_slots[static_cast<std::size_t>(kind)]; }
    const CSlot& Slot(HealthKind kind) const { return m_slots[static_cast<std::size_t>(kind)]; }
    bool ApplyCondition(const CHealthChange& change);
    void ApplyEvent(const CHealthChange& change, std::uint64_t nNow);

    std::array<CSlot, HEALTH_KINDS> m_slots{};
};
