// The task list's right-click menu: "重试" runs a failed task again, "打开文件夹" opens what a double
// click on the row opens.
#pragma once

#include "base/win32.h"

// WM_CONTEXTMENU on the list. lParam is the screen point of the click, or -1 when the keyboard
// asked for the menu (it then belongs to the selected row). Outside every row no menu opens.
LRESULT OnTaskListContextMenu(HWND list, LPARAM lParam);
