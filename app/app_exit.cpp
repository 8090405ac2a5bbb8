#include "app/app_exit.h"

#include "app/server_thread.h"
#include "app/tray_window.h"
#include "base/debug_trace.h"
#include "base/win32.h"
#include "state/app_state.h"
#include "state/program_exit.h"
#include "state/window_requests.h"
#include "tasks/task_journal_saver.h"
#include "ui/download_window.h"
#include "webhost/browser_teardown.h"

#include <objbase.h>

namespace {

// Windows gives a program a few seconds after the session ends; both waits together stay well
// inside them. The server notices its flag within one accept wait (1 s); workers check theirs
// between reads of a download and every second of an extraction.
constexpr DWORD kServerStopWaitMs = 1500;
constexpr DWORD kWorkerStopWaitMs = 1500;

bool g_exitClean = true;
// Whether start-up entered COM on this thread, so the exit leaves it.
bool g_ownsCom = false;

}  // namespace

void ExitApplication() {
    if (!BeginExit()) {
        return;
    }
    // The browser goes while its parent window still exists; the window's own teardown finds it gone.
    DestroyWebBrowserControl();
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (downloadWindow && IsWindow(downloadWindow)) {
        DestroyWindow(downloadWindow);
    }
    RemoveTrayIcon();
    if (g_hTrayWnd && IsWindow(g_hTrayWnd)) {
        DestroyWindow(g_hTrayWnd);
    }
    const bool serverStopped = StopServerThread(kServerStopWaitMs);
    const bool workersStopped = WaitForWorkers(kWorkerStopWaitMs);
    // Written after the workers stopped, so that their last progress is in it.
    StopTaskJournalSaver();
    g_exitClean = serverStopped && workersStopped;
    if (!g_exitClean) {
        DebugTrace(L"ExitApplication: server stopped %d, workers stopped %d", serverStopped ? 1 : 0,
                   workersStopped ? 1 : 0);
    }
    if (g_ownsCom) {
        g_ownsCom = false;
        CoUninitialize();
    }
    PostQuitMessage(0);
}

void ConnectApplication(bool ownsCom) {
    g_ownsCom = ownsCom;
    SetExitHandler(ExitApplication);
    WindowRequestHandlers handlers;
    handlers.showDownloadWindow = ShowDownloadWindow;
    handlers.refreshTrayTip = RefreshTrayTip;
    SetWindowRequestHandlers(handlers);
}

bool ExitWasClean() {
    return g_exitClean;
}
