// Private window messages shared between the program's windows and threads.
#pragma once

#include "base/win32.h"

// A task changed: wParam is its index, or (WPARAM)-1 when tasks were added or removed; lParam 0.
constexpr UINT WM_TASK_UPDATE = WM_USER + 100;
// Lay the list out again and make sure the browser exists and fits.
constexpr UINT WM_LAYOUT_AND_BROWSER = WM_USER + 200;
constexpr UINT WM_WEBVIEW2_INIT = WM_USER + 201;
constexpr UINT WM_WEBVIEW2_READY = WM_USER + 202;
constexpr UINT WM_DEFERRED_NAVIGATE = WM_USER + 300;
// A step of the browser's creation failed inside a runtime callback; the message is shown from the
// window's own loop so that the runtime's events do not queue behind a modal box. wParam is the
// failure's kind, lParam its HRESULT.
constexpr UINT WM_BROWSER_ERROR = WM_USER + 203;
// The browser process ended: the control is torn down; a visible window creates it again at once.
// wParam is the generation of the browser that failed.
constexpr UINT WM_BROWSER_RECREATE = WM_USER + 204;
// Mouse events of the tray icon, sent by the shell to the tray window.
constexpr UINT WM_TRAY_CALLBACK = WM_APP + 1;
// Asks the tray window to show (creating it if needed) the download window. Other threads and a
// second instance post it, because the download window may only be created on the UI thread.
constexpr UINT WM_SHOW_DOWNLOAD_WINDOW = WM_APP + 2;

constexpr WPARAM kAllTasksChanged = static_cast<WPARAM>(-1);
// Asks the tray window to format its tip again from the current port (the HTTP thread changes the
// port; the tray icon is only touched on the UI thread).
constexpr UINT WM_REFRESH_TRAY_TIP = WM_APP + 3;
// The last running or waiting download reached a final status; the tray window may say so.
constexpr UINT WM_DOWNLOADS_DONE = WM_APP + 4;
