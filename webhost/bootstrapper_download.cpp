#include "webhost/bootstrapper_download.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/program_exit.h"
#include "tasks/http_download.h"
#include "webhost/bootstrapper_redirect.h"

#include <winhttp.h>

#include <algorithm>
#include <vector>

namespace {

constexpr const wchar_t* kUserAgent = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;
constexpr std::uint16_t kSecurePort = 443;
constexpr std::uint16_t kPlainPort = 80;
constexpr std::uint32_t kFirstRedirectStatus = 300;
constexpr std::uint32_t kFirstErrorStatus = 400;
// The Location header is read into this many bytes; a longer one counts as missing.
constexpr DWORD kLocationBytes = 4096;
constexpr DWORD kReadBytes = 65536;
// Without a Content-Length the figure counts KiB and wraps after 99.
constexpr std::uint64_t kUnknownLengthStepBytes = 1024;
constexpr std::uint64_t kUnknownLengthSteps = 100;

HttpGetTarget ConnectDirectly(const HttpGetTarget& request) {
    return request;
}

BootstrapperConnectionMap g_connectionMap = ConnectDirectly;

// Decides which progress figures reach the caller: with a known length only rising percentages,
// without one every change of the KiB count modulo 100.
class ProgressReports {
  public:
    ProgressReports(const ProgressCallback& progress, bool lengthKnown, std::uint64_t total)
        : progress_(progress), lengthKnown_(lengthKnown), total_(total) {}

    void Written(std::uint64_t count) {
        int percent = 0;
        if (lengthKnown_) {
            percent = DownloadPercent(count, total_);
            if (percent <= last_) {
                return;
            }
        } else {
            percent = static_cast<int>((count / kUnknownLengthStepBytes) % kUnknownLengthSteps);
            if (percent == last_ || count == 0) {
                return;
            }
        }
        last_ = percent;
        if (progress_) {
            progress_(percent);
        }
    }

  private:
    const ProgressCallback& progress_;
    bool lengthKnown_;
    std::uint64_t total_;
    int last_ = -1;
};

bool QueryLocation(HINTERNET request, std::wstring* location) {
    wchar_t text[kLocationBytes / sizeof(wchar_t)] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    location->assign(text, size / sizeof(wchar_t));
    return !location->empty();
}

HttpGetOptions RequestOptions() {
    HttpGetOptions options;
    options.userAgent = kUserAgent;
    // WinHTTP would follow most redirects by itself, to the port a Location names and past the
    // limit; every hop must pass the redirect rule here instead.
    options.followRedirects = false;
    options.setTimeouts = true;
    options.resolveTimeoutMs = kResolveTimeoutMs;
    options.connectTimeoutMs = kConnectTimeoutMs;
    options.sendTimeoutMs = kSendTimeoutMs;
    options.receiveTimeoutMs = kReceiveTimeoutMs;
    return options;
}

// Sends requests, from the link onwards, until one answers with the file; *get then holds it.
bool RequestFile(HttpGet* get) {
    const HttpGetOptions options = RequestOptions();
    BootstrapperRequest current{kWebView2LinkHost, kWebView2LinkPath, true};
    for (int sent = 1;; ++sent) {
        HttpGet attempt;
        const HttpGetTarget target = g_connectionMap(
            {current.host, current.secure ? kSecurePort : kPlainPort, current.secure, current.path});
        if (OpenHttpGet(target, options, &attempt) != HttpGetStep::Received) {
            return false;
        }
        const std::uint32_t status = QueryStatusCode(attempt.request.get());
        if (status < kFirstRedirectStatus) {
            *get = std::move(attempt);
            return true;
        }
        if (status >= kFirstErrorStatus) {
            DebugTrace(L"DownloadBootstrapper: status %u from %ls", status, current.host.c_str());
            return false;
        }
        std::wstring location;
        if (!QueryLocation(attempt.request.get(), &location)) {
            DebugTrace(L"DownloadBootstrapper: redirect %u without a Location", status);
            return false;
        }
        if (sent >= kBootstrapperMaxRequests) {
            DebugTrace(L"DownloadBootstrapper: still redirected after %d requests", sent);
            return false;
        }
        BootstrapperRequest next;
        if (!NextBootstrapperRequest(current, location, &next)) {
            DebugTrace(L"DownloadBootstrapper: redirect to %ls refused", location.c_str());
            return false;
        }
        if (IsExitStarted()) {
            return false;
        }
        current = next;
    }
}

// Reads the body into `file`, one available piece of at most kReadBytes at a time.
bool WriteBody(HINTERNET request, HANDLE file, const ProgressCallback& progress) {
    std::uint64_t total = 0;
    const bool lengthKnown = QueryContentLength(request, &total) && total > 0;
    ProgressReports reports(progress, lengthKnown, total);
    std::vector<char> buffer(kReadBytes);
    std::uint64_t count = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadBootstrapper: connection lost after %llu bytes (%lu)",
                       static_cast<unsigned long long>(count), lastError);
            return false;
        }
        if (available == 0) {
            break;
        }
        // The program's exit waits for workers only briefly; the download notices it between reads.
        if (IsExitStarted()) {
            return false;
        }
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), std::min(available, kReadBytes), &got)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadBootstrapper: read failed after %llu bytes (%lu)",
                       static_cast<unsigned long long>(count), lastError);
            return false;
        }
        if (got == 0) {
            break;
        }
        if (!WriteFileFully(file, buffer.data(), got)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadBootstrapper: write failed (%lu)", lastError);
            return false;
        }
        count += got;
        reports.Written(count);
    }
    if (lengthKnown && count != total) {
        DebugTrace(L"DownloadBootstrapper: %llu of %llu bytes", static_cast<unsigned long long>(count),
                   static_cast<unsigned long long>(total));
        return false;
    }
    return true;
}

}  // namespace

bool DownloadBootstrapper(const std::wstring& path, const ProgressCallback& progress) {
    HttpGet get;
    if (!RequestFile(&get)) {
        return false;
    }
    bool complete = false;
    {
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"DownloadBootstrapper: cannot create %ls (%lu)", path.c_str(), lastError);
            return false;
        }
        complete = WriteBody(get.request.get(), file.get(), progress);
    }
    get.request.reset();
    get.connection.reset();
    get.session.reset();
    if (!complete) {
        return false;
    }

    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"DownloadBootstrapper: cannot read the size of %ls (%lu)", path.c_str(), lastError);
        return false;
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    if (size < kBootstrapperMinBytes) {
        DebugTrace(L"DownloadBootstrapper: %llu bytes is not the program",
                   static_cast<unsigned long long>(size));
        DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

void SetBootstrapperConnectionMapForTesting(BootstrapperConnectionMap map) {
    g_connectionMap = map ? map : ConnectDirectly;
}
