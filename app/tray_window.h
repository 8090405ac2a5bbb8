// The hidden window that owns the tray icon and receives its mouse events.
#pragma once

#include "app/win32.h"

constexpr UINT IDM_TRAY_VIEW_TASKS = 5001;
constexpr UINT IDM_TRAY_EXIT = 1002;

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Callable from any thread: asks the tray window to show the current port in its tip.
void RefreshTrayTip();

// Closes the download window and the tray window and ends the message loop.
void RunExitSequence(HWND trayWindow);
