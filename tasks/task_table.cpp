#include "tasks/task_table.h"

#include "base/debug_trace.h"
#include "base/text_convert.h"
#include "base/window_messages.h"
#include "state/app_state.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

// Guards g_taskTable, every record in it and g_nextTaskSerial. Not recursive. Every function below
// that takes it holds it only to copy or assign fields and to post messages; never while waiting
// for another lock, a thread or the network. It is taken before no other lock of the program.
std::mutex g_taskMutex;
std::vector<DownloadTask> g_taskTable;

std::uint64_t g_nextTaskSerial = 1;  // guarded by g_taskMutex
// The paths of running workers, once for each; guarded by g_taskMutex.
std::vector<std::wstring> g_reservedPaths;

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::atomic<TaskChangeListener> g_changeListener{nullptr};

// Called without g_taskMutex held.
void ReportChange(TaskChange change) {
    const TaskChangeListener listener = g_changeListener.load();
    if (listener) {
        listener(change);
    }
}

// Caller holds g_taskMutex. True when `ref` still names the same task.
bool IsLiveTaskLocked(const TaskRef& ref) {
    return ref.index < g_taskTable.size() && g_taskTable[ref.index].serial == ref.serial;
}

// Caller holds g_taskMutex. Queued, pending and downloading tasks count; one that is extracting or
// later has its archive already, so a new request for it is a new download.
bool HasActiveDuplicateLocked(const std::string& cleanedName, const std::string& url) {
    for (const DownloadTask& task : g_taskTable) {
        const auto status = static_cast<std::uint32_t>(task.status);
        if (status <= static_cast<std::uint32_t>(TaskStatus::Downloading) && task.name == cleanedName &&
            task.url == url) {
            return true;
        }
    }
    return false;
}

// Caller holds g_taskMutex. Windows compares file names without regard to case.
bool IsPathTakenLocked(const std::wstring& path) {
    for (const DownloadTask& task : g_taskTable) {
        if (task.kind == TaskKind::Asset && SamePath(task.filePath, path)) {
            return true;
        }
    }
    for (const std::wstring& reserved : g_reservedPaths) {
        if (SamePath(reserved, path)) {
            return true;
        }
    }
    return false;
}

// Caller holds g_taskMutex. A file path carries the name and the second the task was made, so two
// tasks of one name made within a second (a link clicked twice) would write one file at once and
// corrupt it; the later task gets its serial before the extension instead. Serials are unique in
// the process, so this costs one more look at the table, not one per task already there.
std::wstring UnusedPathLocked(const std::wstring& path, std::uint64_t serial) {
    if (path.empty() || !IsPathTakenLocked(path)) {
        return path;
    }
    const size_t slash = path.find_last_of(L"\\/");
    const size_t dot = path.rfind(L'.');
    const size_t cut =
        dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? dot : path.size();
    const std::wstring stem = path.substr(0, cut) + L"_" + std::to_wstring(serial);
    std::wstring candidate = stem + path.substr(cut);
    for (unsigned number = 2; IsPathTakenLocked(candidate); ++number) {
        candidate = stem + L"_" + std::to_wstring(number) + path.substr(cut);
    }
    return candidate;
}

// Caller holds g_taskMutex.
TaskRef AppendLocked(DownloadTask task) {
    // The runtime installer keeps its one fixed file name in the temporary folder.
    task.serial = g_nextTaskSerial++;
    if (task.kind == TaskKind::Asset) {
        task.filePath = UnusedPathLocked(task.filePath, task.serial);
    }
    const std::uint64_t serial = task.serial;
    g_taskTable.push_back(std::move(task));
    return TaskRef{g_taskTable.size() - 1, serial};
}

void PostToDownloadWindow(WPARAM wParam) {
    const HWND window = g_hDownloadWnd.load();
    if (window) {
        PostMessageW(window, WM_TASK_UPDATE, wParam, 0);
    }
}

