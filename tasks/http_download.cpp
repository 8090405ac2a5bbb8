#include "tasks/http_download.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tasks/download_redirect.h"
#include "tasks/http_get.h"
#include "tasks/range_reply.h"
#include "tasks/url_split.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* kInvalidUrlText = "Invalid URL format";
constexpr const char* kCreateFileText = "Failed to create local file";
constexpr const char* kInterruptedText = "Connection lost during download";
constexpr const char* kWriteText = "Failed to write local file";
constexpr const char* kDiskFullText = "Not enough disk space";
constexpr const char* kStalledText = "Download stalled";
constexpr const char* kTooLargeText = "Download too large";
constexpr const char* kWrongRangeText = "Server sent a range that does not continue the file";
// A Retry-After of more digits than this is no number of seconds worth waiting for.
constexpr size_t kMaxRetryAfterDigits = 9;
// A download reads this much while the data trickles, and twice as much after each read that took
// less than kFastReadMs, up to its buffer. One byte, because a read returns only once it is full:
// any more and a server sending a byte now and then could hold one read far past the stall window.
constexpr DWORD kSlowReadBytes = 1;
constexpr ULONGLONG kFastReadMs = 100;

// A body that brings less than kStallBytes in any kStallWindowMs is given up; what arrived stays
// for a resume. A connection that sends nothing at all ends sooner, at WinHTTP's receive time-out.
constexpr std::uint64_t kStallBytes = 1024;
constexpr ULONGLONG kDefaultStallWindowMs = 60 * 1000;
// Requests made for one file: the first, and one more when a range reply turns out not to continue
// the bytes on disk.
constexpr int kMaxRequestsPerFile = 2;

ULONGLONG g_stallWindowMs = kDefaultStallWindowMs;

std::string FormatHttpStatusError(DWORD status) {
    wchar_t text[64] = {};
    swprintf(text, sizeof(text) / sizeof(text[0]), L"HTTP %d error", static_cast<int>(status));
    return WideToUtf8(text);
}

std::string FormatShortBodyError(std::uint64_t received, std::uint64_t announced) {
    char text[128] = {};
    std::snprintf(text, sizeof(text), "Incomplete download: received %llu of %llu bytes",
                  static_cast<unsigned long long>(received), static_cast<unsigned long long>(announced));
    return text;
}

// Statuses a server gives for a passing condition (time-out, too many requests, a server error
// behind it or an overload).
bool IsPassingStatus(DWORD status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// A reset or timed-out connection may pass; a refused connection or an unknown host name will not.
bool IsPassingNetworkError(std::uint32_t code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == ERROR_WINHTTP_CONNECTION_ERROR;
}

// Retry-After as a number of seconds; its date form and anything unreadable count as none.
std::uint32_t QueryRetryAfterSeconds(HINTERNET request) {
    std::wstring text;
    if (!QueryHeaderText(request, WINHTTP_QUERY_RETRY_AFTER, &text) || text.empty() ||
        text.size() > kMaxRetryAfterDigits) {
        return 0;
    }
    std::uint32_t seconds = 0;
    for (const wchar_t ch : text) {
        if (ch < L'0' || ch > L'9') {
            return 0;
        }
        seconds = seconds * 10 + static_cast<std::uint32_t>(ch - L'0');
    }
    return seconds;
}

bool MoveFilePointer(HANDLE file, std::uint64_t position) {
    LARGE_INTEGER target = {};
    target.QuadPart = static_cast<LONGLONG>(position);
    if (!SetFilePointerEx(file, target, nullptr, FILE_BEGIN)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: cannot move to %llu (%lu)", static_cast<unsigned long long>(position),
                   lastError);
        return false;
    }
    return true;
}

// A write the disk had no room for is worth its own text: the user can free space and retry.
const char* WriteFailureText(DWORD lastError) {
    return lastError == ERROR_DISK_FULL || lastError == ERROR_HANDLE_DISK_FULL ? kDiskFullText : kWriteText;
}

// Counts the bytes of the current stall window; true while the body moves fast enough.
class StallWatch {
  public:
    StallWatch() : windowStart_(GetTickCount64()) {}
    bool Add(std::uint64_t bytes) {
        const ULONGLONG now = GetTickCount64();
        if (now - windowStart_ > g_stallWindowMs) {
            return false;
        }
        windowBytes_ += bytes;
        if (windowBytes_ >= kStallBytes) {
            windowStart_ = now;
            windowBytes_ = 0;
        }
        return true;
    }

  private:
    ULONGLONG windowStart_;
    std::uint64_t windowBytes_ = 0;
};

