// The web page area: the browser's parent inside the download window.
#pragma once

#include "base/win32.h"

constexpr const wchar_t* kWebPageClass = L"TarnWebPage";
// The page area's colour while no page covers it.
constexpr COLORREF kWebPageBackground = RGB(240, 240, 240);

LRESULT CALLBACK WebPageWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Registers "TarnWebPage" until one registration succeeded.
bool RegisterWebPageClass();
