// One synchronous WinHTTP GET, opened the same way by every download the program makes: session,
// connection and request, sent, and the response head received. The caller reads the body.
#pragma once

#include "base/unique_handle.h"

#include <cstdint>
#include <string>

// Where one request goes.
struct HttpGetTarget {
    std::wstring host;
    std::uint16_t port = 0;
    bool secure = false;
    std::wstring path;  // starts with "/", query string included
};

struct HttpGetOptions {
    const wchar_t* userAgent = nullptr;
    // False turns WinHTTP's own redirect handling off, so that every 3xx answer reaches the caller.
    bool followRedirects = true;
    // Applied only when `setTimeouts` is true; otherwise the library's defaults hold.
    bool setTimeouts = false;
    int resolveTimeoutMs = 0;
    int connectTimeoutMs = 0;
    int sendTimeoutMs = 0;
    int receiveTimeoutMs = 0;
    // Header lines sent besides WinHTTP's own, each ending in "\r\n"; empty: none.
    std::wstring extraHeaders;
};

// The handles of one request; they close in reverse order of opening.
struct HttpGet {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
    // The system error code of the step that failed; 0 when none failed.
    std::uint32_t failure = 0;
};

// The step at which OpenHttpGet stopped; Received when the response head is there.
enum class HttpGetStep { Session, Connect, OpenRequest, SetOptions, Send, Receive, Received };

// Opens the session, connects, opens the request, applies the options, sends it and receives the
// response head. WinHTTP opens the network connection during the send, so an unknown host or a
// refused connection stops at Send. What was opened stays in *get for the caller to close.
HttpGetStep OpenHttpGet(const HttpGetTarget& target, const HttpGetOptions& options, HttpGet* get);

// The response's status code; 0 when it cannot be read.
std::uint32_t QueryStatusCode(HINTERNET request);

// The text of the header WinHTTP reads for `infoLevel` (a WINHTTP_QUERY_* value); false when the
// response has none.
bool QueryHeaderText(HINTERNET request, std::uint32_t infoLevel, std::wstring* text);

// The Content-Length header, read as text because the numeric form of the query is 32 bits wide.
// False when the header is absent or not a plain decimal number.
bool QueryContentLength(HINTERNET request, std::uint64_t* length);
