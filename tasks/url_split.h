// Splits a download URL into the parts WinHTTP asks for.
#pragma once

#include <cstdint>
#include <string>

struct UrlParts {
    std::wstring host;
    std::uint16_t port = 0;
    bool secure = false;
    std::wstring path;  // always starts with "/", query string included
};

// "scheme://host[:port][/path]". Only "http" (port 80) and "https" (secure, port 443) are known
// schemes, compared case-sensitively; any other scheme text means not secure on port 443. False
// when there is no "://" or the port is not a number from 0 to 65535.
bool SplitUrl(const std::wstring& url, UrlParts* parts);
