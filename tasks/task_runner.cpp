#include "tasks/task_runner.h"

#include "base/debug_trace.h"
#include "base/text_convert.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tasks/http_download.h"
#include "tasks/task_worker.h"

#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The pauses before the second, third and fourth try of a download that failed for a passing
// reason; there is no fifth.
constexpr std::uint32_t kRetryDelaysMs[] = {2000, 8000, 30000};
constexpr int kMaxFailedTries = sizeof(kRetryDelaysMs) / sizeof(kRetryDelaysMs[0]);
// A server's Retry-After is followed up to this many seconds.
constexpr std::uint32_t kMaxRetryAfterSeconds = 120;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr ULONGLONG kFileTimeUnitsPerMs = 10000;
constexpr const char* kThreadStartFailedText = "Failed to start worker thread";
constexpr const char* kInternalErrorText = "Internal error";

// A task waiting to start: a new download, or one whose next try is due at `dueTick`.
struct Waiting {
    TaskRef ref;
    const TaskRoutine* routine = nullptr;
    int failedTries = 0;
    ULONGLONG dueTick = 0;
};

// A task whose thread was started.
struct Running {
    TaskRef ref;
    const TaskRoutine* routine = nullptr;
    int failedTries = 0;
    bool downloading = false;        // holds a download turn
    std::uint32_t retryDelayMs = 0;  // set when it ends waiting for another try
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

// Guards everything below. Taken before the task table's lock and the settings' lock, never after.
std::mutex g_runnerMutex;
std::deque<Waiting> g_waiting;
std::vector<Running> g_running;
size_t g_turnsTaken = 0;
FinishedCounts g_finished;
PTP_TIMER g_retryTimer = nullptr;

void LaunchDetachedThread(const TaskRef& ref) {
    WorkerLease lease = WorkerLease::Take();
    if (!lease.valid()) {
        return;
    }
    std::thread([ref, held = std::move(lease)]() { RunTaskThread(ref); }).detach();
}

TaskThreadLauncher g_launcher = LaunchDetachedThread;

const char* FailureText(const TaskRoutine* routine, const char* fallback) {
    return routine && routine->failureText ? routine->failureText : fallback;
}

// Caller holds g_runnerMutex.
Running* FindRunningLocked(std::uint64_t serial) {
    for (Running& run : g_running) {
        if (run.ref.serial == serial) {
            return &run;
        }
    }
    return nullptr;
}

void CALLBACK OnRetryTimer(PTP_CALLBACK_INSTANCE, PVOID, PTP_TIMER);

// Caller holds g_runnerMutex. The timer wakes the runner when the earliest waiting retry is due.
void ArmRetryTimerLocked(ULONGLONG now) {
    ULONGLONG earliest = 0;
    for (const Waiting& waiting : g_waiting) {
        if (waiting.dueTick > now && (earliest == 0 || waiting.dueTick < earliest)) {
            earliest = waiting.dueTick;
        }
    }
    if (earliest == 0) {
        return;
    }
    if (!g_retryTimer) {
        g_retryTimer = CreateThreadpoolTimer(OnRetryTimer, nullptr, nullptr);
        if (!g_retryTimer) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"TaskRunner: no retry timer (%lu)", lastError);
            return;
        }
    }
    // A negative due time is relative, in 100-nanosecond units.
    const LONGLONG relative = -static_cast<LONGLONG>((earliest - now) * kFileTimeUnitsPerMs);
    FILETIME due = {};
    due.dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(relative) & 0xFFFFFFFFu);
    due.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(relative) >> 32);
    SetThreadpoolTimer(g_retryTimer, &due, 0, 0);
}

// Caller holds g_runnerMutex. Moves the first due waiting tasks into the running list while turns
// are free (other kinds need none) and returns them for starting.
std::vector<TaskRef> TakeStartsLocked(size_t limit) {
    std::vector<TaskRef> starts;
    if (IsExitStarted()) {
        return starts;
    }
    const ULONGLONG now = GetTickCount64();
    for (auto it = g_waiting.begin(); it != g_waiting.end();) {
        const bool download = it->routine == nullptr;
        if (it->dueTick > now || (download && g_turnsTaken >= limit)) {
            ++it;
            continue;
        }
        Running run;
        run.ref = it->ref;
        run.routine = it->routine;
        run.failedTries = it->failedTries;
        run.downloading = download;
        g_turnsTaken += download ? 1 : 0;
        g_running.push_back(run);
        starts.push_back(it->ref);
        it = g_waiting.erase(it);
    }
    ArmRetryTimerLocked(now);
    return starts;
}

