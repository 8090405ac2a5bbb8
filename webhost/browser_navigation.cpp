#include "webhost/browser_navigation.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"

#include <objbase.h>

#include <cwchar>
#include <string>

void NavigateWebBrowser(const wchar_t* url) {
    BrowserHost::Instance().Navigate(url);
}

void ReloadWebBrowser() {
    BrowserHost::Instance().Reload();
}

void BrowserHost::Navigate(const wchar_t* url) {
    if (!webView_ || !url) {
        return;
    }
    const size_t length = std::wcslen(url);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!copy) {
        return;
    }
    std::wmemcpy(copy, url, length + 1);
    const HRESULT result = webView_->Navigate(copy);
    CoTaskMemFree(copy);
    DebugTrace(L"Navigate(%ls): 0x%08lX", url, static_cast<unsigned long>(result));
    if (FAILED(result)) {
        const std::wstring script = L"window.location.href = '" + std::wstring(url) + L"';";
        webView_->ExecuteScript(script.c_str(), nullptr);
    }
}

void BrowserHost::Reload() {
    if (webView_) {
        webView_->Reload();
    }
}
