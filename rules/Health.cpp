#include "Health.h"

#include <algorithm>

namespace {

const char LINE_SEPARATOR[] = "；";

std::string WindowsError(long nError)
{
    return "（Windows 错误 " + std::to_string(nError) + "）";
}

// The Windows errors whose cause the operator can act on.
struct CFileCause {
    long nError;
    const char* pszCause;
};
constexpr CFileCause FILE_CAUSES[] = {
    {5, "，没有权限，或另一个程序正在使用它"}, // ERROR_ACCESS_DENIED
    {32, "，另一个程序正在使用它"},             // ERROR_SHARING_VIOLATION
    {33, "，另一个程序正在使用它"},             // ERROR_LOCK_VIOLATION
    {39, "，磁盘已满"},                         // ERROR_HANDLE_DISK_FULL
    {112, "，磁盘已满"},                        // ERROR_DISK_FULL
};

// Why a file call on the log failed, where the error says it; then the error itself.
std::string FileCause(long nError)
{
    for (const CFileCause& cause : FILE_CAUSES) {
        if (cause.nError == nError)
            return cause.pszCause + WindowsError(nError);
    }
    return WindowsError(nError);
}

std::string BindClause(long nError)
{
    std::string clause = "无法监听 UDP 6000";
    if (nError == WINSOCK_ADDRESS_IN_USE)
        clause = "UDP 6000 被另一个程序占用";
    else if (nError == WINSOCK_ACCESS_DENIED)
        clause = "UDP 6000 被系统保留或禁止访问";
    return clause + "（Winsock 错误 " + std::to_string(nError) + "）";
}

std::string PortText(const CHealthDetail& detail)
{
    if (detail.nSession >= 0)
        return "未在接收告警：UDP 6000 由会话 " + std::to_string(detail.nSession) + " 中运行的进程监控程序使用，告警发往那里";
    const long v4 = detail.nError, v6 = detail.nErrorV6 == NO_SUCH_FAMILY ? 0 : detail.nErrorV6;
    // A family that is bound still takes its alarms: the line says which one does not.
    if (v4 && v6 && v4 != v6)
        return "未在接收告警：IPv4 " + BindClause(v4) + "，IPv6 " + BindClause(v6);
    if (v4 && !v6 && detail.nErrorV6 != NO_SUCH_FAMILY)
        return "未在接收 IPv4 告警：" + BindClause(v4);
    if (!v4 && v6)
        return "未在接收 IPv6 告警：" + BindClause(v6);
    return "未在接收告警：" + BindClause(v4);
}

std::string LogText(const CHealthDetail& detail)
{
    return "无法写入告警日志 myfile.txt" + FileCause(detail.nError) + "，告警暂存于内存中";
}

std::string MemoryText(const CHealthDetail& detail)
{
    std::string text = std::to_string(detail.nCount) + " 条数据报暂存于内存中，尚未写入告警日志";
    if (detail.nDropped)
        text += "，最早的 " + std::to_string(detail.nDropped) + " 条已丢弃";
    return text;
}

std::string StalledText(const CHealthDetail&)
{
    return "告警日志的文件操作已超过 10 秒未完成，新告警暂不显示";
}

std::string HistoryText(const CHealthDetail& detail)
{
    return "无法读取告警日志 myfile.txt 中的历史记录" + FileCause(detail.nError) + "，日志页只列出本次收到的告警";
}

std::string FolderText(const CHealthDetail& detail)
{
    return "无法进入工作文件夹 " + detail.strFolder + WindowsError(detail.nError) + "，告警日志改写在程序所在的文件夹中";
}

std::string TrayText(const CHealthDetail&)
{
    return "通知区域的图标未能显示，正在重试";
}

std::string ArchiveText(const CHealthDetail& detail)
{
    return "无法归档告警日志 myfile.txt" + FileCause(detail.nError) + "，日志继续写入原文件";
}

std::string DroppedText(const CHealthDetail& detail)
{
    return "告警过多，接收队列已满，已丢弃 " + std::to_string(detail.nCount) + " 条数据报";
}

std::string ReceiveFaultText(const CHealthDetail& detail)
{
    return "接收告警时出错（共 " + std::to_string(detail.nCount) + " 次），部分数据报可能未收到，正在继续接收";
}

std::string WriteFaultText(const CHealthDetail& detail)
{
    return "写入告警日志时出错（共 " + std::to_string(detail.nCount) + " 次），部分数据报可能未记录";
}

std::string DeleteFailedText(const CHealthDetail& detail)
{
    return "无法删除告警日志 myfile.txt" + FileCause(detail.nError) + "，其中的记录仍全部保留";
}

// A condition is announced again whenever this changes; by default, whenever its text does.
std::string ToldAsText(HealthKind kind, const CHealthDetail& detail)
{
    return HealthText(kind, detail);
}

// Lines held while the log fails already have the log's own balloon; only that they begin to be
// dropped is news of its own.
std::string ToldWhenDropping(HealthKind, const CHealthDetail& detail)
{
    return detail.nDropped ? "dropping" : "";
}

// The icon that a balloon would need is what is missing.
std::string NeverTold(HealthKind, const CHealthDetail&)
{
    return {};
}

struct CHealthRow {
    HealthKind kind;
    std::string (*pfnText)(const CHealthDetail&);
    // In the window's line and the tray's tip while it holds.
    bool bShown;
    std::string (*pfnTold)(HealthKind, const CHealthDetail&);
    // The balloon when the condition clears; null for none.
    const char* pszCleared;
    // Events: at most one balloon in this long.
    std::uint64_t nRepeat;
};

const CHealthRow HEALTH_TABLE[HEALTH_KINDS] = {
    {HealthKind::Port, PortText, true, ToldAsText, "已开始监听 UDP 端口 6000", 0},
    {HealthKind::Log, LogText, true, ToldAsText, "告警日志 myfile.txt 已恢复写入", 0},
    {HealthKind::Memory, MemoryText, true, ToldWhenDropping, nullptr, 0},
    {HealthKind::Stalled, StalledText, true, ToldAsText, "告警日志的文件操作已恢复", 0},
    {HealthKind::History, HistoryText, true, ToldAsText, nullptr, 0},
    {HealthKind::Folder, FolderText, true, ToldAsText, nullptr, 0},
    {HealthKind::Tray, TrayText, true, NeverTold, nullptr, 0},
    {HealthKind::Archive, ArchiveText, false, ToldAsText, "告警日志 myfile.txt 已恢复归档", 0},
    {HealthKind::Dropped, DroppedText, false, nullptr, nullptr, EVENT_REPEAT_MILLISECONDS},
    {HealthKind::ReceiveFault, ReceiveFaultText, false, nullptr, nullptr, EVENT_REPEAT_MILLISECONDS},
    {HealthKind::WriteFault, WriteFaultText, false, nullptr, nullptr, EVENT_REPEAT_MILLISECONDS},
    {HealthKind::DeleteFailed, DeleteFailedText, false, nullptr, nullptr, 0},
};

const CHealthRow& Row(HealthKind kind)
{
    return HEALTH_TABLE[static_cast<std::size_t>(kind)];
}

} // namespace

