#include "tasks/download_redirect.h"

#include "base/debug_trace.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"

#include <winhttp.h>
#include <ws2tcpip.h>

#include <cwctype>

namespace {

constexpr int kMaxAddressParts = 4;
constexpr std::uint32_t kLoopbackFirstByte = 127;
constexpr size_t kIpv4InIpv6Offset = 12;

// The statuses WinHTTP's own redirect handling follows; 300 and 304 are replies of their own.
constexpr std::uint32_t kFollowedRedirects[] = {301, 302, 303, 307, 308};

bool IsFollowedRedirect(std::uint32_t status) {
    for (const std::uint32_t redirect : kFollowedRedirects) {
        if (status == redirect) {
            return true;
        }
    }
    return false;
}

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& ch : text) {
        if (ch >= L'A' && ch <= L'Z') {
            ch = static_cast<wchar_t>(ch - L'A' + L'a');
        }
    }
    return text;
}

// One part of a numeric IPv4 address as inet_addr reads it: "0x" hexadecimal, a leading "0"
// octal, else decimal.
bool ReadAddressPart(const std::wstring& text, std::uint64_t* value) {
    unsigned base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        start = 2;
    } else if (text.size() > 1 && text[0] == L'0') {
        base = 8;
        start = 1;
    }
    if (text.empty() || text.size() - start > 10) {
        return false;
    }
    std::uint64_t number = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const wchar_t ch = static_cast<wchar_t>(std::towlower(text[i]));
        const unsigned digit = (ch >= L'0' && ch <= L'9')   ? static_cast<unsigned>(ch - L'0')
                               : (ch >= L'a' && ch <= L'f') ? static_cast<unsigned>(ch - L'a' + 10)
                                                            : base;
        if (digit >= base) {
            return false;
        }
        number = number * base + digit;
    }
    *value = number;
    return true;
}

// "a", "a.b", "a.b.c" or "a.b.c.d", the last part filling the remaining bytes.
bool ParseNumericIpv4(const std::wstring& host, std::uint32_t* address) {
    std::uint64_t parts[kMaxAddressParts] = {};
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = host.find(L'.', start);
        if (count == kMaxAddressParts || !ReadAddressPart(host.substr(start, dot - start), &parts[count])) {
            return false;
        }
        ++count;
        if (dot == std::wstring::npos) {
            break;
        }
        start = dot + 1;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) {
            return false;
        }
        value |= parts[i] << (8 * (3 - i));
    }
    const std::uint64_t lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
    if (parts[count - 1] > lastLimit) {
        return false;
    }
    *address = static_cast<std::uint32_t>(value | parts[count - 1]);
    return true;
}

bool IsLoopbackOrUnspecifiedIpv4(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return first == kLoopbackFirstByte || first == 0;
}

// "::", "::1", and IPv4 loopback or unspecified addresses written in IPv6 form.
bool IsLoopbackOrUnspecifiedIpv6(std::wstring text) {
    text = text.substr(0, text.find(L'%'));
    IN6_ADDR address = {};
    if (InetPtonW(AF_INET6, text.c_str(), &address) != 1) {
        return false;
    }
    const unsigned char* bytes = address.s6_addr;
    for (size_t i = 0; i < 10; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    if (bytes[10] == 0 && bytes[11] == 0) {
        return bytes[12] == 0 && bytes[13] == 0 && bytes[14] == 0 && bytes[15] <= 1;  // "::" and "::1"
    }
    // "::ffff:a.b.c.d" is the IPv4 address a.b.c.d.
    const std::uint32_t first = bytes[kIpv4InIpv6Offset];
    return bytes[10] == 0xFF && bytes[11] == 0xFF && (first == kLoopbackFirstByte || first == 0);
}

bool HasScheme(const std::wstring& text, const wchar_t* scheme) {
    return text.compare(0, std::char_traits<wchar_t>::length(scheme), scheme) == 0;
}

const char* OpenFailureText(HttpGetStep step) {
    switch (step) {
        case HttpGetStep::Session:
            return "Failed to create HTTP session";
        case HttpGetStep::Connect:
            return "Connection failed";
        case HttpGetStep::Send:
            return "Request send failed";
        case HttpGetStep::Receive:
            return "Response receive failed";
        default:
            return "Request creation failed";
    }
}

}  // namespace