// Caller holds g_runnerMutex. Ends the task's turn if it holds one.
void ReturnTurnLocked(Running* run) {
    if (run->downloading) {
        run->downloading = false;
        --g_turnsTaken;
    }
}

// Caller holds g_runnerMutex. Whether any download still runs or waits.
bool DownloadsActiveLocked() {
    for (const Waiting& waiting : g_waiting) {
        if (!waiting.routine) {
            return true;
        }
    }
    for (const Running& run : g_running) {
        if (!run.routine) {
            return true;
        }
    }
    return false;
}

// Caller holds g_runnerMutex. Counts a download that reached a final status; true when the batch
// has ended: nothing runs or waits, and something finished since the counts were last taken.
bool CountFinishedLocked(TaskStatus status) {
    if (status == TaskStatus::Failed) {
        ++g_finished.failed;
    } else if (IsFinalStatus(status)) {
        ++g_finished.succeeded;
    }
    return g_finished.succeeded + g_finished.failed > 0 && !DownloadsActiveLocked();
}

void SayBatchEnded() {
    if (g_hTrayWnd) {
        PostMessageW(g_hTrayWnd, WM_DOWNLOADS_DONE, 0, 0);
    }
}

// Starts threads for `starts`; a thread that cannot start fails its task and frees its turn.
void Launch(const std::vector<TaskRef>& starts);

void Pump() {
    const size_t limit = static_cast<size_t>(GetConfig().maxConcurrentDownloads);
    std::vector<TaskRef> starts;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        starts = TakeStartsLocked(limit);
    }
    Launch(starts);
}

void LaunchFailed(const TaskRef& ref) {
    const TaskRoutine* routine = nullptr;
    bool lastOfBatch = false;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        Running* run = FindRunningLocked(ref.serial);
        if (run) {
            routine = run->routine;
            ReturnTurnLocked(run);
            g_running.erase(g_running.begin() + (run - g_running.data()));
        }
        UpdateTaskStatus(ref, TaskStatus::Failed, 0, FailureText(routine, kThreadStartFailedText));
        lastOfBatch = !routine && CountFinishedLocked(TaskStatus::Failed);
    }
    if (lastOfBatch) {
        SayBatchEnded();
    }
}

void Launch(const std::vector<TaskRef>& starts) {
    bool failed = false;
    for (const TaskRef& ref : starts) {
        try {
            g_launcher(ref);
        } catch (const std::system_error& error) {
            DebugTrace(L"TaskRunner: thread creation failed (%d)", error.code().value());
            LaunchFailed(ref);
            failed = true;
        }
    }
    if (failed) {
        Pump();
    }
}

// Once the program ends nothing starts; the check also keeps a late timer off torn-down state.
void CALLBACK OnRetryTimer(PTP_CALLBACK_INSTANCE, PVOID, PTP_TIMER) {
    if (IsExitStarted()) {
        return;
    }
    try {
        Pump();
    } catch (...) {
        DebugTrace(L"TaskRunner: retry timer failed");
    }
}

// Local time `delayMs` from now.
SYSTEMTIME LocalTimeAfter(std::uint32_t delayMs) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    FILETIME asFileTime = {};
    SystemTimeToFileTime(&now, &asFileTime);
    ULARGE_INTEGER value = {};
    value.LowPart = asFileTime.dwLowDateTime;
    value.HighPart = asFileTime.dwHighDateTime;
    value.QuadPart += static_cast<ULONGLONG>(delayMs) * kFileTimeUnitsPerMs;
    asFileTime.dwLowDateTime = value.LowPart;
    asFileTime.dwHighDateTime = value.HighPart;
    SYSTEMTIME later = now;
    FileTimeToSystemTime(&asFileTime, &later);
    return later;
}

