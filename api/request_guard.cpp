#include "api/request_guard.h"

#include "api/route_table.h"
#include "base/text_util.h"
#include "tasks/download_redirect.h"
#include "webhost/site.h"

namespace {

constexpr size_t kMaxPortDigits = 5;
constexpr const char* kLoopbackNames[] = {"127.0.0.1", "localhost", "[::1]"};

// Empty, or ":" and 1 to 5 digits.
bool IsPortSuffix(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    if (text[0] != ':' || text.size() < 2 || text.size() > 1 + kMaxPortDigits) {
        return false;
    }
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// `authority` (already lower case) is one of the loopback names, optionally with a port.
bool IsLoopbackAuthority(const std::string& authority) {
    for (const char* name : kLoopbackNames) {
        const std::string loopback = name;
        if (StartsWith(authority, loopback) && IsPortSuffix(authority.substr(loopback.size()))) {
            return true;
        }
    }
    return false;
}

// Only a program's own sender names the program's download User-Agent: such a request is one of the
// program's own downloads that a redirect or a name resolving to the loopback led here.
bool IsOwnDownload(const HttpRequest& request) {
    for (const std::string& agent : request.userAgentHeaders) {
        if (agent == kDownloadUserAgentUtf8) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsLoopbackHostValue(const std::string& host) {
    return IsLoopbackAuthority(LowerAscii(host));
}

bool IsAllowedOriginValue(const std::string& origin) {
    const std::string lower = LowerAscii(origin);
    const std::string siteHost = LowerAscii(kSiteHostName);
    for (const char* scheme : {"http://", "https://"}) {
        if (!StartsWith(lower, scheme)) {
            continue;
        }
        const std::string authority = lower.substr(std::char_traits<char>::length(scheme));
        return authority == siteHost || IsLoopbackAuthority(authority);
    }
    return false;
}

bool HasAllowedHost(const HttpRequest& request) {
    for (const std::string& host : request.hostHeaders) {
        if (!IsLoopbackHostValue(host)) {
            return false;
        }
    }
    return true;
}

bool IsStateChangingRequest(const HttpRequest& request) {
    const Route* route = FindRoute(request);
    return route && route->changesState;
}

bool HasAllowedOrigin(const HttpRequest& request) {
    for (const std::string& origin : request.originHeaders) {
        if (!IsAllowedOriginValue(origin)) {
            return false;
        }
    }
    return true;
}

bool HasAllowedSender(const HttpRequest& request, bool changesState) {
    if (!HasAllowedOrigin(request)) {
        return false;
    }
    if (!changesState) {
        return true;
    }
    if (IsOwnDownload(request)) {
        return false;
    }
    // Fetch Metadata, whatever its value, is a browser's: a cross-site <img>, a link opened from
    // a mail program ("none") and a page of another port all carry it, and only the Origin shows
    // that the asset-library site itself sent the request.
    return request.fetchSiteHeaders.empty() || !request.originHeaders.empty();
}
