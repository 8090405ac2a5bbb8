// The requests of one download, from its address through every redirect to the reply that carries
// the file. The program follows redirects itself, hop by hop, so that no hop can lead a download
// to the program's own API, where a request could make another task.
#pragma once

#include "tasks/http_get.h"
#include "tasks/url_split.h"

#include <cstdint>
#include <string>

// Every download request names itself so; the API refuses state-changing requests that carry it,
// since a host name can lead to the loopback without the address saying so.
constexpr const wchar_t* kDownloadUserAgent = L"TarnDownloader/1.0";
constexpr const char* kDownloadUserAgentUtf8 = "TarnDownloader/1.0";

// Redirects followed before a download gives up, as many as WinHTTP itself follows.
constexpr int kMaxDownloadRedirects = 10;

// The texts a download fails with before any body arrives.
constexpr const char* kOwnApiText = "Refused: the address is this program's own API";
constexpr const char* kTooManyRedirectsText = "Too many redirects";
constexpr const char* kBadRedirectText = "Invalid redirect address";
constexpr const char* kDownloadStoppedText = "Download stopped: the program is ending";

// True for a host that is a loopback or unspecified address in any form the system's resolver
// reads as one ("127.0.0.1", "127.1", "0x7f.1", "2130706433", "0.0.0.0", "[::1]", "[::]",
// "[::ffff:127.0.0.1]") and for the name "localhost"; a trailing "." changes nothing.
bool IsLoopbackOrUnspecifiedHost(const std::wstring& host);

// True when `address` is such a host on `apiPort`.
bool IsOwnApiAddress(const UrlParts& address, int apiPort);

// What a redirect's Location leads to from `current`.
enum class RedirectTarget {
    Follow,   // *next holds the address
    Keep,     // not followed (https to http): the redirect itself is the reply, as WinHTTP does
    Invalid,  // a Location that names no http or https address
};
RedirectTarget ResolveRedirect(const UrlParts& current, const std::wstring& location, UrlParts* next);

// Sends the request for `address` and for every redirect it leads to, until a reply is not a redirect
// to follow; *get then holds that reply. Each address, the first included, is refused when it is
// the program's own API (the port of the current settings). Returns nullptr on success, else the
// text the download fails with.
const char* OpenDownloadRequest(const UrlParts& address, const HttpGetOptions& options, HttpGet* get);
