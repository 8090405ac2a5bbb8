// Creating the browser control inside the web page area: a chain of two asynchronous runtime calls
// whose completions post WM_WEBVIEW2_INIT and WM_WEBVIEW2_READY to the download window, ending with
// the start page's navigation scheduled. BrowserHost (browser_host.h) holds the chain's state.
#pragma once

#include "base/win32.h"
#include "webhost/webview2_interfaces.h"

enum class BrowserCreation {
    // A creation started, was already under way, failed (and was reported), or the existing
    // browser was fitted to the page area.
    Handled,
    // No runtime is installed: g_webView2Missing is set and the page area and host are hidden; the
    // caller lays its window out for downloader-only mode.
    RuntimeMissing,
};

BrowserCreation CreateWebBrowserControl(HWND pageArea);
// The guarded controller request: E_INVALIDARG for a null argument, else the runtime's answer.
HRESULT CreateCoreWebView2Safe(ICoreWebView2Environment* environment, HWND host);
// WM_WEBVIEW2_INIT: asks the stored environment for a controller in the host window.
void OnWebView2Init();
// WM_WEBVIEW2_READY: takes over the controller and browser, registers the page handlers, applies
// the settings, fits the browser and schedules the start page.
void OnWebView2Ready();
// WM_BROWSER_RECREATE, after the browser process ended (wParam: the generation of the browser that
// failed): tears that browser down and, when the window is shown, has the next layout create it again.
void RecreateWebBrowser(HWND downloadWindow, WPARAM generation);
// The window was shown or restored: a browser that waited for it is created now.
void CreateWaitingWebBrowser(HWND downloadWindow);
