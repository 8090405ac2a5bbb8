// State of the download window shared with the task list and the browser code. Everything here is
// read and written on the user-interface thread only (g_hDownloadWnd, read by other threads, lives
// in state/app_state.h).
#pragma once

#include "base/win32.h"

// The task list and the clear button are shown.
extern bool g_taskListVisible;
// True while WM_CREATE builds the controls, so that their first texts are not saved as changes.
extern bool g_uiInitializing;
// Set by the task list while it handles a double click, so the window does not act on it twice.
extern bool g_listDblClickActive;

// Child controls of the download window; null when the mode does not create them.
extern HWND g_hClearButton;
extern HWND g_hViewTasksButton;
extern HWND g_hInstallButton;
extern HWND g_hWebPage;
