// The window class of the browser's host window, a child of the web page area that the browser
// control fills.
#pragma once

constexpr const wchar_t* kWebHostClass = L"TarnWebHost";
// The host's id, and the id of the download window's web page area it lives in.
constexpr int kWebHostId = 2022;
constexpr int kWebPageAreaId = 2025;

// True when "TarnWebHost" is (or already was) registered by this process.
bool RegisterWebHostClass();
