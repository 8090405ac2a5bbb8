#include "tasks/http_download.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tasks/http_get.h"
#include "tasks/url_split.h"

#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

constexpr const wchar_t* kUserAgent = L"TarnDownloader/1.0";
// Only a 2xx reply carries the file. A redirect WinHTTP hands back instead of following (its
// default policy refuses https to http) must not be saved as the archive, nor a 204 or 205, which
// by definition carry no body.
constexpr DWORD kFirstSuccessStatus = 200;
constexpr DWORD kLastSuccessStatus = 299;
constexpr DWORD kNoContentStatus = 204;
constexpr DWORD kResetContentStatus = 205;
constexpr DWORD kPartialContentStatus = 206;
constexpr DWORD kRangeNotSatisfiableStatus = 416;
// Longest ETag or date kept for the next attempt; a longer one is not used.
constexpr size_t kMaxValidatorChars = 256;

constexpr const char* kInvalidUrlText = "Invalid URL format";
constexpr const char* kCreateFileText = "Failed to create local file";
constexpr const char* kSessionText = "Failed to create HTTP session";
constexpr const char* kConnectText = "Connection failed";
constexpr const char* kOpenRequestText = "Request creation failed";
constexpr const char* kSendText = "Request send failed";
constexpr const char* kReceiveText = "Response receive failed";
constexpr const char* kInterruptedText = "Connection lost during download";
constexpr const char* kWriteText = "Failed to write local file";
constexpr const char* kStoppedText = "Download stopped: the program is ending";
constexpr const char* kWrongRangeText = "Server sent a range that does not continue the file";

// "bytes <first>-<last>/<total>", "bytes <first>-<last>/*" or "bytes */<total>".
struct ContentRange {
    bool hasFirst = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool hasTotal = false;
    std::uint64_t total = 0;
};

// Reads decimal digits at *p into *value; false when there are none or too many for 64 bits.
bool ReadNumber(const wchar_t*& p, std::uint64_t* value) {
    constexpr int kMaxDigits = 19;
    int digits = 0;
    std::uint64_t number = 0;
    while (*p >= L'0' && *p <= L'9') {
        if (++digits > kMaxDigits) {
            return false;
        }
        number = number * 10 + static_cast<std::uint64_t>(*p - L'0');
        ++p;
    }
    *value = number;
    return digits > 0;
}

bool ParseContentRange(const std::wstring& text, ContentRange* range) {
    const wchar_t* p = text.c_str();
    if (wcsncmp(p, L"bytes ", 6) != 0) {
        return false;
    }
    p += 6;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ReadNumber(p, &range->first) || *p != L'-') {
            return false;
        }
        ++p;
        if (!ReadNumber(p, &range->last) || range->last < range->first) {
            return false;
        }
        range->hasFirst = true;
    }
    if (*p != L'/') {
        return false;
    }
    ++p;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ReadNumber(p, &range->total)) {
            return false;
        }
        range->hasTotal = true;
    }
    return *p == L'\0' && (range->hasFirst || range->hasTotal);
}

// A validator goes back to the server in a header of its own, so only printable ASCII is kept: a
// line break in it would let a server make the program send headers of its choosing.
bool IsSafeValidator(const std::wstring& text) {
    if (text.empty() || text.size() > kMaxValidatorChars) {
        return false;
    }
    for (const wchar_t ch : text) {
        if (ch < 0x20 || ch > 0x7E) {
            return false;
        }
    }
    return true;
}

// If-Range takes only a strong entity tag; a weak one ("W/...") is a reason to use the date.
std::string ReadValidator(HINTERNET request) {
    std::wstring text;
    if (QueryHeaderText(request, WINHTTP_QUERY_ETAG, &text) && text.rfind(L"W/", 0) != 0 &&
        IsSafeValidator(text)) {
        return WideToUtf8(text);
    }
    if (QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED, &text) && IsSafeValidator(text)) {
        return WideToUtf8(text);
    }
    return std::string();
}

// The steps of opening the request carry the texts this download has always reported.
const char* OpenFailureText(HttpGetStep step) {
    switch (step) {
        case HttpGetStep::Session:
            return kSessionText;
        case HttpGetStep::Connect:
            return kConnectText;
        case HttpGetStep::Send:
            return kSendText;
        case HttpGetStep::Receive:
            return kReceiveText;
        default:
            return kOpenRequestText;
    }
}

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

