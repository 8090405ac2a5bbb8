#include "state/window_requests.h"

#include "state/program_exit.h"

#include <atomic>

namespace {

using Request = void (*)();

// Read by the server and worker threads, written once at start-up.
std::atomic<Request> g_showDownloadWindow{nullptr};
std::atomic<Request> g_refreshTrayTip{nullptr};

void Call(const std::atomic<Request>& request) {
    const Request call = request.load();
    if (call && !IsExitStarted()) {
        call();
    }
}

}  // namespace

void SetWindowRequestHandlers(const WindowRequestHandlers& handlers) {
    g_showDownloadWindow.store(handlers.showDownloadWindow);
    g_refreshTrayTip.store(handlers.refreshTrayTip);
}

void RequestShowDownloadWindow() {
    Call(g_showDownloadWindow);
}

void RequestTrayTipRefresh() {
    Call(g_refreshTrayTip);
}
