// Fetches Microsoft's runtime bootstrapper into a file: follows the link service's redirects
// itself, reports progress after every read, and accepts only a file large enough to be the
// program.
#pragma once

#include "tasks/http_get.h"
#include "tasks/progress_callback.h"

#include <cstdint>
#include <string>

// Microsoft's public link to the runtime bootstrapper, requested over HTTPS.
constexpr const wchar_t* kWebView2LinkHost = L"go.microsoft.com";
constexpr const wchar_t* kWebView2LinkPath = L"/fwlink/?linkid=2124703";

// Requests in all, the first one included; the answer to the last may not be another redirect.
constexpr int kBootstrapperMaxRequests = 10;
// Anything smaller is an error page, not the program.
constexpr std::uint64_t kBootstrapperMinBytes = 100000;

// Downloads the bootstrapper into `path` (created or replaced). Statuses below 300 are the file,
// 300 to 399 redirects (see NextBootstrapperRequest), 400 and above failures. With a Content-Length
// `progress` gets the percentage whenever it rises; without one it gets (bytes / 1024) mod 100
// whenever that changes. False on any failure: a request that cannot be made, a refused or missing
// redirect, too many redirects, a read or write error, a body shorter than announced, the program's
// exit, or a file under kBootstrapperMinBytes, which is then deleted (a partial file of any other
// failure stays).
bool DownloadBootstrapper(const std::wstring& path, const ProgressCallback& progress);

// Test seam: where each request connects. It receives the request as the download means it (host,
// port 443 or 80, TLS flag, path) and returns where to send it. Null restores direct connections.
using BootstrapperConnectionMap = HttpGetTarget (*)(const HttpGetTarget& request);
void SetBootstrapperConnectionMapForTesting(BootstrapperConnectionMap map);
