// The program's one visible top-level window: settings strip, web page area and task list.
#pragma once

#include "base/win32.h"

constexpr const wchar_t* kDownloadWindowClass = L"TarnDownloadWnd";
// TARN_VERSION_TEXT is CMake's project version.
constexpr const wchar_t* kDownloadWindowTitle = L"橙帆素材库·下载助手 v" TARN_VERSION_TEXT;
// The first frame size of every window; downloader-only mode then shrinks it to its client size.
constexpr int kDownloadWindowWidth = 1602;
constexpr int kDownloadWindowHeight = 1000;
constexpr int kDownloaderOnlyClientWidth = 980;
constexpr int kDownloaderOnlyClientHeight = 200;

// Brings the download window forward, creating it when none exists. May be called from any thread:
// off the UI thread the request is posted to the tray window, which owns the UI thread.
void ShowDownloadWindow();

LRESULT CALLBACK DownloadWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Top-left corner that centres a width x height window in `workArea`; a coordinate that would be
// negative is 0.
POINT CentredWindowPosition(const RECT& workArea, int width, int height);
