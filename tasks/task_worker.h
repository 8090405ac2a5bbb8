// The body of each task's own thread: download, then extraction and the classified copy as the
// settings say.
#pragma once

#include "tasks/task_table.h"

#include <string>

// The note a completed task carries when some extracted entries matched no rule and wait for the
// user in their folder, which is opened for them.
constexpr const char* kLeftoverNote = "待处理";

void RunTaskWorker(TaskRef ref);

// Test seam: how the worker shows a folder of leftovers. The default opens it in the file manager.
using FolderOpener = void (*)(const std::wstring& folder);
void SetFolderOpenerForTesting(FolderOpener opener);
