#include "tasks/http_download.h"

#include "base/debug_trace.h"
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"
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
// Content-Length as text: up to 20 decimal digits of a 64-bit count, plus the terminator.
constexpr DWORD kLengthTextChars = 32;

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

DWORD QueryStatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}

// The numeric form of this query is 32 bits wide, so the header is read as text. False when the
// header is absent or not a plain decimal number.
bool QueryContentLength(HINTERNET request, std::uint64_t* length) {
    wchar_t text[kLengthTextChars] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    std::uint64_t value = 0;
    int digits = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p == L' ' && digits == 0) {
            continue;
        }
        if (*p < L'0' || *p > L'9' || digits >= 19) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    *length = value;
    return true;
}

// WriteFile may write less than asked (a full disk); anything short of all is a failure.
bool WriteAll(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
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

    UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        error = kSessionText;
        return false;
    }
    UniqueInternet connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    if (!connection) {
        error = kConnectText;
        return false;
    }
    UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", parts.path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        error = kOpenRequestText;
        return false;
    }
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: send failed (%lu)", lastError);
        error = kSendText;
        return false;
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadFile: receive failed (%lu)", lastError);
        error = kReceiveText;
        return false;
    }
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
        if (!WriteAll(file.get(), buffer.data(), filled)) {
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
