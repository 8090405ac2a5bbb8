// The table of download tasks. The array and its lock are private to task_table.cpp: readers take a
// consistent copy, writers go through the functions below. A task's identifier in every view is
// its index in the table; a worker additionally holds the task's serial number, so that after
// ClearTasks its updates can never land on a newer task that reuses the index.
#pragma once

#include "base/win32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TaskStatus : std::int32_t {
    Queued = 0,
    Pending = 1,
    Downloading = 2,
    Extracting = 3,
    Copying = 4,
    Completed = 5,
    Failed = 6,
    AlreadyExists = 7,
};

// What a task runs: the worker pipeline of this folder, or the runtime installer's routine.
enum class TaskKind : std::int32_t { Asset = 0, RuntimeInstaller = 1 };

// How far a task's files got, kept with the task so that a run after an interruption (a retry, a
// restart) never downloads, extracts or files again what is already done.
enum class TaskStage : std::int32_t {
    None = 0,        // the file is not complete
    Downloaded = 1,  // the whole archive is in filePath
    Extracted = 2,   // the archive was extracted into extractDir and deleted
    Filed = 3,       // the copy into the development directory ran
};

struct DownloadTask {
    std::string url;             // UTF-8
    std::string name;            // UTF-8, already cleaned by CleanTaskName
    std::string category;        // UTF-8
    std::wstring filePath;       // where the download is written
    std::wstring extractDir;     // set once extraction succeeded
    std::wstring copyDestDir;    // first destination directory of the classified copy
    std::wstring copyFirstItem;  // destination of the first item the classified copy moved
    std::wstring leftoverDir;    // extraction directory still holding unclassified entries
    TaskStatus status = TaskStatus::Pending;
    std::int32_t progress = 0;   // percent of the current stage
    std::string error;           // UTF-8: why it failed, or a note on a completed task
    SYSTEMTIME finishTime = {};  // local time of the last final status
    bool hasFinishTime = false;
    std::uint64_t serial = 0;  // unique per process; assigned by AppendTask
    // The ETag or Last-Modified value of the body whose bytes are in filePath, as the last attempt
    // saw it; a retry, or the run after a restart, asks for the rest of that body only.
    std::string resumeValidator;    // UTF-8
    std::uint64_t resumeTotal = 0;  // the whole length of that body as first seen; 0: unknown
    TaskKind kind = TaskKind::Asset;
    TaskStage stage = TaskStage::None;
    // While an automatic retry waits: the local time of its next try.
    SYSTEMTIME nextTryTime = {};
    bool hasNextTry = false;
};

// Names one task for its whole life: index plus the serial it had when created.
struct TaskRef {
    size_t index = 0;
    std::uint64_t serial = 0;
};

bool IsFinalStatus(TaskStatus status);
// The words each view shows for a status; any value outside the enumeration shows as pending.
const char* TaskStatusApiWord(TaskStatus status);
const wchar_t* TaskStatusListWord(TaskStatus status);
const char* TaskStatusPageWord(TaskStatus status);

// Appends a complete record (its serial is assigned here) and returns its reference.
TaskRef AppendTask(DownloadTask task);

// The API's append: unless a task that is queued, pending or downloading has the same name and url
// (a repeated request must not start it again), appends `task` and sets *ref. The check and the
// append happen under one lock, so two equal requests cannot both append. False when a duplicate
// exists; nothing is appended then.
bool AppendTaskUnlessDuplicate(DownloadTask task, TaskRef* ref);

enum class RetryOutcome { Started, NoSuchTask, NotFailed, NotRetryable };

// True for a failed task the worker pipeline can run again. The runtime installer's task is not one:
// the install button asks for a new one.
bool CanRetryTask(const DownloadTask& task);

// Makes the failed task at `index` run again in place: same index and file path, status Pending,
// progress 0, error, finish time and the outputs of the earlier attempt cleared, and a new serial,
// so that nothing holding the earlier attempt's reference can touch it. The check and the reset
// happen under one lock, so two retries of one task cannot both start. On Started sets *ref and
// posts WM_TASK_UPDATE for the row; the caller hands the task to the runner.
RetryOutcome PrepareTaskRetry(size_t index, TaskRef* ref);

// Sets status and progress of the task `ref` names; a non-empty error replaces the stored text;
// a final status stamps the local finish time. Posts WM_TASK_UPDATE with the index to the download
// window. Returns false, changing and posting nothing, when the task no longer exists.
bool UpdateTaskStatus(const TaskRef& ref, TaskStatus status, int progress, const std::string& error);

// Runs `change` on the task's record under the lock if it still exists; false when it does not.
bool UpdateTaskFields(const TaskRef& ref, const std::function<void(DownloadTask&)>& change);

// Copies the task's record under the lock; false when it no longer exists.
bool CopyTask(const TaskRef& ref, DownloadTask* out);
// Copies the record at `index` (a view knows only the row); false when there is none.
bool CopyTaskAt(size_t index, DownloadTask* out);

// Every record, in index order, as one consistent copy.
std::vector<DownloadTask> SnapshotTasks();

// What the API and the status page show of a task.
struct TaskRow {
    std::string name;
    std::string error;
    TaskStatus status = TaskStatus::Pending;
    std::int32_t progress = 0;
};

// The shown fields of every task, in index order, as one consistent copy: a tenth of the copying
// of SnapshotTasks for a large table, so the lock is released sooner and the texts come quicker.
std::vector<TaskRow> SnapshotTaskRows();

// Removes every task. Workers still running keep going, but their updates are dropped.
void ClearTasks();

// Keeps the file path of the task `ref` names from any new task for the object's life, even after
// ClearTasks: the worker that holds it may still be writing there. Nothing when the task is gone.
class PathReservation {
  public:
    explicit PathReservation(const TaskRef& ref);
    ~PathReservation();
    PathReservation(const PathReservation&) = delete;
    PathReservation& operator=(const PathReservation&) = delete;

  private:
    std::wstring path_;
};

// Number of tasks, read under the lock.
size_t TaskCount();

// Current local time as "YYYYMMDD_HHMMSS".
std::wstring MakeTimestamp();

// Posts WM_TASK_UPDATE with wParam -1 to the download window when one exists.
void NotifyTaskListChanged();

// Who keeps a copy of the table (the journal) hears of every change, after the lock is released.
// Final marks a change that must reach the copy at once: a task reached a final status, or the
// table was emptied; everything else may wait a little and be gathered with later changes. Kept
// asks the listener to return only once its copy holds every change made so far.
enum class TaskChange { Ordinary, Final, Kept };
using TaskChangeListener = void (*)(TaskChange change);
// Null stops the calls. Set before other threads use the table, or while none of them changes it.
void SetTaskChangeListener(TaskChangeListener listener);

// Returns once the copy of the table (the journal) holds every change made so far; at once when
// nothing keeps one. A worker calls it before a step that cannot be undone (deleting the extracted
// archive, moving files into the development directory), so that after a crash the task's record
// never claims less than was done.
void KeepTaskChanges();
