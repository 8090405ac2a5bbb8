#include "tasks/http_get.h"

#include "base/debug_trace.h"
#include "base/win32.h"

#include <winhttp.h>

namespace {

// Content-Length as text: up to 20 decimal digits of a 64-bit count, plus the terminator.
constexpr DWORD kLengthTextChars = 32;
constexpr int kMaxLengthDigits = 19;

bool ApplyOptions(HINTERNET request, const HttpGetOptions& options) {
    if (options.setTimeouts &&
        !WinHttpSetTimeouts(request, options.resolveTimeoutMs, options.connectTimeoutMs,
                            options.sendTimeoutMs, options.receiveTimeoutMs)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"OpenHttpGet: time-outs not set (%lu)", lastError);
        return false;
    }
    if (!options.followRedirects) {
        DWORD disable = WINHTTP_DISABLE_REDIRECTS;
        if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable))) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"OpenHttpGet: redirects not turned off (%lu)", lastError);
            return false;
        }
    }
    return true;
}

}  // namespace

HttpGetStep OpenHttpGet(const HttpGetTarget& target, const HttpGetOptions& options, HttpGet* get) {
    get->session.reset(WinHttpOpen(options.userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!get->session) {
        return HttpGetStep::Session;
    }
    get->connection.reset(WinHttpConnect(get->session.get(), target.host.c_str(), target.port, 0));
    if (!get->connection) {
        return HttpGetStep::Connect;
    }
    get->request.reset(WinHttpOpenRequest(get->connection.get(), L"GET", target.path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!get->request) {
        return HttpGetStep::OpenRequest;
    }
    if (!ApplyOptions(get->request.get(), options)) {
        return HttpGetStep::SetOptions;
    }
    const wchar_t* const headers =
        options.extraHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : options.extraHeaders.c_str();
    const DWORD headersLength = static_cast<DWORD>(options.extraHeaders.size());
    if (!WinHttpSendRequest(get->request.get(), headers, headersLength, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"OpenHttpGet: send to %ls failed (%lu)", target.host.c_str(), lastError);
        get->failure = lastError;
        return HttpGetStep::Send;
    }
    if (!WinHttpReceiveResponse(get->request.get(), nullptr)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"OpenHttpGet: receive from %ls failed (%lu)", target.host.c_str(), lastError);
        get->failure = lastError;
        return HttpGetStep::Receive;
    }
    return HttpGetStep::Received;
}

std::uint32_t QueryStatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}

bool QueryHeaderText(HINTERNET request, std::uint32_t infoLevel, std::wstring* text) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    const DWORD lastError = GetLastError();
    if (lastError != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return false;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, &buffer[0], &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    buffer.resize(bytes / sizeof(wchar_t));
    *text = buffer;
    return true;
}

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
        if (*p < L'0' || *p > L'9' || digits >= kMaxLengthDigits) {
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
