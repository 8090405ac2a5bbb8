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
