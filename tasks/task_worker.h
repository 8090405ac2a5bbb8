// The body of each task's own thread: download, then extraction and the classified copy as the
// settings say.
#pragma once

#include "tasks/http_download.h"
#include "tasks/task_table.h"

#include <atomic>
#include <functional>
#include <string>

// The note a completed task carries when some extracted entries matched no rule and wait for the
// user in their folder, which is opened for them.
constexpr const char* kLeftoverNote = "待处理";

// What the runner of a task asks of the pipeline; empty hooks run one attempt on their own.
struct TaskWorkerHooks {
    // The download stops at its next read once this turns true. May be null.
    const std::atomic<bool>* cancel = nullptr;
    // Called once the download stage is over, whatever its outcome, with the attempt's account of a
    // failure. True: go on (only after a download that succeeded); false: the caller has settled the
    // task (failed, cancelled or waiting for another try) and the pipeline stops. Empty: a failure
    // is reported as the task's final status.
    std::function<bool(bool downloaded, const DownloadResume& attempt, const std::string& error)>
        downloadEnded;
};

// Runs the task `ref` names, once: download (resuming what an earlier attempt left), then extraction
// and the classified copy as the settings say. Exceptions reach the caller.
void RunTaskWorker(TaskRef ref, const TaskWorkerHooks& hooks = TaskWorkerHooks());

// Test seam: how the worker shows a folder of leftovers. The default opens it in the file manager.
using FolderOpener = void (*)(const std::wstring& folder);
void SetFolderOpenerForTesting(FolderOpener opener);