bool DownloadFile(const std::wstring& url, const std::wstring& filePath, ProgressCallback progress,
                  std::string& error, DownloadResume* resume) {
    UrlParts parts;
    if (!SplitUrl(url, &parts)) {
        error = kInvalidUrlText;
        return false;
    }

    const size_t lastSeparator = filePath.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos) {
        CreateDirectoryRecursive(filePath.substr(0, lastSeparator));
    }
    // A resumable file is opened without truncating: until the reply says otherwise, its bytes are
    // the only copy of what an earlier attempt received.
    const bool mayResume = resume && !resume->validator.empty();
    UniqueFile file(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr,
                                mayResume ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: cannot create %ls (%lu)", filePath.c_str(), lastError);
        error = kCreateFileText;
        return false;
    }
    std::uint64_t offset = 0;
    if (mayResume) {
        LARGE_INTEGER size = {};
        if (GetFileSizeEx(file.get(), &size)) {
            offset = static_cast<std::uint64_t>(size.QuadPart);
        }
    }

    HttpGet get;
    HttpGetOptions options;
    options.userAgent = kUserAgent;
    if (offset > 0) {
        options.extraHeaders = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " +
                               Utf8ToWide(resume->validator) + L"\r\n";
    }
    const HttpGetStep step = OpenHttpGet({parts.host, parts.port, parts.secure, parts.path}, options, &get);
    if (step != HttpGetStep::Received) {
        error = OpenFailureText(step);
        return false;
    }
    const UniqueInternet& request = get.request;
    const DWORD status = QueryStatusCode(request.get());
    std::uint64_t announced = 0;
    bool lengthKnown = QueryContentLength(request.get(), &announced);
    if (offset > 0 && status == kPartialContentStatus) {
        ContentRange range;
        std::wstring rangeText;
        if (!QueryHeaderText(request.get(), WINHTTP_QUERY_CONTENT_RANGE, &rangeText) ||
            !ParseContentRange(rangeText, &range) || !range.hasFirst || range.first != offset ||
            (range.hasTotal && range.last + 1 != range.total) ||
            (lengthKnown && announced != range.last + 1 - range.first)) {
            error = kWrongRangeText;
            return false;
        }
        LARGE_INTEGER end = {};
        end.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN)) {
            error = kWriteText;
            return false;
        }
        lengthKnown = true;
        announced = range.last + 1;
    } else if (offset > 0 && status == kRangeNotSatisfiableStatus) {
        ContentRange range;
        std::wstring rangeText;
        if (!QueryHeaderText(request.get(), WINHTTP_QUERY_CONTENT_RANGE, &rangeText) ||
            !ParseContentRange(rangeText, &range) || range.hasFirst || !range.hasTotal ||
            range.total != offset) {
            error = FormatHttpStatusError(status);
            return false;
        }
        if (progress) {
            progress(100);
        }
        return true;
    } else if (status < kFirstSuccessStatus || status > kLastSuccessStatus || status == kNoContentStatus ||
               status == kResetContentStatus) {
        error = FormatHttpStatusError(status);
        return false;
    } else if (offset > 0) {
        // The whole body comes again: it replaces what the earlier attempt left.
        const LARGE_INTEGER start = {};
        if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
            error = kWriteText;
            return false;
        }
        offset = 0;
    }
    if (resume) {
        const std::string seen = ReadValidator(request.get());
        if (offset == 0 || !seen.empty()) {
            resume->validator = seen;
        }
    }

    std::vector<char> buffer(kDownloadBufferBytes);
    DWORD filled = 0;
    // Counts the bytes in the file, those of an earlier attempt included, so that the percentage
    // goes on from where that attempt stopped.
    std::uint64_t received = offset;
    if (offset > 0 && progress) {
        progress(DownloadPercent(received, announced));
    }
    // Writes what the buffer holds and reports once; the report follows the write so that a
    // percentage never counts bytes that are not on disk.
    auto flush = [&]() -> bool {
        if (!WriteFileFully(file.get(), buffer.data(), filled)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadFile: write failed (%lu)", lastError);
            return false;
        }
        filled = 0;
        if (progress && lengthKnown && announced != 0) {
            progress(DownloadPercent(received, announced));
        }
        return true;
    };

    // WinHttpReadData blocks until some data is there and returns what it has (8 KiB pieces under
    // Wine), so reading straight into the free part of the buffer needs no separate
    // WinHttpQueryDataAvailable call per piece; 0 bytes is the end of the body.
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data() + filled, kDownloadBufferBytes - filled, &got)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadFile: connection lost after %llu bytes (%lu)",
                       static_cast<unsigned long long>(received), lastError);
            error = kInterruptedText;
            return false;
        }
        if (got == 0) {
            break;
        }
        // The program's exit waits for workers only briefly; a download notices it between reads.
        if (IsExitStarted()) {
            error = kStoppedText;
            return false;
        }
        filled += got;
        received += got;
        if (filled == kDownloadBufferBytes && !flush()) {
            error = kWriteText;
            return false;
        }
    }
    if (filled > 0 && !flush()) {
        error = kWriteText;
        return false;
    }
    if (lengthKnown && received != announced) {
        error = FormatShortBodyError(received, announced);
        return false;
    }
    if (progress && (!lengthKnown || announced == 0)) {
        progress(100);
    }
    return true;
}
