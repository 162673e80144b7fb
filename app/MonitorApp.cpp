#include "MonitorApp.h"

#include "CommandLine.h"
#include "Handle.h"
#include "MonitorDlg.h"
#include "SessionPeers.h"

#include <shellapi.h>

#include <string>

namespace {

const wchar_t SINGLE_INSTANCE_MUTEX[] = L"Local\\Wendle.Monitor";
// The one argument the program takes: the folder to work in, where myfile.txt and image\ are.
const wchar_t WORKING_FOLDER_ARGUMENT[] = L"--working-folder";
// How long a second start waits for a running monitor that is closing, or not yet showing.
constexpr ULONGLONG HANDOVER_WAIT_MILLISECONDS = 8000;
constexpr DWORD HANDOVER_POLL_MILLISECONDS = 200;
const char HANDOVER_FAILED[] = "进程监控程序已在运行，但找不到它的窗口，它也没有退出。请稍后再启动。";

// The --working-folder the program could not enter, and why.
struct CFolderFault {
    std::wstring strAsked;
    DWORD dwError = ERROR_SUCCESS;
};

// The program's own folder, where the installer and the zip put it beside its image\ folder.
std::wstring ProgramFolder()
{
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/"));
}

// Makes the folder named after --working-folder the current one; other arguments are ignored. A
// folder that cannot be entered (gone, renamed, on a share that is away) must not leave the log
// in whatever folder the starter left, unseen: the program's own folder is used, and said so.
CFolderFault ApplyWorkingFolder()
{
    int nArgs = 0;
    const CLocalMemory<LPWSTR*> args(::CommandLineToArgvW(::GetCommandLineW(), &nArgs));
    if (!args.IsValid())
        return {};
    for (int i = 1; i + 1 < nArgs; ++i) {
        if (lstrcmpiW(args[i], WORKING_FOLDER_ARGUMENT) != 0)
            continue;
        if (::SetCurrentDirectoryW(args[i + 1]))
            return {};
        CFolderFault fault{args[i + 1], ::GetLastError()};
        ::SetCurrentDirectoryW(ProgramFolder().c_str());
        return fault;
    }
    return {};
}

// An installer that replaces the program while it runs closes it through Restart Manager; this
// asks Windows to start it again afterwards, in the folder it works in. Not after a crash, a
// hang or a reboot: the Startup shortcut starts it at logon. Wine keeps no such registration.
void RegisterForRestart()
{
    wchar_t szFolder[MAX_PATH];
    const DWORD cch = ::GetCurrentDirectoryW(MAX_PATH, szFolder);
    if (cch == 0 || cch >= MAX_PATH)
        return;
    const std::wstring commandLine = std::wstring(WORKING_FOLDER_ARGUMENT) + L" " + QuoteArgument(szFolder);
    ::RegisterApplicationRestart(commandLine.c_str(), RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
}

BOOL CALLBACK FindMonitorWindow(HWND hWnd, LPARAM lParam)
{
    if (!::GetPropW(hWnd, MONITOR_WINDOW_PROPERTY))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// Brings the running monitor's window back, from the tray or the task bar, to the front. Asked
// with a posted message, without waiting for its answer, so a monitor that does not answer
// cannot hang this start; true only while the window still carries its mark afterwards, since a
// monitor that is closing drops it first.
bool ShowRunningMonitor()
{
    HWND hMonitor = nullptr;
    ::EnumWindows(&FindMonitorWindow, reinterpret_cast<LPARAM>(&hMonitor));
    if (!hMonitor)
        return false;
    // The documented means: this start, which the user has just made, lets the monitor take the
    // foreground, and the monitor brings its own window back.
    DWORD dwMonitorProcess = 0;
    ::GetWindowThreadProcessId(hMonitor, &dwMonitorProcess);
    ::AllowSetForegroundWindow(dwMonitorProcess);
    ::PostMessageW(hMonitor, WM_RESTORE_MONITOR, 0, 0);
    return ::GetPropW(hMonitor, MONITOR_WINDOW_PROPERTY) != nullptr;
}

bool TakeMutex(HANDLE hInstanceMutex)
{
    const DWORD dwWait = ::WaitForSingleObject(hInstanceMutex, HANDOVER_POLL_MILLISECONDS);
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

// With another monitor running: true once it has ended and this one may start. A monitor that
// is closing drops its window's mark first and ends within seconds; one that is starting shows
// its window soon. Anything else is said to the operator, never passed over in silence. Without
// the mutex (the running monitor was started elevated and this start may not open it) only its
// window can be looked for.
bool WaitForRunningMonitor(HANDLE hInstanceMutex)
{
    const ULONGLONG deadline = ::GetTickCount64() + HANDOVER_WAIT_MILLISECONDS;
    do {
        if (ShowRunningMonitor())
            return false;
        if (!hInstanceMutex)
            ::Sleep(HANDOVER_POLL_MILLISECONDS);
        else if (TakeMutex(hInstanceMutex))
            return true;
    } while (::GetTickCount64() < deadline);
    ::MessageBoxW(nullptr, Widen(HANDOVER_FAILED).c_str(), Widen(PROGRAM_TITLE).c_str(), MB_OK | MB_ICONWARNING);
    // The monitor may have ended while the operator read the message: this start takes over.
    return hInstanceMutex && !ShowRunningMonitor() && TakeMutex(hInstanceMutex);
}

} // namespace

CMonitorApp theApp;

BOOL CMonitorApp::InitInstance()
{
    // First of all: myfile.txt and image\ are found relative to the working folder.
    const CFolderFault folderFault = ApplyWorkingFolder();
    // A second copy could not take the port; it hands over to the one that runs. The mutex is
    // held while the monitor runs, so that a second start can wait for one that is closing. A
    // mutex that exists but may not be opened belongs to a monitor started elevated.
    CHandle hInstanceMutex(::CreateMutexW(nullptr, TRUE, SINGLE_INSTANCE_MUTEX));
    const DWORD dwError = ::GetLastError();
    if ((dwError == ERROR_ALREADY_EXISTS || (!hInstanceMutex && dwError == ERROR_ACCESS_DENIED)) &&
        !WaitForRunningMonitor(hInstanceMutex))
        return FALSE;
    // Beside the session's mutex, a mark the whole machine sees: a monitor in another session
    // that cannot take the port can tell where the alarms go.
    const CHandle hSessionMark(::CreateMutexW(nullptr, FALSE, SessionMonitorName(OwnSession()).c_str()));
    // With the folder actually used.
    RegisterForRestart();
    {
        CMonitorDlg dlg;
        if (folderFault.dwError != ERROR_SUCCESS)
            dlg.ReportWorkingFolder(Narrow(folderFault.strAsked), folderFault.dwError);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    if (hInstanceMutex)
        ::ReleaseMutex(hInstanceMutex);
    // No message loop follows: the program ends when its window has.
    return FALSE;
}
