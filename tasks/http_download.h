// Fetches one URL into a local file with a single synchronous WinHTTP GET.
#pragma once

#include "tasks/download_redirect.h"
#include "tasks/progress_callback.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// Bytes gathered from several WinHTTP reads before one write and one progress report. Wine's
// WinHTTP hands data over in 8 KiB pieces; writing each piece on its own costs a third of the
// throughput.
constexpr std::uint32_t kDownloadBufferBytes = 65536;

// The error of a download the user stopped.
constexpr const char* kDownloadCancelledText = "已取消";

// received * 100 / announced, truncated; 64-bit throughout so bodies of 4 GiB and more work.
int DownloadPercent(std::uint64_t received, std::uint64_t announced);

// What a download carries over from an earlier attempt at the same file, and what it leaves for
// the next one.
struct DownloadResume {
    DownloadResume() = default;
    DownloadResume(std::string earlierValidator, std::uint64_t earlierTotal)
        : validator(std::move(earlierValidator)), total(earlierTotal) {}

    // In: the strong ETag, or else the Last-Modified date, of the body whose first bytes the file
    // holds; empty: the download starts from zero. Out: the same for the body now in the file,
    // empty when its server sent neither.
    std::string validator;
    // In and out with the validator: the body's whole length as first seen; a retry continues the
    // file only with the same validator and the same length. 0: not known, the file starts over.
    std::uint64_t total = 0;
    // In: when it turns true the download stops after its current read with
    // kDownloadCancelledText, keeping the bytes already written. Null: it cannot be stopped.
    const std::atomic<bool>* cancel = nullptr;
    // Out, after a failure: true when the same request may well succeed later (the connection was
    // reset or timed out, the body ended early, or the server answered 408, 429, 500, 502, 503 or
    // 504), with the server's Retry-After in seconds (0: it named none).
    bool transient = false;
    std::uint32_t retryAfterSeconds = 0;
    // When set, called with `validator` and `total` as soon as the reply's head has set them, before
    // the body is read: a copy kept elsewhere while the body arrives lets a later run continue the
    // file even if this one never returns.
    std::function<void(const std::string& validator, std::uint64_t total)> validatorSeen;
};

// Creates the file's directory if needed, creates or truncates the file and writes the response
// body into it. With a Content-Length the callback gets a rising percentage after every full
// buffer written and at the end; without one it gets a single 100 at the end. Returns false with
// a UTF-8 text in `error` when anything fails, including an HTTP status outside 200-299, a 204 or
// 205 (no body), a failed or short write, a connection that breaks, and a body shorter than its
// Content-Length. A file created before the failure stays on disk.
//
// The request goes to the address and then, hop by hop, to where each redirect leads (at most
// kMaxDownloadRedirects); an address that is the program's own API is refused, first or any hop.
// A body without a Content-Length stops at the settings' MaxDownloadBytes ("Download too large");
// one that brings less than 1 KiB in a minute fails as "Download stalled"; a write the disk has no
// room for fails as "Not enough disk space". The file keeps what was written in each case.
//
// With `resume` carrying a validator and a total and a non-empty file at the path, the file is
// kept and the request asks for the rest ("Range: bytes=<size>-" with "If-Range: <validator>"): a
// 206 of the same validator and total whose Content-Range starts at the file's size and runs to
// the body's end is appended and the percentages count the bytes already there; a 200 (the body
// changed, or the server ignores ranges) replaces the file from its start; a 416 that names the
// file's size as the whole length, that total, means the file is complete. A 206 or 416 that may
// be of another body (another validator, another or no total) is followed by one request for the
// whole body, which replaces the file only once it arrives. A 206 whose range does not continue
// the file, and any other reply, fail and leave the file as it was.
bool DownloadFile(const std::wstring& url, const std::wstring& filePath, ProgressCallback progress,
                  std::string& error, DownloadResume* resume = nullptr);

// Test seam: the span in which a download must bring 1 KiB; 0 restores the minute.
void SetDownloadStallWindowForTesting(unsigned milliseconds);
