#include "webhost/browser_navigation.h"

#include "base/debug_trace.h"
#include "webhost/browser_state.h"

#include <objbase.h>

#include <cwchar>
#include <string>

void NavigateWebBrowser(const wchar_t* url) {
    if (!g_pWebView || !url) {
        return;
    }
    const size_t length = std::wcslen(url);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!copy) {
        return;
    }
    std::wmemcpy(copy, url, length + 1);
    const HRESULT result = g_pWebView->Navigate(copy);
    CoTaskMemFree(copy);
    DebugTrace(L"Navigate(%ls): 0x%08lX", url, static_cast<unsigned long>(result));
    if (FAILED(result)) {
        const std::wstring script = L"window.location.href = '" + std::wstring(url) + L"';";
        g_pWebView->ExecuteScript(script.c_str(), nullptr);
    }
}

void ReloadWebBrowser() {
    if (g_pWebView) {
        g_pWebView->Reload();
    }
}
