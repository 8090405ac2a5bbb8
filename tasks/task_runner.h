// Every task starts, waits, is tried again and is cancelled here. The runner keeps the downloads
// that wait for one of the MaxConcurrentDownloads turns in arrival order (Queued at 0, holding no
// thread), starts each task's worker thread with a worker lease and a catch-all, tries a download
// that failed for a reason that may pass again after a pause, and tells the tray window when the
// last running or waiting download has ended. The task table knows nothing of threads.
#pragma once

#include "tasks/task_table.h"

#include <cstdint>

// A routine that runs a task of a kind other than Asset on the runner's thread. Such a task takes
// no download turn: it starts at once.
struct TaskRoutine {
    void (*run)(const TaskRef& ref) = nullptr;
    // The task's error when the routine throws or its thread cannot start.
    const char* failureText = nullptr;
};

// Appends the task and starts it, or lets it wait (Queued at 0) when every turn is taken. A task
// of another kind than Asset needs its routine, which must live as long as the program.
TaskRef SubmitTask(DownloadTask task, const TaskRoutine* routine = nullptr);

// The API's way in: appends unless an equal task is still to be downloaded
// (AppendTaskUnlessDuplicate), and starts nothing; StartTask(*ref) does, once the reply is out.
bool AddTaskUnlessDuplicate(DownloadTask task, TaskRef* ref);

// Starts an Asset task that is in the table but not yet run, or lets it wait for a turn.
void StartTask(const TaskRef& ref);

// Resets a failed task (PrepareTaskRetry); on Started the caller hands *ref to StartTask.
RetryOutcome PrepareRetry(size_t index, TaskRef* ref);

enum class CancelOutcome { Cancelled, NoSuchTask, NotCancellable };

// True for a task a cancel may stop: one of the downloads that waits or downloads.
bool CanCancelTask(const DownloadTask& task);

// Stops the download at `index`: a waiting one at once, a running one at its next read (within a
// second while data flows). It ends Failed with "已取消", its partial file kept for a retry to
// resume. A task past its download (extracting, copying, final) is not cancellable.
CancelOutcome CancelTask(size_t index);

// Starts waiting downloads when the limit in the settings rose; a lowered limit only holds back
// new starts until fewer run.
void OnDownloadLimitChanged();

// How long a download that failed waits before its next try: 0 for no other try (the failure will
// not pass, automatic retries are off, or `failedTries` tries have failed already); else the
// server's Retry-After (at most two minutes) or 2, 8 and 30 s after the first, second and third.
std::uint32_t AutomaticRetryDelayMs(bool transient, std::uint32_t retryAfterSeconds, int failedTries,
                                    bool autoRetry);

// Tasks that reached a final status since the last call (cancelled ones count as failed); the
// counts start again from zero.
struct FinishedCounts {
    int succeeded = 0;
    int failed = 0;
};
FinishedCounts TakeFinishedCounts();

// Test seam: how a task's thread is started. The default takes a worker lease and starts a detached
// thread; it may throw std::system_error. Setting it (null restores the default) also forgets every
// task the runner waits for or runs, so that a test starts from an idle runner.
using TaskThreadLauncher = void (*)(const TaskRef& ref);
void SetTaskThreadLauncherForTesting(TaskThreadLauncher launcher);
// The body of a task's thread, for a test launcher that starts threads of its own.
void RunTaskThread(TaskRef ref);
