// The asset-library site the download window shows, fixed at build time.
#pragma once

// The site's start page (plain HTTP, path "/").
constexpr const wchar_t* kSiteStartUrl = L"http://assets.tarn.example/";
// The site's host name; its origin is the only web origin allowed to change state through the API.
constexpr const char* kSiteHostName = "assets.tarn.example";
