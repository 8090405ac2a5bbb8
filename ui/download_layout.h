// Where the download window's controls go for its mode, its client size and whether the task list
// is shown. Every placement skips controls that do not exist.
#pragma once

#include "base/win32.h"

// Height of the settings strip; the page area and the downloader-only list start below it.
constexpr int kSettingsStripHeight = 30;
// Height of the task list band at the bottom of the normal-mode window.
constexpr int kTaskBandHeight = 150;
// Width of the column right of the list that holds the clear and install buttons.
constexpr int kButtonColumnWidth = 115;
// The buttons' left edge, measured from the client's right edge.
constexpr int kButtonColumnInset = 107;
constexpr int kClearButtonWidth = 100;
constexpr int kClearButtonHeight = 24;
// The clear button's top: 110 above the bottom in the list band, fixed under the strip otherwise.
constexpr int kBandClearButtonBottomOffset = 110;
constexpr int kDownloaderOnlyClearButtonY = 70;
// The install button's top, measured from the client's bottom edge.
constexpr int kInstallButtonBottomOffset = 39;
// The downloader-only list reaches one pixel past the client's bottom, hiding its lower border.
constexpr int kDownloaderOnlyListBottomOverlap = 1;
constexpr int kMinDownloaderOnlyListHeight = 20;
constexpr int kInstallButtonWidth = 100;
constexpr int kInstallButtonHeight = 22;
// The view-tasks button sits 100 pixels from the right edge of a wide window, else at 900.
constexpr int kViewTasksWideThreshold = 1000;
constexpr int kViewTasksRightInset = 100;
constexpr int kViewTasksNarrowX = 900;
constexpr int kViewTasksY = 4;
constexpr int kViewTasksWidth = 75;
constexpr int kViewTasksHeight = 22;
// Smallest page area and browser height, so a tiny window still shows a strip of the page.
constexpr int kMinPageHeight = 50;

int ViewTasksButtonX(int clientWidth);

// WM_SIZE: the layout table for the current mode.
void LayoutOnSize(HWND window);
// The view-tasks command: shows the list band (true) or hides it (false) and places the page area.
void ShowTaskListBand(HWND window, bool visible);
// The layout half of WM_LAYOUT_AND_BROWSER: page area, task list and clear button.
void LayoutPageAreaAndList(HWND window);
// A creation attempt found no runtime: the window takes the downloader-only layout (no page,
// the list with its buttons in the column right of it, the view-tasks button hidden).
void LayoutForMissingRuntime(HWND window);
// After the browser was fitted: a visible list band and its clear button go back on top.
void RaiseTaskBand();
int ClientWidth(HWND window);
// The browser's height for the window's client size: below the strip, above a visible list band,
// at least kMinPageHeight.
int BrowserHeight(HWND window);
// Enables the clear button exactly when the task table is not empty (reads it under g_taskMutex).
void UpdateClearButtonState();
