// The window class of the browser's host window, a child of the web page area that the browser
// control fills.
#pragma once

constexpr const wchar_t* kWebHostClass = L"TarnWebHost";

// True when "TarnWebHost" is (or already was) registered by this process.
bool RegisterWebHostClass();
