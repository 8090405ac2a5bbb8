// The asset-library site the download window shows, fixed at build time by the CMake cache
// variable TARN_SITE_HOST_NAME (see README.md); the start page is derived from the host name.
#pragma once

#include <string>

#ifndef TARN_SITE_HOST_NAME
#define TARN_SITE_HOST_NAME "assets.tarn.example"
#endif

// The site's host name; its origin is the only web origin allowed to change state through the API,
// and a loaded page whose address contains it counts as the site.
constexpr const char* kSiteHostName = TARN_SITE_HOST_NAME;
constexpr const wchar_t* kSiteHostNameWide = L"" TARN_SITE_HOST_NAME;
// The site's start page (plain HTTP, path "/").
constexpr const wchar_t* kSiteStartUrl = L"http://" TARN_SITE_HOST_NAME L"/";

// True when `address` is an http or https address whose host is the site's host name or a
// subdomain of it (letters compared without case, any port). Only pages of the site may turn
// download links into tasks; a host name that merely appears elsewhere in the address does not count.
bool IsSitePageAddress(const std::wstring& address);
