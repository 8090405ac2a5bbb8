// The download window's list of tasks (a report-view list control).
#pragma once

#include "app/win32.h"
#include "tasks/task_table.h"

extern HWND g_hTaskList;

// Called once from the download window's WM_CREATE after the list control exists.
void SetupTaskList();
// Rebuilds every row from the task table (takes g_taskMutex).
void RebuildTaskList();
// Rewrites columns 1..4 of one row; the caller holds g_taskMutex.
void UpdateTaskRow(int row, const DownloadTask& task);
// Sets the column widths for the list's current client width.
void FitTaskListColumns(HWND list);
LRESULT CALLBACK TaskListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Shows a task's output folder (or file) in the file manager.
void OpenTaskDirectory(int index);
