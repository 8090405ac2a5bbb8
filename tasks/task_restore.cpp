#include "tasks/task_restore.h"

#include "base/debug_trace.h"
#include "tasks/task_journal_file.h"
#include "tasks/task_runner.h"

namespace {

void EndInterrupted(DownloadTask* task, const char* reason) {
    task->status = TaskStatus::Failed;
    task->progress = 0;
    task->error = reason;
    GetLocalTime(&task->finishTime);
    task->hasFinishTime = true;
}

}  // namespace

bool PrepareRestoredTask(DownloadTask* task) {
    if (IsFinalStatus(task->status)) {
        return false;
    }
    if (task->kind != TaskKind::Asset) {
        EndInterrupted(task, kInterruptedInstallerText);
        return false;
    }
    switch (task->status) {
        case TaskStatus::Extracting:
            EndInterrupted(task, kInterruptedExtractionText);
            return false;
        case TaskStatus::Copying:
            EndInterrupted(task, kInterruptedFilingText);
            return false;
        default:
            // Queued, pending or downloading: the download goes on from the bytes on disk.
            task->status = TaskStatus::Pending;
            task->error.clear();
            task->hasFinishTime = false;
            return true;
    }
}

bool RestoreTasks(const std::wstring& journalPath, const std::wstring& downloadDir,
                  const std::wstring& devDir) {
    JournalLoad load = LoadTaskJournal(journalPath, JournalDirs{downloadDir, devDir});
    bool changed = load.fromBackup || !load.setAsidePath.empty() || load.dropped > 0;
    if (!load.setAsidePath.empty()) {
        DebugTrace(L"RestoreTasks: unreadable journal kept as %ls", load.setAsidePath.c_str());
    }
    std::vector<TaskRef> toStart;
    for (DownloadTask& task : load.tasks) {
        const bool wasFinal = IsFinalStatus(task.status);
        const bool resumes = PrepareRestoredTask(&task);
        changed = changed || (!wasFinal && !resumes);
        const TaskRef ref = AppendTask(std::move(task));
        if (resumes) {
            toStart.push_back(ref);
        }
    }
    if (!load.tasks.empty()) {
        NotifyTaskListChanged();
    }
    for (const TaskRef& ref : toStart) {
        StartTask(ref);  // takes its turn under the download limit like any new task
    }
    // A started worker may change its task before the journal's saver listens; the saver's first
    // write, after it listens, takes those changes in.
    return changed || !toStart.empty();
}
