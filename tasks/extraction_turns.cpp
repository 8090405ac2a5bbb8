#include "tasks/extraction_turns.h"

#include "base/win32.h"
#include "state/program_exit.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// How often a waiting task looks whether the program is ending.
constexpr std::chrono::milliseconds kExitCheckInterval{500};

// Tickets in the order of asking; ticket t may run once fewer than the limit of the tickets before
// it are still running, i.e. once t < finished + limit.
struct TurnQueue {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned long long nextTicket = 0;
    unsigned long long finished = 0;
};

TurnQueue& Queue() {
    static TurnQueue queue;
    return queue;
}

}  // namespace

size_t ExtractionTurnLimit() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

ExtractionTurn::ExtractionTurn() {
    static const size_t limit = ExtractionTurnLimit();
    TurnQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    const unsigned long long ticket = queue.nextTicket++;
    for (;;) {
        if (IsExitStarted()) {
            // Given up, it counts as finished, so the tickets behind it keep their order and never
            // wait for it.
            ++queue.finished;
            queue.changed.notify_all();
            return;
        }
        if (ticket < queue.finished + limit) {
            acquired_ = true;
            return;
        }
        queue.changed.wait_for(lock, kExitCheckInterval);
    }
}

ExtractionTurn::~ExtractionTurn() {
    if (!acquired_) {
        return;
    }
    TurnQueue& queue = Queue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        ++queue.finished;
    }
    queue.changed.notify_all();
}
