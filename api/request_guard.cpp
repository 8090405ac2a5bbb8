#include "api/request_guard.h"

#include "api/route_table.h"
#include "base/text_util.h"
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

// A browser's word that the request comes from a page of another site ("same-site" is another
// origin on the same registrable domain, e.g. another port of 127.0.0.1 or a sibling subdomain).
bool IsMarkedForeign(const HttpRequest& request) {
    for (const std::string& site : request.fetchSiteHeaders) {
        const std::string lower = LowerAscii(site);
        if (lower == "cross-site" || lower == "same-site") {
            return true;
        }
    }
    return false;
}

// "scheme://authority" of a URL; empty when it has no "://".
std::string OriginOfUrl(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return std::string();
    }
    const size_t authorityEnd = url.find_first_of("/?#", schemeEnd + 3);
    return url.substr(0, authorityEnd);
}

bool HasAllowedReferer(const HttpRequest& request) {
    if (request.refererHeaders.empty()) {
        return false;
    }
    for (const std::string& referer : request.refererHeaders) {
        if (!IsAllowedOriginValue(OriginOfUrl(referer))) {
            return false;
        }
    }
    return true;
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
    if (!changesState || !IsMarkedForeign(request)) {
        return true;
    }
    return !request.originHeaders.empty() || HasAllowedReferer(request);
}