// The body after the head: how much is in the file already and what the reply announced.
struct BodyState {
    std::uint64_t received = 0;
    std::uint64_t announced = 0;
    bool lengthKnown = false;
};

// Reads the body into `file`, 64 KiB per write.
//
// Wine's WinHttpReadData waits until it has all it asked for or the body ends, and asking first
// with WinHttpQueryDataAvailable made Wine 8's WinHTTP write past the buffer after a reset
// connection. So the read size follows the data: a read that came back quickly is followed by one
// twice as large, up to the buffer; a slow one by a read of kSlowReadBytes. A trickling server then
// hands over each piece as it comes, so a stall, a cancel and the exit are all noticed in time.
bool ReceiveBody(HINTERNET request, HANDLE file, const ProgressCallback& progress, BodyState& body,
                 DownloadResume* resume, std::string& error) {
    const unsigned long long cap = GetConfig().maxDownloadBytes;
    const std::atomic<bool>* cancel = resume ? resume->cancel : nullptr;
    std::vector<char> buffer(kDownloadBufferBytes);
    DWORD filled = 0;
    DWORD readSize = kSlowReadBytes;
    StallWatch stall;
    // Writes what the buffer holds and reports once; the report follows the write so that a
    // percentage never counts bytes that are not on disk.
    auto flush = [&]() -> bool {
        if (!WriteFileFully(file, buffer.data(), filled)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadFile: write failed (%lu)", lastError);
            error = WriteFailureText(lastError);
            return false;
        }
        filled = 0;
        if (progress && body.lengthKnown && body.announced != 0) {
            progress(DownloadPercent(body.received, body.announced));
        }
        return true;
    };
    for (;;) {
        const DWORD want = std::min<DWORD>(readSize, kDownloadBufferBytes - filled);
        const ULONGLONG readStart = GetTickCount64();
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data() + filled, want, &got)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadFile: connection lost after %llu bytes (%lu)",
                       static_cast<unsigned long long>(body.received), lastError);
            // What arrived before the break is kept, so that a retry asks only for the rest.
            if (filled > 0 && !flush()) {
                return false;
            }
            error = kInterruptedText;
            if (resume) {
                resume->transient = true;
            }
            return false;
        }
        if (got == 0) {
            return filled == 0 || flush();
        }
        const bool fast = GetTickCount64() - readStart < kFastReadMs;
        readSize = fast ? std::min<DWORD>(readSize * 2, kDownloadBufferBytes) : kSlowReadBytes;
        // The program's exit waits for workers only briefly; a download notices it between reads.
        if (IsExitStarted()) {
            error = kDownloadStoppedText;
            return false;
        }
        filled += got;
        body.received += got;
        // A stopped download keeps every byte it received, so that a retry asks only for the rest.
        if (cancel && cancel->load()) {
            if (flush()) {
                error = kDownloadCancelledText;
            }
            return false;
        }
        if (!body.lengthKnown && body.received > cap) {
            error = kTooLargeText;
            return false;
        }
        if (!stall.Add(got)) {
            flush();  // what arrived is kept for a resume
            error = kStalledText;
            return false;
        }
        if (filled == kDownloadBufferBytes && !flush()) {
            return false;
        }
    }
}

}  // namespace

int DownloadPercent(std::uint64_t received, std::uint64_t announced) {
    if (announced == 0) {
        return 100;
    }
    if (received >= announced) {
        return 100;
    }
    // The product overflows only for counts above 2^57 bytes; dividing first keeps those close
    // enough, and below 100 until the end.
    if (received > UINT64_MAX / 100) {
        const std::uint64_t percent = received / (announced / 100);
        return percent > 99 ? 99 : static_cast<int>(percent);
    }
    return static_cast<int>(received * 100 / announced);
}

namespace {

// Opens the file for writing, creating its directory. A resumable file is opened without
// truncating: until a reply says otherwise, its bytes are the only copy of what an earlier attempt
// received; *offset is then its size.
bool OpenDownloadFile(const std::wstring& filePath, bool mayResume, UniqueFile* file, std::uint64_t* offset) {
    const size_t lastSeparator = filePath.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos) {
        CreateDirectoryRecursive(filePath.substr(0, lastSeparator));
    }
    file->reset(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr,
                            mayResume ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!*file) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: cannot create %ls (%lu)", filePath.c_str(), lastError);
        return false;
    }
    *offset = 0;
    LARGE_INTEGER size = {};
    if (mayResume && GetFileSizeEx(file->get(), &size)) {
        *offset = static_cast<std::uint64_t>(size.QuadPart);
    }
    return true;
}

