#include "webhost/runtime_discovery.h"

// Runtime discovery is not built yet: report no runtime, so the window runs downloader-only.
bool IsWebView2RuntimeAvailable() {
    return !FindWebView2RuntimeFolder().empty();
}

std::wstring FindWebView2RuntimeFolder() {
    return std::wstring();
}