// Called with g_taskMutex held.
// Sets *tracedName to the task's name when its stage changes, for the log.
bool UpdateTaskStatusLocked(const TaskRef& ref, TaskStatus status, int progress, const std::string& error,
                            std::string* tracedName) {
    if (!IsLiveTaskLocked(ref)) {
        return false;
    }
    DownloadTask& task = g_taskTable[ref.index];
    if (task.status != status) {
        *tracedName = task.name;
    }
    task.status = status;
    task.progress = progress;
    if (!error.empty()) {
        task.error = error;
    }
    if (IsFinalStatus(status)) {
        GetLocalTime(&task.finishTime);
        task.hasFinishTime = true;
    }
    PostToDownloadWindow(static_cast<WPARAM>(ref.index));
    return true;
}

}  // namespace

bool IsFinalStatus(TaskStatus status) {
    return status == TaskStatus::Completed || status == TaskStatus::Failed ||
           status == TaskStatus::AlreadyExists;
}

const char* TaskStatusApiWord(TaskStatus status) {
    switch (status) {
        case TaskStatus::Queued:
            return "queued";
        case TaskStatus::Downloading:
            return "downloading";
        case TaskStatus::Extracting:
            return "extracting";
        case TaskStatus::Copying:
            return "copying";
        case TaskStatus::Completed:
            return "completed";
        case TaskStatus::Failed:
            return "failed";
        // A word of its own, so that API clients waiting for a final status see one.
        case TaskStatus::AlreadyExists:
            return "already_exists";
        default:
            return "pending";
    }
}

const wchar_t* TaskStatusListWord(TaskStatus status) {
    switch (status) {
        case TaskStatus::Queued:
            return L"排队中";
        case TaskStatus::Downloading:
            return L"下载中";
        case TaskStatus::Extracting:
            return L"解压中";
        case TaskStatus::Copying:
            return L"复制中";
        case TaskStatus::Completed:
            return L"已完成";
        case TaskStatus::Failed:
            return L"失败";
        case TaskStatus::AlreadyExists:
            return L"已存在";
        default:
            return L"等待中";
    }
}

const char* TaskStatusPageWord(TaskStatus status) {
    switch (status) {
        case TaskStatus::Queued:
            return "Queued";
        case TaskStatus::Downloading:
            return "Downloading";
        case TaskStatus::Extracting:
            return "Extracting";
        case TaskStatus::Copying:
            return "Copying";
        case TaskStatus::Completed:
            return "Completed";
        case TaskStatus::Failed:
            return "Failed";
        case TaskStatus::AlreadyExists:
            return "Already Exists";
        default:
            return "Pending";
    }
}

// Takes g_taskMutex.
TaskRef AppendTask(DownloadTask task) {
    TaskRef ref;
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        ref = AppendLocked(std::move(task));
    }
    ReportChange(TaskChange::Ordinary);
    return ref;
}

// Takes g_taskMutex for the check and the append together.
bool AppendTaskUnlessDuplicate(DownloadTask task, TaskRef* ref) {
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        if (HasActiveDuplicateLocked(task.name, task.url)) {
            return false;
        }
        *ref = AppendLocked(std::move(task));
    }
    ReportChange(TaskChange::Ordinary);
    return true;
}

bool CanRetryTask(const DownloadTask& task) {
    return task.status == TaskStatus::Failed && task.kind == TaskKind::Asset;
}

namespace {

// Takes g_taskMutex; posts (never sends) while holding it.
RetryOutcome PrepareRetryUnderLock(size_t index, TaskRef* ref) {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    if (index >= g_taskTable.size()) {
        return RetryOutcome::NoSuchTask;
    }
    DownloadTask& task = g_taskTable[index];
    if (task.status != TaskStatus::Failed) {
        return RetryOutcome::NotFailed;
    }
    if (!CanRetryTask(task)) {
        return RetryOutcome::NotRetryable;
    }
    task.status = TaskStatus::Pending;
    task.progress = 0;
    task.error.clear();
    task.finishTime = {};
    task.hasFinishTime = false;
    // An archive already extracted and deleted lives on only in its folder, which the retry files.
    if (task.stage != TaskStage::Extracted) {
        task.extractDir.clear();
    }
    task.copyDestDir.clear();
    task.copyFirstItem.clear();
    task.leftoverDir.clear();
    task.hasNextTry = false;
    task.serial = g_nextTaskSerial++;
    *ref = TaskRef{index, task.serial};
    PostToDownloadWindow(static_cast<WPARAM>(index));
    return RetryOutcome::Started;
}

}  // namespace

