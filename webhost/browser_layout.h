// What the download window asks of the embedded browser when it lays itself out. The browser
// control comes with its own work; until then these calls find no browser and do nothing.
#pragma once

#include "base/win32.h"

// Starts the browser's creation inside the web page area, or resizes an existing browser.
void CreateWebBrowserControl(HWND pageArea);
// After the page area, list and clear button were placed: shows and sizes a ready browser for the
// window's client size and asks for the start page until it has loaded once.
void FitWebBrowserAfterLayout(HWND downloadWindow, int clientWidth, int clientHeight);
// On WM_SIZE in normal mode: sizes a ready browser to width x browserHeight.
void FitWebBrowserOnSize(int width, int browserHeight);
// Downloader-only mode shows no page: hides the browser's host window if there is one.
void HideWebBrowserHost();
// F5 on the download window.
void ReloadWebBrowser();
// WM_DEFERRED_NAVIGATE: the navigation to the start page that waits until the browser is ready.
void HandleDeferredNavigate();
