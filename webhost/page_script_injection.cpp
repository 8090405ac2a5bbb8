#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/page_script.h"
#include "webhost/site.h"

#include <objbase.h>

#include <cwchar>

HRESULT BrowserHost::OnNavigationCompleted(unsigned generation, ICoreWebView2*,
                                           ICoreWebView2NavigationCompletedEventArgs* args) {
    if (!args || !IsCurrent(generation)) {
        return S_OK;
    }
    BOOL success = FALSE;
    if (FAILED(args->get_IsSuccess(&success))) {
        return S_OK;
    }
    if (success == FALSE) {
        DebugTrace(L"NavigationCompleted: navigation failed");
        return S_OK;
    }
    const HRESULT result = InjectPageScript(args);
    DebugTrace(L"InjectPageScript: 0x%08lX", static_cast<unsigned long>(result));
    return S_OK;
}

HRESULT InjectPageScript(ICoreWebView2NavigationCompletedEventArgs* args) {
    return BrowserHost::Instance().InjectPageScript(args);
}

HRESULT BrowserHost::InjectPageScript(ICoreWebView2NavigationCompletedEventArgs* args) {
    if (!args) {
        return E_INVALIDARG;
    }
    BOOL success = FALSE;
    const HRESULT read = args->get_IsSuccess(&success);
    if (FAILED(read)) {
        return read;
    }
    if (success == FALSE || !webView_) {
        return S_OK;
    }
    LPWSTR source = nullptr;
    if (SUCCEEDED(webView_->get_Source(&source)) && source) {
        if (std::wcsstr(source, kSiteHostNameWide)) {
            webViewNavigated_ = true;
        }
    }
    CoTaskMemFree(source);
    webView_->ExecuteScript(kPageScript, nullptr);
    return S_OK;
}
