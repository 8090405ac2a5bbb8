// Process-wide handles and flags of the application shell.
#pragma once

#include "base/win32.h"

#include <atomic>

constexpr const wchar_t* kTrayWindowClass = L"TarnDownloader_Main";
constexpr const wchar_t* kSingleInstanceMutexName = L"TarnDownloader_Mutex";
constexpr int kAppIconResourceId = 2001;

// The application icon; null when it could not be loaded (everything then goes without one).
extern HICON g_hAppIcon;
// The hidden window that owns the tray icon. Set once on the UI thread at start-up.
extern HWND g_hTrayWnd;
// The download window, or null while none exists. Written on the UI thread, read by every thread
// that posts task updates, hence atomic.
extern std::atomic<HWND> g_hDownloadWnd;
