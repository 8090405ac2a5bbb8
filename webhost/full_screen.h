// F11: the download window fills its monitor, and back. Shared by the window's own key handling
// and the browser's.
#pragma once

#include "base/win32.h"

// Where the window goes when it leaves full screen, and its size there.
constexpr int kWindowedX = 100;
constexpr int kWindowedY = 100;
constexpr int kWindowedWidth = 1000;
constexpr int kWindowedHeight = 700;
constexpr int kDownloaderOnlyWindowedWidth = 980;
constexpr int kDownloaderOnlyWindowedHeight = 200;

void ToggleFullScreen(HWND window);
