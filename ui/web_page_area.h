// The web page area (the browser's parent inside the download window) and the browser host class.
#pragma once

#include "app/win32.h"

constexpr const wchar_t* kWebPageClass = L"TarnWebPage";
constexpr const wchar_t* kWebHostClass = L"TarnWebHost";
// The page area's colour while no page covers it.
constexpr COLORREF kWebPageBackground = RGB(240, 240, 240);

LRESULT CALLBACK WebPageWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Registers "TarnWebPage" until one registration succeeded.
bool RegisterWebPageClass();
// True when "TarnWebHost" is (or already was) registered by this process.
bool RegisterWebHostClass();
