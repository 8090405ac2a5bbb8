#include "app/app_main.h"

#include "app/app_exit.h"
#include "app/server_thread.h"
#include "app/tray_window.h"
#include "base/debug_trace.h"
#include "base/unique_handle.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/classified_copy.h"
#include "tasks/task_journal.h"
#include "tasks/task_journal_saver.h"
#include "tasks/task_restore.h"
#include "ui/download_window.h"

#include <commctrl.h>
#include <objbase.h>

namespace {

constexpr const wchar_t* kTrayWindowTitle = L"下载助手";
// The log beside the settings; one predecessor is kept when it is rolled, so at most twice this.
constexpr const wchar_t* kTraceLogFileName = L"TarnDown.log";
constexpr std::uint64_t kTraceLogMaxBytes = 1024 * 1024;

void LoadAppIcon(HINSTANCE instance) {
    g_hAppIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kAppIconResourceId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

void InitControlClasses() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES;
    InitCommonControlsEx(&controls);
}

// A second start must not flash a window of its own: it asks the running instance (found by its
// tray window) to bring its download window forward, and lets it take the foreground.
void ActivateRunningInstance() {
    const HWND trayWindow = FindWindowW(kTrayWindowClass, nullptr);
    if (!trayWindow) {
        return;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(trayWindow, &processId);
    if (processId != 0) {
        AllowSetForegroundWindow(processId);
    }
    PostMessageW(trayWindow, WM_SHOW_DOWNLOAD_WINDOW, 0, 0);
}

void CreateTrayWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = TrayWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = g_hAppIcon;
    windowClass.hIconSm = g_hAppIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassExW(&windowClass);
    g_hTrayWnd = CreateWindowExW(0, kTrayWindowClass, kTrayWindowTitle, 0, 0, 0, 1, 1, nullptr, nullptr,
                                 instance, nullptr);
}

// The tasks of the last run come back before the window or the API can show the table, and the
// journal is kept from then on. Downloads that were under way continue by themselves.
void RestoreTaskJournal() {
    const AppConfig config = GetConfig();
    const std::wstring journalPath = g_exeDir + L"\\" + kTaskJournalFileName;
    const bool changed = RestoreTasks(journalPath, config.downloadDir, config.devDir);
    StartTaskJournalSaver(journalPath, changed);
}

void RunMessageLoop() {
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_QUIT) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

LONG WINAPI CrashExceptionFilter(EXCEPTION_POINTERS* exceptionInfo) {
    const EXCEPTION_RECORD* record = exceptionInfo ? exceptionInfo->ExceptionRecord : nullptr;
    if (record) {
        DebugTrace(L"Unhandled exception 0x%08lX at %p", record->ExceptionCode, record->ExceptionAddress);
        if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
            const ULONG_PTR kind = record->ExceptionInformation[0];
            const wchar_t* kindText = kind == 0 ? L"Reading" : (kind == 1 ? L"Writing" : L"Executing");
            DebugTrace(L"Access violation: %ls address %p", kindText,
                       reinterpret_cast<void*>(record->ExceptionInformation[1]));
        }
    }
    if (exceptionInfo && exceptionInfo->ContextRecord) {
        DebugTrace(L"Context flags 0x%08lX", exceptionInfo->ContextRecord->ContextFlags);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

// What a report needs first: which build, from where, with which settings.
void TraceStartup() {
    const AppConfig config = GetConfig();
    DebugTrace(L"TarnDown " TARN_VERSION_TEXT L" started in %ls", g_exeDir.c_str());
    DebugTrace(L"Settings: port %d, downloadDir %ls, devDir %ls, autoExtract %d, autoCopyToDev %d",
               config.port, config.downloadDir.c_str(), config.devDir.c_str(), config.autoExtract ? 1 : 0,
               config.autoCopyToDev ? 1 : 0);
}

void RemoveCurrentFolderFromLibrarySearch() {
    if (!SetDllDirectoryW(L"")) {
        const DWORD error = GetLastError();
        DebugTrace(L"SetDllDirectoryW: %lu", error);
    }
}

int RunApplication(HINSTANCE instance) {
    // Before anything can load a library.
    RemoveCurrentFolderFromLibrarySearch();
    SetUnhandledExceptionFilter(CrashExceptionFilter);
    LoadAppIcon(instance);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    InitControlClasses();
    LoadConfig();

    UniqueHandle instanceMutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName));
    const DWORD mutexError = GetLastError();
    if (instanceMutex && mutexError == ERROR_ALREADY_EXISTS) {
        ActivateRunningInstance();
        if (SUCCEEDED(com)) {
            CoUninitialize();
        }
        return 0;
    }

    // Only the instance that runs writes the log: a second one would roll it under the first.
    OpenTraceLog(g_exeDir + L"\\" + kTraceLogFileName, kTraceLogMaxBytes);
    TraceStartup();
    // Only the one running instance may clear what an earlier run left half-filed: a second
    // instance's start would otherwise remove copies the first is still making.
    RemoveUnfinishedCopies(GetConfig().devDir);
    ConnectApplication(SUCCEEDED(com));
    RestoreTaskJournal();
    CreateTrayWindow(instance);
    StartServerThread();
    ShowDownloadWindow();

    RunMessageLoop();

    // A loop ended by anything but the exit path still ends through it.
    ExitApplication();
    DebugTrace(L"TarnDown ends (clean exit %d)", ExitWasClean() ? 1 : 0);
    CloseTraceLog();
    instanceMutex.reset();
    if (!ExitWasClean()) {
        // A worker or a server connection is still running and uses the task table, the settings and
        // the sockets: returning would destroy them under it. Everything the user sees is gone
        // already, and every file is written through handles the system closes.
        TerminateProcess(GetCurrentProcess(), 0);
    }
    return 0;
}
