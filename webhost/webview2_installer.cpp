#include "webhost/webview2_installer.h"

#include "base/debug_trace.h"

// The installer routine is not built yet; the task stays queued.
void StartWebView2Installer(const TaskRef& task) {
    DebugTrace(L"StartWebView2Installer: no installer routine in this build (task %u)",
               static_cast<unsigned>(task.index));
}
