#include "tasks/http_download.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tasks/http_get.h"
#include "tasks/range_reply.h"
#include "tasks/url_split.h"

#include <winhttp.h>

#include <cstdio>
#include <vector>

namespace {

constexpr const wchar_t* kUserAgent = L"TarnDownloader/1.0";

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
    switch (ReadRangeReply(request.get(), status, offset, &announced)) {
        case RangeReply::Append:
            if (!MoveFilePointer(file.get(), offset)) {
                error = kWriteText;
                return false;
            }
            lengthKnown = true;
            break;
        case RangeReply::WholeBody:
            // With a range asked for, the whole body replaces what the earlier attempt left.
            if (offset > 0 && (!MoveFilePointer(file.get(), 0) || !SetEndOfFile(file.get()))) {
                error = kWriteText;
                return false;
            }
            offset = 0;
            break;
        case RangeReply::FileIsWhole:
            if (progress) {
                progress(100);
            }
            return true;
        case RangeReply::WrongRange:
            error = kWrongRangeText;
            return false;
        case RangeReply::Refused:
            error = FormatHttpStatusError(status);
            return false;
    }
    if (resume) {
        // A continued body keeps the validator it was asked for when the reply does not repeat it.
        const std::string seen = ReadResumeValidator(request.get());
        if (offset == 0 || !seen.empty()) {
            resume->validator = seen;
        }
        if (resume->validatorSeen) {
            resume->validatorSeen(resume->validator);
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