bool IsLoopbackOrUnspecifiedHost(const std::wstring& rawHost) {
    std::wstring host = LowerAscii(rawHost.substr(rawHost.find_last_of(L'@') + 1));
    if (!host.empty() && host.back() == L'.') {
        host.pop_back();
    }
    if (host.size() > 2 && host.front() == L'[' && host.back() == L']') {
        return IsLoopbackOrUnspecifiedIpv6(host.substr(1, host.size() - 2));
    }
    const std::wstring localName = L"localhost";
    if (host == localName ||
        (host.size() > localName.size() &&
         host.compare(host.size() - localName.size() - 1, std::wstring::npos, L"." + localName) == 0)) {
        return true;
    }
    std::uint32_t address = 0;
    return ParseNumericIpv4(host, &address) && IsLoopbackOrUnspecifiedIpv4(address);
}

bool IsOwnApiAddress(const UrlParts& address, int apiPort) {
    return address.port == apiPort && IsLoopbackOrUnspecifiedHost(address.host);
}

RedirectTarget ResolveRedirect(const UrlParts& current, const std::wstring& location, UrlParts* next) {
    std::wstring target = location.substr(0, location.find(L'#'));
    for (const wchar_t ch : target) {
        if (ch <= L' ' || ch == 0x7F) {
            return RedirectTarget::Invalid;
        }
    }
    const std::wstring scheme = current.secure ? L"https:" : L"http:";
    const size_t colon = target.find(L':');
    const size_t firstSeparator = target.find_first_of(L"/?");
    if (colon != std::wstring::npos && colon < firstSeparator) {
        const std::wstring lower = LowerAscii(target.substr(0, colon + 1));
        if (lower != L"http:" && lower != L"https:") {
            return RedirectTarget::Invalid;
        }
        target = lower + target.substr(colon + 1);
    } else if (HasScheme(target, L"//")) {
        target = scheme + target;
    } else {
        const std::wstring authority = current.host + L":" + std::to_wstring(current.port);
        std::wstring base = current.path;
        if (target.empty() || target[0] == L'?') {
            base = base.substr(0, base.find(L'?'));
        } else if (target[0] != L'/') {
            base = base.substr(0, base.substr(0, base.find(L'?')).rfind(L'/') + 1);
        } else {
            base.clear();
        }
        target = scheme + L"//" + authority + base + target;
    }
    if (!HasScheme(target, L"http://") && !HasScheme(target, L"https://")) {
        return RedirectTarget::Invalid;
    }
    UrlParts parts;
    if (!SplitUrl(target, &parts) || parts.host.empty()) {
        return RedirectTarget::Invalid;
    }
    if (current.secure && !parts.secure) {
        return RedirectTarget::Keep;
    }
    *next = parts;
    return RedirectTarget::Follow;
}

const char* OpenDownloadRequest(const UrlParts& address, const HttpGetOptions& baseOptions, HttpGet* get) {
    HttpGetOptions options = baseOptions;
    options.followRedirects = false;
    const int apiPort = GetConfig().port;
    UrlParts current = address;
    for (int redirects = 0;; ++redirects) {
        if (IsOwnApiAddress(current, apiPort)) {
            DebugTrace(L"OpenDownloadRequest: %ls:%u is this program's API", current.host.c_str(),
                       static_cast<unsigned>(current.port));
            return kOwnApiText;
        }
        HttpGet attempt;
        const HttpGetStep step =
            OpenHttpGet({current.host, current.port, current.secure, current.path}, options, &attempt);
        if (step != HttpGetStep::Received) {
            get->failure = attempt.failure;  // whether a retry may fare better
            return OpenFailureText(step);
        }
        std::wstring location;
        UrlParts next;
        RedirectTarget target = RedirectTarget::Keep;
        if (IsFollowedRedirect(QueryStatusCode(attempt.request.get())) &&
            QueryHeaderText(attempt.request.get(), WINHTTP_QUERY_LOCATION, &location)) {
            target = ResolveRedirect(current, location, &next);
        }
        if (target == RedirectTarget::Keep) {
            *get = std::move(attempt);
            return nullptr;
        }
        if (target == RedirectTarget::Invalid) {
            return kBadRedirectText;
        }
        if (redirects >= kMaxDownloadRedirects) {
            return kTooManyRedirectsText;
        }
        if (IsExitStarted()) {
            return kDownloadStoppedText;
        }
        current = next;
    }
}
