#include "tasks/task_worker.h"

#include "app/debug_trace.h"

// The download pipeline is not built yet: a new task stays Pending.
void RunTaskWorker(TaskRef ref) {
    DebugTrace(L"RunTaskWorker: pipeline not available, task %u stays pending", static_cast<unsigned>(ref.index));
}
