#include "webhost/site.h"

#include "base/text_convert.h"
#include "base/text_util.h"

namespace {

constexpr const char* kPageSchemes[] = {"http://", "https://"};

// The host of "scheme://[user@]host[:port][/...]", lower case; empty when there is none.
std::string HostOfAuthority(const std::string& afterScheme) {
    // Browsers end the authority at a backslash too.
    std::string authority = afterScheme.substr(0, afterScheme.find_first_of("/?#\\"));
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    return authority.substr(0, authority.find(':'));
}

}  // namespace

bool IsSitePageAddress(const std::wstring& address) {
    const std::string lower = LowerAscii(WideToUtf8(address));
    const std::string site = LowerAscii(kSiteHostName);
    for (const char* scheme : kPageSchemes) {
        if (!StartsWith(lower, scheme)) {
            continue;
        }
        const std::string host = HostOfAuthority(lower.substr(std::char_traits<char>::length(scheme)));
        return host == site || (host.size() > site.size() &&
                                host.compare(host.size() - site.size(), site.size(), site) == 0 &&
                                host[host.size() - site.size() - 1] == '.');
    }
    return false;
}
