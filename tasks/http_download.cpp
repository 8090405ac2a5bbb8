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
                  std::string& error) {
    UrlParts parts;
    if (!SplitUrl(url, &parts)) {
        error = kInvalidUrlText;
        return false;
    }

    const size_t lastSeparator = filePath.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos) {
        CreateDirectoryRecursive(filePath.substr(0, lastSeparator));
    }
    UniqueFile file(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: cannot create %ls (%lu)", filePath.c_str(), lastError);
        error = kCreateFileText;
        return false;
    }

    HttpGet get;
    HttpGetOptions options;
    options.userAgent = kUserAgent;
    const HttpGetStep step = OpenHttpGet({parts.host, parts.port, parts.secure, parts.path}, options, &get);
    if (step != HttpGetStep::Received) {
        error = OpenFailureText(step);
        return false;
    }
    const UniqueInternet& request = get.request;
    const DWORD status = QueryStatusCode(request.get());
    if (status < kFirstSuccessStatus || status > kLastSuccessStatus || status == kNoContentStatus ||
        status == kResetContentStatus) {
        error = FormatHttpStatusError(status);
        return false;
    }
    std::uint64_t announced = 0;
    const bool lengthKnown = QueryContentLength(request.get(), &announced);

    std::vector<char> buffer(kDownloadBufferBytes);
    DWORD filled = 0;
    std::uint64_t received = 0;
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
