#include "webhost/browser_layout.h"

#include "base/window_messages.h"
#include "webhost/browser_navigation.h"
#include "webhost/browser_state.h"
#include "webhost/chrome_windows.h"
#include "webhost/site.h"

namespace {

bool HostExists() {
    return g_hWebViewHost && IsWindow(g_hWebViewHost);
}

void PlaceHost(int width, int height) {
    SetWindowPos(g_hWebViewHost, nullptr, 0, 0, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

}  // namespace

bool FitWebBrowserAfterLayout(HWND downloadWindow, int width, int browserHeight) {
    if (!g_webViewInitialized || !g_pWebView || !HostExists()) {
        return false;
    }
    ShowWindow(g_hWebViewHost, SW_SHOW);
    PlaceHost(width, browserHeight);
    if (g_pWebViewController) {
        g_pWebViewController->put_Bounds(RECT{0, 0, width, browserHeight});
        g_pWebViewController->put_IsVisible(TRUE);
        g_pWebViewController->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(width, browserHeight);
    if (!g_webViewNavigated) {
        PostMessageW(downloadWindow, WM_DEFERRED_NAVIGATE, 0, 0);
    }
    return true;
}

bool FitWebBrowserOnSize(int width, int browserHeight) {
    if (!HostExists() || !g_webViewInitialized) {
        return false;
    }
    PlaceHost(width, browserHeight);
    if (g_pWebViewController) {
        g_pWebViewController->put_Bounds(RECT{0, 0, width, browserHeight});
        g_pWebViewController->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(width, browserHeight);
    return true;
}

void HideWebBrowserHost() {
    if (HostExists()) {
        ShowWindow(g_hWebViewHost, SW_HIDE);
    }
}

void HandleDeferredNavigate() {
    if (g_pWebViewController) {
        g_pWebViewController->NotifyParentWindowPositionChanged();
    }
    if (g_pWebView && !g_webViewNavigated) {
        NavigateWebBrowser(kSiteStartUrl);
    }
}
