// Fetches one URL into a local file with a single synchronous WinHTTP GET.
#pragma once

#include "tasks/progress_callback.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// Bytes gathered from several WinHTTP reads before one write and one progress report. Wine's
// WinHTTP hands data over in 8 KiB pieces; writing each piece on its own costs a third of the
// throughput.
constexpr std::uint32_t kDownloadBufferBytes = 65536;

// received * 100 / announced, truncated; 64-bit throughout so bodies of 4 GiB and more work.
int DownloadPercent(std::uint64_t received, std::uint64_t announced);

// What a download carries over from an earlier attempt at the same file, and what it leaves for
// the next one.
struct DownloadResume {
    DownloadResume() = default;
    explicit DownloadResume(std::string earlierValidator,
                            std::function<void(const std::string& validator)> onValidatorSeen = nullptr)
        : validator(std::move(earlierValidator)), validatorSeen(std::move(onValidatorSeen)) {}

    // In: the strong ETag, or else the Last-Modified date, of the body whose first bytes the file
    // holds; empty: the download starts from zero. Out: the same for the body now in the file,
    // empty when its server sent neither.
    std::string validator;
    // When set, called with `validator` as soon as the reply's head has set it, before the body is
    // read: a copy kept elsewhere while the body arrives lets a later run continue the file even if
    // this one never returns.
    std::function<void(const std::string& validator)> validatorSeen;
};

// Creates the file's directory if needed, creates or truncates the file and writes the response
// body into it. With a Content-Length the callback gets a rising percentage after every full
// buffer written and at the end; without one it gets a single 100 at the end. Returns false with
// a UTF-8 text in `error` when anything fails, including an HTTP status outside 200-299, a 204 or
// 205 (no body), a failed or short write, a connection that breaks, and a body shorter than its
// Content-Length. A file created before the failure stays on disk.
//
// With `resume` carrying a validator and a non-empty file at the path, the file is kept and the
// request asks for the rest ("Range: bytes=<size>-" with "If-Range: <validator>"): a 206 whose
// Content-Range starts at the file's size and runs to the body's end is appended and the
// percentages count the bytes already there; a 200 (the body changed, or the server ignores
// ranges) replaces the file from its start; a 416 that names the file's size as the whole length
// means the file is complete. Any other reply fails and leaves the file as it was.
bool DownloadFile(const std::wstring& url, const std::wstring& filePath, ProgressCallback progress,
                  std::string& error, DownloadResume* resume = nullptr);
