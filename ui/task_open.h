// Opening a task's output in the file manager, for a double click or Enter on its row.
#pragma once

#include "base/win32.h"

#include <string>

// Shows a task's output folder (or its first filed item, selected) in the file manager.
void OpenTaskDirectory(int index);

// Test seams. The shell calls of OpenTaskDirectory: starting "<Windows folder>\explorer.exe"
// /select,"<item>" with this command line, and opening a folder. The tick source of the
// double-click debounce.
struct TaskShellCalls {
    bool (*startProcess)(const std::wstring& commandLine);
    void (*openFolder)(const std::wstring& folder);
};
// Null restores the real calls.
void SetTaskShellCallsForTesting(const TaskShellCalls* calls);
using TaskListTickSource = DWORD (*)();
// Null restores GetTickCount.
void SetTaskListTickSourceForTesting(TaskListTickSource source);