// Sends the request (for the rest of the file when asked.offset > 0) and reads its head into
// *body; on success the file is positioned where the body goes. A range reply that may belong to
// another body costs one more request, for the whole body.
RangeReply RequestBody(const UrlParts& parts, HANDLE file, RangeRequest asked, HttpGet* get, BodyState* body,
                       DownloadResume* resume, std::string& error) {
    const bool fileHasBytes = asked.offset > 0;
    for (int sent = 1;; ++sent) {
        HttpGetOptions options;
        options.userAgent = kDownloadUserAgent;
        if (asked.offset > 0) {
            options.extraHeaders = L"Range: bytes=" + std::to_wstring(asked.offset) + L"-\r\nIf-Range: " +
                                   Utf8ToWide(asked.validator) + L"\r\n";
        }
        *get = HttpGet();
        if (const char* failure = OpenDownloadRequest(parts, options, get)) {
            error = failure;
            if (resume) {
                resume->transient = IsPassingNetworkError(get->failure);
            }
            return RangeReply::Refused;
        }
        const std::uint32_t status = QueryStatusCode(get->request.get());
        body->lengthKnown = QueryContentLength(get->request.get(), &body->announced);
        const RangeReply reply = ReadRangeReply(get->request.get(), status, asked, &body->announced);
        if (reply == RangeReply::StartOver && sent < kMaxRequestsPerFile) {
            asked = RangeRequest();
            continue;
        }
        if (reply == RangeReply::Append) {
            body->lengthKnown = true;
            body->received = asked.offset;
            if (!MoveFilePointer(file, asked.offset)) {
                error = kWriteText;
                return RangeReply::Refused;
            }
        } else if (reply == RangeReply::WholeBody) {
            // The whole body replaces whatever an earlier attempt left.
            if (fileHasBytes && (!MoveFilePointer(file, 0) || !SetEndOfFile(file))) {
                error = kWriteText;
                return RangeReply::Refused;
            }
        } else if (reply == RangeReply::WrongRange) {
            error = kWrongRangeText;
        } else if (reply != RangeReply::FileIsWhole) {
            error = FormatHttpStatusError(status);
            if (resume && IsPassingStatus(status)) {
                resume->transient = true;
                resume->retryAfterSeconds = QueryRetryAfterSeconds(get->request.get());
            }
        }
        return reply;
    }
}

}  // namespace

bool DownloadFile(const std::wstring& url, const std::wstring& filePath, ProgressCallback progress,
                  std::string& error, DownloadResume* resume) {
    if (resume) {
        resume->transient = false;
        resume->retryAfterSeconds = 0;
    }
    UrlParts parts;
    if (!SplitUrl(url, &parts)) {
        error = kInvalidUrlText;
        return false;
    }
    RangeRequest asked;
    if (resume && !resume->validator.empty() && resume->total > 0) {
        asked.validator = resume->validator;
        asked.total = resume->total;
    }
    UniqueFile file;
    if (!OpenDownloadFile(filePath, !asked.validator.empty(), &file, &asked.offset)) {
        error = kCreateFileText;
        return false;
    }
    HttpGet get;
    BodyState body;
    const RangeReply reply = RequestBody(parts, file.get(), asked, &get, &body, resume, error);
    if (reply == RangeReply::FileIsWhole) {
        if (progress) {
            progress(100);
        }
        return true;
    }
    if (reply != RangeReply::Append && reply != RangeReply::WholeBody) {
        return false;
    }
    if (resume && reply == RangeReply::WholeBody) {
        // A retry may continue this body only when its whole length is known to check against.
        const std::string seen = ReadResumeValidator(get.request.get());
        resume->validator = body.lengthKnown ? seen : std::string();
        resume->total = body.lengthKnown ? body.announced : 0;
    }
    if (resume && resume->validatorSeen) {
        resume->validatorSeen(resume->validator, resume->total);
    }
    if (body.received > 0 && progress) {
        progress(DownloadPercent(body.received, body.announced));
    }
    if (!ReceiveBody(get.request.get(), file.get(), progress, body, resume, error)) {
        return false;
    }
    if (body.lengthKnown && body.received != body.announced) {
        error = FormatShortBodyError(body.received, body.announced);
        if (resume) {
            resume->transient = body.received < body.announced;
        }
        return false;
    }
    if (progress && (!body.lengthKnown || body.announced == 0)) {
        progress(100);
    }
    return true;
}

void SetDownloadStallWindowForTesting(unsigned milliseconds) {
    g_stallWindowMs = milliseconds ? milliseconds : kDefaultStallWindowMs;
}
