#include "webhost/browser_teardown.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/loader_library.h"

void DestroyWebBrowserControl() {
    BrowserHost::Instance().Destroy();
}

void BrowserHost::RemovePageHandlers() {
    if (navStarting_.registered) {
        webView_->remove_NavigationStarting(navStarting_.token);
    }
    if (navCompleted_.registered) {
        webView_->remove_NavigationCompleted(navCompleted_.token);
    }
    if (webMessage_.registered) {
        webView_->remove_WebMessageReceived(webMessage_.token);
    }
    navStarting_ = {};
    navCompleted_ = {};
    webMessage_ = {};
}

// Releases the runtime's objects; the controller is closed while its parent window still exists.
void BrowserHost::CloseBrowser() {
    if (webView_) {
        RemovePageHandlers();
        webView_.reset();
    }
    if (webViewController_) {
        webViewController_->Close();
        webViewController_.reset();
    }
    // A controller and browser that completed but were never taken over hold references too.
    pendingWebView_.reset();
    if (pendingController_) {
        pendingController_->Close();
        pendingController_.reset();
    }
    webViewEnvironment_.reset();
}

void BrowserHost::Destroy() {
    // From here on every handler of this browser is stale: an event the runtime raises while it
    // is being closed, or a completion that arrives later, finds nothing to act on.
    ++browserGeneration_;
    if (state_ == BrowserState::Creating) {
        loaderNeededByRuntime_ = true;
    }
    CloseBrowser();
    if (IsHostLive()) {
        RestoreChromeWindowProc();
        DestroyWindow(hWebViewHost_);
    }
    origChromeWndProc_ = nullptr;
    hWebViewHost_ = nullptr;
    if (state_ != BrowserState::Missing) {
        state_ = BrowserState::Idle;
    }
    webViewNavigated_ = false;
    if (loaderNeededByRuntime_) {
        // The runtime still holds a completion handler and will call it from its own code, which
        // lives in the loader's module: freeing it would leave that call nowhere to go.
        DebugTrace(L"DestroyWebBrowserControl: a runtime call is pending; the loader stays loaded");
        return;
    }
    UnloadWebView2Loader();
}
