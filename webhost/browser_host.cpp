#include "webhost/browser_host.h"

BrowserHost& BrowserHost::Instance() {
    static BrowserHost host;
    return host;
}

bool BrowserHost::IsHostLive() const {
    return hWebViewHost_ && IsWindow(hWebViewHost_);
}
