// The runtime's own windows inside the host: "Chrome_WidgetWin_0" and, inside it,
// "Chrome_WidgetWin_1". They are sized directly after every size change, and the first is
// subclassed so that F5 reloads the page and F11 toggles the full-monitor window. Where the
// runtime keeps the focus in a window of its own process, the same keys come through the
// controller (BrowserHost::OnAcceleratorKeyPressed).
#pragma once

#include "base/win32.h"

constexpr const wchar_t* kChromeOuterClass = L"Chrome_WidgetWin_0";
constexpr const wchar_t* kChromeInnerClass = L"Chrome_WidgetWin_1";

// Sizes both windows to width x height (when they exist), installs the key subclass once per host,
// and sends the host a WM_SIZE in any case.
void ResizeChromeWindows(int width, int height);
LRESULT CALLBACK ChromeKeySubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Gives "Chrome_WidgetWin_0" its own procedure back (if it is still there) and forgets it.
void RestoreChromeWindowProc();
