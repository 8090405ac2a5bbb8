#include "app/server_thread.h"

#include "api/http_server.h"
#include "base/debug_trace.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::thread g_serverThread;
// Guards g_serverEnded; taken by the server thread once, at its end, and by the stop's wait.
std::mutex g_serverEndMutex;
std::condition_variable g_serverEndSignal;
bool g_serverEnded = false;

// The thread's entry: no exception may leave a thread.
void ServerThreadMain() {
    try {
        RunHttpServer();
    } catch (...) {
        DebugTrace(L"RunHttpServer ended with an exception");
    }
    {
        std::lock_guard<std::mutex> lock(g_serverEndMutex);
        g_serverEnded = true;
    }
    g_serverEndSignal.notify_all();
}

}  // namespace

void StartServerThread() {
    g_serverThread = std::thread(ServerThreadMain);
}

// Takes g_serverEndMutex while it waits.
bool StopServerThread(DWORD timeoutMs) {
    g_serverRunning.exchange(false);
    if (!g_serverThread.joinable()) {
        return true;
    }
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(g_serverEndMutex);
        ended = g_serverEndSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                           [] { return g_serverEnded; });
    }
    if (ended) {
        g_serverThread.join();
    } else {
        g_serverThread.detach();
    }
    return ended;
}
