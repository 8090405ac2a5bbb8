#include "ui/task_list.h"

// The task list is not built yet; the download window calls these so that it can be filled in
// without touching the window.
HWND g_hTaskList = nullptr;

void SetupTaskList() {}
void RebuildTaskList() {}
void UpdateTaskRow(int, const DownloadTask&) {}
void FitTaskListColumns(HWND) {}
LRESULT CALLBACK TaskListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}
void OpenTaskDirectory(int) {}