RetryOutcome PrepareTaskRetry(size_t index, TaskRef* ref) {
    const RetryOutcome outcome = PrepareRetryUnderLock(index, ref);
    if (outcome == RetryOutcome::Started) {
        ReportChange(TaskChange::Ordinary);
    }
    return outcome;
}

// Takes g_taskMutex; posts (never sends) while holding it, so it never waits for the window.
bool UpdateTaskStatus(const TaskRef& ref, TaskStatus status, int progress, const std::string& error) {
    std::string tracedName;
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        if (!UpdateTaskStatusLocked(ref, status, progress, error, &tracedName)) {
            return false;
        }
    }
    ReportChange(IsFinalStatus(status) ? TaskChange::Final : TaskChange::Ordinary);
    // Traced outside the lock: the log may be writing to the disk.
    if (!tracedName.empty() || !error.empty()) {
        DebugTrace(L"Task %u \"%ls\": %ls %d%% %ls", static_cast<unsigned>(ref.index),
                   Utf8ToWide(tracedName).c_str(), Utf8ToWide(TaskStatusApiWord(status)).c_str(), progress,
                   Utf8ToWide(error).c_str());
    }
    return true;
}

// Takes g_taskMutex; `change` must only assign fields.
bool UpdateTaskFields(const TaskRef& ref, const std::function<void(DownloadTask&)>& change) {
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        if (!IsLiveTaskLocked(ref)) {
            return false;
        }
        change(g_taskTable[ref.index]);
    }
    ReportChange(TaskChange::Ordinary);
    return true;
}

// Takes g_taskMutex.
bool CopyTask(const TaskRef& ref, DownloadTask* out) {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    if (!IsLiveTaskLocked(ref)) {
        return false;
    }
    *out = g_taskTable[ref.index];
    return true;
}

// Takes g_taskMutex.
bool CopyTaskAt(size_t index, DownloadTask* out) {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    if (index >= g_taskTable.size()) {
        return false;
    }
    *out = g_taskTable[index];
    return true;
}

// Takes g_taskMutex while the records are copied.
std::vector<DownloadTask> SnapshotTasks() {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    return g_taskTable;
}

// Takes g_taskMutex while the rows are copied.
std::vector<TaskRow> SnapshotTaskRows() {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    std::vector<TaskRow> rows;
    rows.reserve(g_taskTable.size());
    for (const DownloadTask& task : g_taskTable) {
        rows.push_back(TaskRow{task.name, task.error, task.status, task.progress});
    }
    return rows;
}

// Takes g_taskMutex. Serials keep counting, so a cleared task's worker can never match a new task.
void ClearTasks() {
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        g_taskTable.clear();
    }
    ReportChange(TaskChange::Final);
}

PathReservation::PathReservation(const TaskRef& ref) {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    if (IsLiveTaskLocked(ref) && g_taskTable[ref.index].kind == TaskKind::Asset) {
        path_ = g_taskTable[ref.index].filePath;
        g_reservedPaths.push_back(path_);
    }
}

PathReservation::~PathReservation() {
    if (path_.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_taskMutex);
    for (auto it = g_reservedPaths.begin(); it != g_reservedPaths.end(); ++it) {
        if (*it == path_) {
            g_reservedPaths.erase(it);
            return;
        }
    }
}

// Takes g_taskMutex.
size_t TaskCount() {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    return g_taskTable.size();
}

std::wstring MakeTimestamp() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[32] = {};
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%04d%02d%02d_%02d%02d%02d", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

void NotifyTaskListChanged() {
    PostToDownloadWindow(kAllTasksChanged);
}

void SetTaskChangeListener(TaskChangeListener listener) {
    g_changeListener.store(listener);
}

void KeepTaskChanges() {
    ReportChange(TaskChange::Kept);
}
