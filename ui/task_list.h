// The download window's list of tasks (a report-view list control).
#pragma once

#include "base/win32.h"
#include "tasks/task_table.h"
#include "ui/task_open.h"

#include <string>

extern HWND g_hTaskList;

// Called once from the download window's WM_CREATE after the list control exists.
void SetupTaskList();
// Rebuilds every row from a snapshot of the task table.
void RebuildTaskList();
// Rewrites columns 1..4 of one row from a copy of its task.
void UpdateTaskRow(int row, const DownloadTask& task);
// Sets the column widths for the list's current client width.
void FitTaskListColumns(HWND list);
// The list's notifications to its parent that the list's own drawing needs (NM_CUSTOMDRAW for the
// progress bars). The parent's WM_NOTIFY calls this first and returns *result when it is true.
bool OnTaskListParentNotify(LPARAM lParam, LRESULT* result);
LRESULT CALLBACK TaskListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The texts the list shows, exposed so their limits can be checked without a window.
// Column 0: the name with ".zip" ensured, at most kTaskNameCellMax UTF-16 units.
std::wstring TaskNameCellText(const std::string& utf8Name);
// Column 1: the task's most relevant path for its status, at most kTaskPathCellMax units; "-" when
// it has none.
std::wstring TaskPathCellText(const DownloadTask& task);
// The row's tooltip: the whole name and path, and for a failed task or one completed with a note,
// the error or note, one per line (each line shortened in the middle past a few hundred units).
std::wstring TaskTipText(const DownloadTask& task);

// Longest texts the list shows: list view cells are drawn from fixed buffers of 256 and 260 units,
// so longer texts are shortened in the middle (see ElideMiddle in task_list.cpp).
constexpr size_t kTaskNameCellMax = 255;
constexpr size_t kTaskPathCellMax = 259;