// The runner's answer to the end of a download stage; see TaskWorkerHooks::downloadEnded.
bool OnDownloadEnded(const TaskRef& ref, bool downloaded, const DownloadResume& attempt,
                     const std::string& error) {
    bool cancelled = false;
    int failedTries = 0;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        Running* run = FindRunningLocked(ref.serial);
        if (run) {
            ReturnTurnLocked(run);
            cancelled = run->cancel->load();
            failedTries = run->failedTries;
        }
    }
    Pump();
    if (cancelled) {
        UpdateTaskStatus(ref, TaskStatus::Failed, 0, kDownloadCancelledText);
        return false;
    }
    if (downloaded) {
        return true;
    }
    const std::uint32_t delayMs = AutomaticRetryDelayMs(attempt.transient, attempt.retryAfterSeconds,
                                                        failedTries, GetConfig().autoRetry);
    if (delayMs == 0) {
        UpdateTaskStatus(ref, TaskStatus::Failed, 0, error);
        return false;
    }
    const SYSTEMTIME next = LocalTimeAfter(delayMs);
    std::lock_guard<std::mutex> lock(g_runnerMutex);
    Running* run = FindRunningLocked(ref.serial);
    if (run) {
        run->retryDelayMs = delayMs;
    }
    UpdateTaskFields(ref, [&next](DownloadTask& task) {
        task.nextTryTime = next;
        task.hasNextTry = true;
    });
    UpdateTaskStatus(ref, TaskStatus::Queued, 0, error);
    return false;
}

// After the thread's work: a download waiting for another try goes to the front of the queue (it
// came before every task still waiting); any other counts as finished.
void OnThreadEnded(const TaskRef& ref) {
    bool lastOfBatch = false;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        Running* run = FindRunningLocked(ref.serial);
        if (!run) {
            return;
        }
        ReturnTurnLocked(run);
        const Running ended = *run;
        g_running.erase(g_running.begin() + (run - g_running.data()));
        if (ended.retryDelayMs > 0) {
            g_waiting.push_front(Waiting{ended.ref, ended.routine, ended.failedTries + 1,
                                         GetTickCount64() + ended.retryDelayMs});
        } else if (!ended.routine) {
            // A task cleared from the table meanwhile counts as neither.
            DownloadTask task;
            lastOfBatch = CountFinishedLocked(CopyTask(ref, &task) ? task.status : TaskStatus::Pending);
        }
    }
    if (lastOfBatch) {
        SayBatchEnded();
    }
    Pump();
}

void Enqueue(const TaskRef& ref, const TaskRoutine* routine) {
    const size_t limit = static_cast<size_t>(GetConfig().maxConcurrentDownloads);
    std::vector<TaskRef> starts;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        g_waiting.push_back(Waiting{ref, routine, 0, 0});
        starts = TakeStartsLocked(limit);
        // Shown under the lock, so that no thread can start it (and show Downloading) in between.
        if (!g_waiting.empty() && g_waiting.back().ref.serial == ref.serial) {
            UpdateTaskStatus(ref, TaskStatus::Queued, 0, std::string());
        }
    }
    Launch(starts);
}

// Even the report of a failure may throw (no memory); the thread ends then without it.
void ReportFailureQuietly(const TaskRef& ref, const char* text) noexcept {
    try {
        UpdateTaskStatus(ref, TaskStatus::Failed, 0, text);
    } catch (...) {
    }
}

void RunBody(const TaskRef& ref, const TaskRoutine* routine, const std::atomic<bool>* cancel) {
    if (routine) {
        routine->run(ref);
        return;
    }
    TaskWorkerHooks hooks;
    hooks.cancel = cancel;
    hooks.downloadEnded = [&ref](bool downloaded, const DownloadResume& attempt, const std::string& error) {
        return OnDownloadEnded(ref, downloaded, attempt, error);
    };
    RunTaskWorker(ref, hooks);
}

}  // namespace

