// The browser's start-up failures as the user sees them: a message box with the caption
// "WebView2 错误" and one of seven fixed texts.
#pragma once

#include "base/win32.h"

#include <string>

constexpr const wchar_t* kBrowserErrorCaption = L"WebView2 错误";

enum class BrowserError {
    LoaderMissing,          // no loader library could be loaded
    ExportsMissing,         // neither environment export exists
    HostWindowFailed,       // the host window cannot be created
    EnvironmentCallFailed,  // the environment call fails (HRESULT, user data folder)
    EnvironmentFailed,      // the environment completion reports failure (HRESULT)
    ControllerFailed,       // the controller completion reports failure (HRESULT)
    CoreWebView2Missing,    // the controller gives no browser interface (HRESULT)
};

// The message's text, cut to the length of the buffer it is formatted into.
std::wstring BrowserErrorText(BrowserError error, HRESULT result = S_OK,
                              const std::wstring& userDataFolder = L"");
// Shows the message (no owner window, OK button, error icon). Never throws.
void ReportBrowserError(BrowserError error, HRESULT result = S_OK,
                        const std::wstring& userDataFolder = std::wstring()) noexcept;

// From a runtime callback: posts the failure to the program's window, which shows it through
// ShowPostedBrowserError once the callback has returned. Traced when there is no window to post to.
void PostBrowserError(BrowserError error, HRESULT result) noexcept;
// WM_BROWSER_ERROR: shows the message a PostBrowserError carried.
void ShowPostedBrowserError(WPARAM error, LPARAM result) noexcept;

// Test seam: receives the caption and text instead of a message box. Null restores the box.
using BrowserErrorSink = void (*)(const wchar_t* caption, const wchar_t* text);
void SetBrowserErrorSinkForTesting(BrowserErrorSink sink);
