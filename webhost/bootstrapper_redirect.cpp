#include "webhost/bootstrapper_redirect.h"

#include <cwctype>
#include <string>

namespace {

constexpr const wchar_t* kSecurePrefix = L"https://";
constexpr const wchar_t* kPlainPrefix = L"http://";
constexpr const wchar_t* kNetworkPathPrefix = L"//";

// Scheme names are case-insensitive; "HTTP://" is the same downgrade as "http://".
bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i] != L'\0'; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != std::towlower(prefix[i])) {
            return false;
        }
    }
    return true;
}

size_t Length(const wchar_t* text) {
    return std::char_traits<wchar_t>::length(text);
}

}  // namespace

bool NextBootstrapperRequest(const BootstrapperRequest& current, const std::wstring& location,
                             BootstrapperRequest* next) {
    bool secure = current.secure;
    std::wstring address;
    if (StartsWithIgnoringCase(location, kSecurePrefix)) {
        secure = true;
        address = location.substr(Length(kSecurePrefix));
    } else if (StartsWithIgnoringCase(location, kPlainPrefix)) {
        if (current.secure) {
            return false;
        }
        address = location.substr(Length(kPlainPrefix));
    } else if (location.compare(0, Length(kNetworkPathPrefix), kNetworkPathPrefix) == 0) {
        address = location.substr(Length(kNetworkPathPrefix));
    } else if (!location.empty() && location[0] == L'/') {
        if (current.host.empty()) {
            return false;
        }
        next->host = current.host;
        next->path = location;
        next->secure = secure;
        return true;
    } else {
        address = location;
    }

    const size_t slash = address.find(L'/');
    std::wstring host = address.substr(0, slash);
    const size_t colon = host.find(L':');
    if (colon != std::wstring::npos) {
        host.resize(colon);
    }
    if (host.empty()) {
        return false;
    }
    next->host = host;
    next->path = slash == std::wstring::npos ? L"/" : address.substr(slash);
    next->secure = secure;
    return true;
}
