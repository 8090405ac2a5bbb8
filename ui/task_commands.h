// The download window's task commands: the list's update message, the clear button and the
// runtime install button.
#pragma once

#include "base/win32.h"
#include "tasks/task_table.h"

// WM_TASK_UPDATE: wParam -1 rebuilds every row, otherwise the one row of that index is rewritten.
void OnTaskUpdate(WPARAM wParam);
// The clear button: removes every task and empties the list.
void ClearAllTasks(HWND window);
// The install button: asks, and on Yes adds the installer task and starts the installer routine.
void InstallWebView2Runtime(HWND window);

// Test seams. The question returns the message box's answer (IDYES, IDNO...).
using InstallQuestion = int (*)(HWND owner);
void SetInstallQuestionForTesting(InstallQuestion question);
// The list operations the update message calls; null members restore the real ones.
struct TaskListOperations {
    void (*rebuild)() = nullptr;
    void (*updateRow)(int row, const DownloadTask& task) = nullptr;
};
void SetTaskListOperationsForTesting(const TaskListOperations& operations);
