#include "tasks/url_split.h"

namespace {

constexpr std::uint16_t kHttpPort = 80;
constexpr std::uint16_t kHttpsPort = 443;
constexpr unsigned long kMaxPort = 65535;

// Leading digits as a number, 0 when there are none (as _wtoi reads a port); false when the value
// cannot be a TCP port, instead of letting it wrap into some other port.
bool ParsePort(const std::wstring& text, std::uint16_t* port) {
    unsigned long value = 0;
    for (wchar_t ch : text) {
        if (ch < L'0' || ch > L'9') {
            break;
        }
        value = value * 10 + static_cast<unsigned long>(ch - L'0');
        if (value > kMaxPort) {
            return false;
        }
    }
    *port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool SplitUrl(const std::wstring& url, UrlParts* parts) {
    const size_t schemeEnd = url.find(L"://");
    if (url.size() < 3 || schemeEnd == std::wstring::npos) {
        return false;
    }
    UrlParts result;
    const std::wstring scheme = url.substr(0, schemeEnd);
    if (scheme == L"http") {
        result.port = kHttpPort;
    } else {
        result.secure = scheme == L"https";
        result.port = kHttpsPort;
    }

    const std::wstring rest = url.substr(schemeEnd + 3);
    const size_t slash = rest.find(L'/');
    const size_t colon = rest.find(L':');
    const size_t authorityEnd = slash == std::wstring::npos ? rest.size() : slash;
    if (colon != std::wstring::npos && colon < authorityEnd) {
        result.host = rest.substr(0, colon);
        if (!ParsePort(rest.substr(colon + 1, authorityEnd - colon - 1), &result.port)) {
            return false;
        }
    } else {
        result.host = rest.substr(0, authorityEnd);
    }
    result.path = slash == std::wstring::npos ? L"/" : rest.substr(slash);
    *parts = std::move(result);
    return true;
}