std::uint32_t AutomaticRetryDelayMs(bool transient, std::uint32_t retryAfterSeconds, int failedTries,
                                    bool autoRetry) {
    if (!transient || !autoRetry || failedTries < 0 || failedTries >= kMaxFailedTries) {
        return 0;
    }
    if (retryAfterSeconds > 0) {
        const std::uint32_t seconds =
            retryAfterSeconds < kMaxRetryAfterSeconds ? retryAfterSeconds : kMaxRetryAfterSeconds;
        return seconds * kMillisecondsPerSecond;
    }
    return kRetryDelaysMs[failedTries];
}

TaskRef SubmitTask(DownloadTask task, const TaskRoutine* routine) {
    const TaskRef ref = AppendTask(std::move(task));
    Enqueue(ref, routine);
    return ref;
}

bool AddTaskUnlessDuplicate(DownloadTask task, TaskRef* ref) {
    return AppendTaskUnlessDuplicate(std::move(task), ref);
}

void StartTask(const TaskRef& ref) {
    Enqueue(ref, nullptr);
}

RetryOutcome PrepareRetry(size_t index, TaskRef* ref) {
    return PrepareTaskRetry(index, ref);
}

bool CanCancelTask(const DownloadTask& task) {
    return task.kind == TaskKind::Asset &&
           (task.status == TaskStatus::Queued || task.status == TaskStatus::Pending ||
            task.status == TaskStatus::Downloading);
}

CancelOutcome CancelTask(size_t index) {
    bool lastOfBatch = false;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        DownloadTask task;
        if (!CopyTaskAt(index, &task)) {
            return CancelOutcome::NoSuchTask;
        }
        const TaskRef ref{index, task.serial};
        Running* run = FindRunningLocked(task.serial);
        if (run) {
            // Only while it downloads: past that stage its archive is whole and being filed.
            if (!run->downloading || !CanCancelTask(task)) {
                return CancelOutcome::NotCancellable;
            }
            run->cancel->store(true);
            return CancelOutcome::Cancelled;
        }
        auto waiting = g_waiting.begin();
        while (waiting != g_waiting.end() && waiting->ref.serial != task.serial) {
            ++waiting;
        }
        if (waiting == g_waiting.end() || !CanCancelTask(task)) {
            return CancelOutcome::NotCancellable;
        }
        g_waiting.erase(waiting);
        UpdateTaskFields(ref, [](DownloadTask& record) { record.hasNextTry = false; });
        UpdateTaskStatus(ref, TaskStatus::Failed, 0, kDownloadCancelledText);
        lastOfBatch = CountFinishedLocked(TaskStatus::Failed);
    }
    if (lastOfBatch) {
        SayBatchEnded();
    }
    return CancelOutcome::Cancelled;
}

void OnDownloadLimitChanged() {
    Pump();
}

FinishedCounts TakeFinishedCounts() {
    std::lock_guard<std::mutex> lock(g_runnerMutex);
    const FinishedCounts counts = g_finished;
    g_finished = FinishedCounts();
    return counts;
}

void SetTaskThreadLauncherForTesting(TaskThreadLauncher launcher) {
    std::lock_guard<std::mutex> lock(g_runnerMutex);
    g_launcher = launcher ? launcher : LaunchDetachedThread;
    g_waiting.clear();
    g_running.clear();
    g_turnsTaken = 0;
    g_finished = FinishedCounts();
}

// Thread entry: nothing may escape it, so any exception ends the task as failed.
void RunTaskThread(TaskRef ref) {
    const TaskRoutine* routine = nullptr;
    std::shared_ptr<std::atomic<bool>> cancel;
    {
        std::lock_guard<std::mutex> lock(g_runnerMutex);
        Running* run = FindRunningLocked(ref.serial);
        if (run) {
            routine = run->routine;
            cancel = run->cancel;
        }
    }
    try {
        RunBody(ref, routine, cancel.get());
    } catch (const std::exception& exception) {
        DebugTrace(L"RunTaskThread: %ls", Utf8ToWide(exception.what()).c_str());
        ReportFailureQuietly(ref, FailureText(routine, kInternalErrorText));
    } catch (...) {
        ReportFailureQuietly(ref, FailureText(routine, kInternalErrorText));
    }
    try {
        OnThreadEnded(ref);
    } catch (...) {
        DebugTrace(L"RunTaskThread: the runner missed a thread's end");
    }
}
