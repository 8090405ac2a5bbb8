#include "state/program_exit.h"

#include "state/app_state.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::atomic<bool> g_exitStarted{false};
std::atomic<ExitHandler> g_exitHandler{nullptr};

// Guards g_workerCount for the exit's wait; held only to change or read the count.
std::mutex g_workerMutex;
std::condition_variable g_workersChanged;
size_t g_workerCount = 0;

}  // namespace

bool IsExitStarted() {
    return g_exitStarted.load();
}

bool BeginExit() {
    return !g_exitStarted.exchange(true);
}

void SetExitHandler(ExitHandler handler) {
    g_exitHandler.store(handler);
}

void RequestProgramExit() {
    const ExitHandler handler = g_exitHandler.load();
    if (handler) {
        handler();
        return;
    }
    if (!BeginExit()) {
        return;
    }
    const HWND window = g_hDownloadWnd.exchange(nullptr);
    if (window && IsWindow(window)) {
        DestroyWindow(window);
    }
    PostQuitMessage(0);
}

// Takes g_workerMutex. The exit flag is checked under it, so a lease is either counted before the
// exit's wait begins or never taken.
WorkerLease WorkerLease::Take() {
    WorkerLease lease;
    std::lock_guard<std::mutex> lock(g_workerMutex);
    if (!g_exitStarted.load()) {
        ++g_workerCount;
        lease.held_ = true;
    }
    return lease;
}

WorkerLease::~WorkerLease() {
    Return();
}

WorkerLease::WorkerLease(WorkerLease&& other) noexcept : held_(other.held_) {
    other.held_ = false;
}

WorkerLease& WorkerLease::operator=(WorkerLease&& other) noexcept {
    if (this != &other) {
        Return();
        held_ = other.held_;
        other.held_ = false;
    }
    return *this;
}

// Takes g_workerMutex.
void WorkerLease::Return() noexcept {
    if (!held_) {
        return;
    }
    held_ = false;
    {
        std::lock_guard<std::mutex> lock(g_workerMutex);
        --g_workerCount;
    }
    g_workersChanged.notify_all();
}

// Takes g_workerMutex while it waits.
bool WaitForWorkers(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(g_workerMutex);
    return g_workersChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [] { return g_workerCount == 0; });
}

void ResetExitForTesting() {
    g_exitStarted.store(false);
}
