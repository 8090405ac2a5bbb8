#include "webhost/browser_layout.h"

#include "base/window_messages.h"
#include "webhost/browser_host.h"
#include "webhost/site.h"

namespace {

constexpr UINT kPlaceFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;

}  // namespace

bool FitWebBrowserAfterLayout(HWND downloadWindow, int width, int browserHeight) {
    return BrowserHost::Instance().FitAfterLayout(downloadWindow, width, browserHeight);
}

bool FitWebBrowserOnSize(int width, int browserHeight) {
    return BrowserHost::Instance().FitOnSize(width, browserHeight);
}

void HideWebBrowserHost() {
    BrowserHost::Instance().HideHost();
}

void HandleDeferredNavigate() {
    BrowserHost::Instance().DeferredNavigate();
}

void NotifyWebBrowserMoved() {
    BrowserHost::Instance().NotifyMoved();
}

bool BrowserHost::FitAfterLayout(HWND downloadWindow, int width, int browserHeight) {
    if (state_ != BrowserState::Ready || !webView_ || !IsHostLive()) {
        return false;
    }
    ShowWindow(hWebViewHost_, SW_SHOW);
    SetWindowPos(hWebViewHost_, nullptr, 0, 0, width, browserHeight, kPlaceFlags);
    if (webViewController_) {
        webViewController_->put_Bounds(RECT{0, 0, width, browserHeight});
        webViewController_->put_IsVisible(TRUE);
        webViewController_->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(width, browserHeight);
    if (!webViewNavigated_) {
        PostMessageW(downloadWindow, WM_DEFERRED_NAVIGATE, 0, 0);
    }
    return true;
}

bool BrowserHost::FitOnSize(int width, int browserHeight) {
    if (!IsHostLive() || state_ != BrowserState::Ready) {
        return false;
    }
    SetWindowPos(hWebViewHost_, nullptr, 0, 0, width, browserHeight, kPlaceFlags);
    if (webViewController_) {
        webViewController_->put_Bounds(RECT{0, 0, width, browserHeight});
        webViewController_->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(width, browserHeight);
    return true;
}

void BrowserHost::HideHost() {
    if (IsHostLive()) {
        ShowWindow(hWebViewHost_, SW_HIDE);
    }
}

void BrowserHost::DeferredNavigate() {
    if (webViewController_) {
        webViewController_->NotifyParentWindowPositionChanged();
    }
    if (webView_ && !webViewNavigated_) {
        Navigate(kSiteStartUrl);
    }
}

void BrowserHost::NotifyMoved() {
    if (state_ == BrowserState::Ready && webViewController_) {
        webViewController_->NotifyParentWindowPositionChanged();
    }
}
