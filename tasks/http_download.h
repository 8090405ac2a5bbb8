// Fetches one URL into a local file with a single synchronous WinHTTP GET.
#pragma once

#include "tasks/progress_callback.h"

#include <cstdint>
#include <string>

// Bytes gathered from several WinHTTP reads before one write and one progress report. Wine's
// WinHTTP hands data over in 8 KiB pieces; writing each piece on its own costs a third of the
// throughput.
constexpr std::uint32_t kDownloadBufferBytes = 65536;

// received * 100 / announced, truncated; 64-bit throughout so bodies of 4 GiB and more work.
int DownloadPercent(std::uint64_t received, std::uint64_t announced);

// Creates the file's directory if needed, creates or truncates the file and writes the response
// body into it. With a Content-Length the callback gets a rising percentage after every full
// buffer written and at the end; without one it gets a single 100 at the end. Returns false with
// a UTF-8 text in `error` when anything fails, including an HTTP status outside 200-299, a 204 or
// 205 (no body), a failed or short write, a connection that breaks, and a body shorter than its
// Content-Length. A file created before the failure stays on disk.
bool DownloadFile(const std::wstring& url, const std::wstring& filePath, ProgressCallback progress,
                  std::string& error);
