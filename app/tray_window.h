// The hidden window that owns the tray icon and receives its mouse events.
#pragma once

#include "base/win32.h"

#include <shellapi.h>

constexpr UINT IDM_TRAY_VIEW_TASKS = 5001;
constexpr UINT IDM_TRAY_EXIT = 1002;
constexpr UINT kTrayIconId = 1;

// The one record used for every call on the icon; filled when the tray window is created.
extern NOTIFYICONDATAW g_trayIconData;

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Callable from any thread: asks the tray window to show the current port in its tip.
void RefreshTrayTip();

// Removes the tray icon (UI thread). Harmless when it is already gone.
void RemoveTrayIcon();

// Test seams: the shell calls the tray makes. Null restores the real function.
using NotifyIconFunction = BOOL (*)(DWORD action, NOTIFYICONDATAW* data);
void SetNotifyIconFunctionForTesting(NotifyIconFunction function);
// Shows `menu` at x, y for `owner` and returns the chosen command, 0 when dismissed.
using TrayMenuTracker = UINT (*)(HMENU menu, int x, int y, HWND owner);
void SetTrayMenuTrackerForTesting(TrayMenuTracker tracker);
