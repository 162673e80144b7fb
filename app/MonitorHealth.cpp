// The main window's side of health: the line that says what stops monitoring, the tray's tip
// and icon that follow it, the balloons that announce each change, the icon kept in the tray, and
// the watchdog over the writer's file calls.
#include "MonitorDlg.h"

#include "WinApp.h"

namespace {

// While the shell is still starting (a monitor started at logon) the icon cannot be added yet.
constexpr UINT TRAY_ADD_RETRY = 2000;
constexpr UINT HEALTH_PERIOD = 1000;
const char TRAY_TIP[] = "Alarm";
const char START_BALLOON[] = "正在监控中...";

} // namespace

void CMonitorDlg::ReportWorkingFolder(const std::string& strAsked, DWORD dwError)
{
    CHealthDetail folder = ErrorDetail(static_cast<long>(dwError));
    folder.strFolder = strAsked;
    m_health.Apply({HealthKind::Folder, true, folder}, ::GetTickCount64());
}

void CMonitorDlg::LoadIcons()
{
    // Loaded anew where the shell's scaling may have changed; the shell keeps its own copy of the
    // image it shows, so the old one may go once the new one is set.
    m_trayIcon = LoadTrayIcon(IDR_MAINFRAME);
    m_trayWarningIcon = LoadTrayIcon(IDR_WARNING);
}

HICON CMonitorDlg::TrayImage() const
{
    const CIcon& icon = m_health.IsFailing() ? m_trayWarningIcon : m_trayIcon;
    return icon.IsValid() ? static_cast<HICON>(icon) : m_hIcon;
}

std::string CMonitorDlg::TrayTip() const
{
    const std::string line = m_health.Line();
    return line.empty() ? TRAY_TIP : std::string(TRAY_TIP) + " - " + line;
}

void CMonitorDlg::AddTrayIconUntilThere()
{
    SetTrayIconThere(AddTrayIcon() != FALSE);
}

void CMonitorDlg::SetTrayIconThere(bool bThere)
{
    const bool bWasMissing = m_health.IsSet(HealthKind::Tray);
    ApplyHealth({HealthKind::Tray, !bThere, {}});
    // Again and again until the shell takes it: after a shell restart, and whenever a balloon
    // finds it missing. One retry at a time, which the failing balloons of a storm must not
    // keep putting off.
    if (!bThere && !bWasMissing && !m_bClosing)
        ::SetTimer(m_hWnd, TIMER_TRAY_ADD, TRAY_ADD_RETRY, nullptr);
}

void CMonitorDlg::RetryTrayIcon()
{
    AddTrayIconUntilThere();
    if (m_health.IsSet(HealthKind::Tray))
        ::SetTimer(m_hWnd, TIMER_TRAY_ADD, TRAY_ADD_RETRY, nullptr);
    AnnounceHealth();
}

LRESULT CMonitorDlg::OnTaskbarCreated(WPARAM, LPARAM)
{
    if (!m_bClosing) {
        LoadIcons();
        AddTrayIconUntilThere();
        AnnounceHealth();
    }
    return 0;
}

void CMonitorDlg::OnDisplayChange(UINT, UINT, UINT)
{
    OnTaskbarCreated(0, 0);
}

void CMonitorDlg::OnSettingChange(UINT, LPCWSTR)
{
    if (m_bClosing)
        return;
    LoadIcons();
    SetTrayIconLook(m_trayIconData, TrayImage(), TrayTip());
}

void CMonitorDlg::ApplyHealth(const CHealthChange& change)
{
    if (m_health.Apply(change, ::GetTickCount64()))
        ShowHealth();
}

void CMonitorDlg::ShowHealth()
{
    const std::string line = m_health.Line();
    m_healthText.SetWindowText(line);
    m_healthText.ShowWindow(line.empty() ? SW_HIDE : SW_SHOW);
    InvalidateControl(IDC_HEALTH_TEXT);
    if (!m_bClosing && !m_health.IsSet(HealthKind::Tray))
        SetTrayIconLook(m_trayIconData, TrayImage(), TrayTip());
}

void CMonitorDlg::AnnounceHealth()
{
    if (m_bClosing || m_health.IsSet(HealthKind::Tray))
        return;
    // Balloons wait in their slots until the shell takes them: each slot holds its kind's latest.
    if (m_bStartBalloonDue) {
        if (!ShowBalloon(START_BALLOON, PROGRAM_TITLE, BALLOON_TIMEOUT, NIIF_INFO)) {
            SetTrayIconThere(false);
            return;
        }
        m_bStartBalloonDue = false;
    }
    const ULONGLONG now = ::GetTickCount64();
    for (const CAnnouncement& announcement : m_health.Due(now)) {
        // The shell's call serves messages sent meanwhile, a close among them.
        if (m_bClosing)
            return;
        if (!ShowBalloon(announcement.text.c_str(), PROGRAM_TITLE, BALLOON_TIMEOUT,
                         announcement.bWarning ? NIIF_WARNING : NIIF_INFO)) {
            SetTrayIconThere(false);
            return;
        }
        m_health.Announced(announcement.kind, now);
        m_bAlarmBalloonShown = false;
    }
}

void CMonitorDlg::StartHealthTimer()
{
    ::SetTimer(m_hWnd, TIMER_HEALTH, HEALTH_PERIOD, nullptr);
}

void CMonitorDlg::WatchFileCalls()
{
    if (!m_pReceiver)
        return;
    const bool bStalled = m_pReceiver->FileCallRunningFor(::GetTickCount64()) > FILE_CALL_STALL_MILLISECONDS;
    if (bStalled != m_health.IsSet(HealthKind::Stalled))
        ApplyHealth({HealthKind::Stalled, bStalled, {}});
}
