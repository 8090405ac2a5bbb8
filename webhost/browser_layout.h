// What the download window asks of the embedded browser when it lays itself out.
#pragma once

#include "base/win32.h"

// WM_LAYOUT_AND_BROWSER, after the page area, list and clear button were placed: shows a ready
// browser at width x browserHeight and asks for the start page until the site has loaded once.
// False when no browser is ready (nothing was touched).
bool FitWebBrowserAfterLayout(HWND downloadWindow, int width, int browserHeight);
// WM_SIZE in normal mode: sizes a ready browser to width x browserHeight. False when there is none.
bool FitWebBrowserOnSize(int width, int browserHeight);
// Downloader-only mode shows no page: hides the browser's host window if there is one.
void HideWebBrowserHost();
// WM_DEFERRED_NAVIGATE: tells the controller its position changed and, until the site has loaded,
// navigates to the start page.
void HandleDeferredNavigate();
// WM_MOVE: the page's pop-ups (drop-downs, autofill, input method) open where the window now is.
void NotifyWebBrowserMoved();