bool IsHealthEvent(HealthKind kind)
{
    return Row(kind).pfnTold == nullptr;
}

std::string HealthText(HealthKind kind, const CHealthDetail& detail)
{
    return Row(kind).pfnText(detail);
}

bool CHealth::Apply(const CHealthChange& change, std::uint64_t nNowMilliseconds)
{
    if (IsHealthEvent(change.kind)) {
        ApplyEvent(change, nNowMilliseconds);
        return false;
    }
    return ApplyCondition(change);
}

bool CHealth::ApplyCondition(const CHealthChange& change)
{
    const CHealthRow& row = Row(change.kind);
    CSlot& slot = Slot(change.kind);
    const std::string shownBefore = slot.bSet ? row.pfnText(slot.detail) : std::string();
    if (!change.bSet && !slot.bSet)
        return false;
    slot.bSet = change.bSet;
    slot.detail = change.bSet ? change.detail : CHealthDetail();
    const std::string shown = slot.bSet ? row.pfnText(slot.detail) : std::string();
    const std::string told = slot.bSet ? row.pfnTold(change.kind, slot.detail) : std::string();
    if (told != slot.strTold) {
        slot.bPending = !told.empty() || row.pszCleared;
        slot.pending = told.empty() ? CAnnouncement{change.kind, row.pszCleared ? row.pszCleared : "", false}
                                    : CAnnouncement{change.kind, shown, true};
        slot.nDue = 0;
        slot.strTold = told;
    } else if (slot.bPending && !told.empty()) {
        // The latest wins: a balloon still waiting tells what holds now.
        slot.pending.text = shown;
    }
    return row.bShown && shown != shownBefore;
}

void CHealth::ApplyEvent(const CHealthChange& change, std::uint64_t nNow)
{
    const CHealthRow& row = Row(change.kind);
    CSlot& slot = Slot(change.kind);
    slot.nTotal += change.detail.nCount;
    CHealthDetail total = change.detail;
    total.nCount = slot.nTotal;
    slot.pending = {change.kind, row.pfnText(total), true};
    if (!slot.bPending)
        slot.nDue = slot.bShownBefore ? std::max(nNow, slot.nLastShown + row.nRepeat) : nNow;
    slot.bPending = true;
}

bool CHealth::IsFailing() const
{
    for (std::size_t i = 0; i < HEALTH_KINDS; ++i) {
        if (m_slots[i].bSet && HEALTH_TABLE[i].bShown)
            return true;
    }
    return false;
}

std::string CHealth::Line() const
{
    std::string line;
    for (std::size_t i = 0; i < HEALTH_KINDS; ++i) {
        if (!m_slots[i].bSet || !HEALTH_TABLE[i].bShown)
            continue;
        if (!line.empty())
            line += LINE_SEPARATOR;
        line += HEALTH_TABLE[i].pfnText(m_slots[i].detail);
    }
    return line;
}

std::vector<CAnnouncement> CHealth::Due(std::uint64_t nNowMilliseconds) const
{
    std::vector<CAnnouncement> due;
    for (const CSlot& slot : m_slots) {
        if (slot.bPending && slot.nDue <= nNowMilliseconds)
            due.push_back(slot.pending);
    }
    return due;
}

void CHealth::Announced(HealthKind kind, std::uint64_t nNowMilliseconds)
{
    CSlot& slot = Slot(kind);
    slot.bPending = false;
    slot.bShownBefore = true;
    slot.nLastShown = nNowMilliseconds;
}
