#include "webhost/browser_teardown.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/loader_library.h"

void DestroyWebBrowserControl() {
    BrowserHost::Instance().Destroy();
}

// Each registration that was given is removed, whatever its token's value.
void BrowserHost::RemovePageHandlers() {
    if (webView_ && navStarting_.registered) {
        webView_->remove_NavigationStarting(navStarting_.token);
    }
    if (webView_ && navCompleted_.registered) {
        webView_->remove_NavigationCompleted(navCompleted_.token);
    }
    if (webView_ && webMessage_.registered) {
        webView_->remove_WebMessageReceived(webMessage_.token);
    }
    if (webView_ && processFailed_.registered) {
        webView_->remove_ProcessFailed(processFailed_.token);
    }
    if (webView_ && newWindowRequested_.registered) {
        webView_->remove_NewWindowRequested(newWindowRequested_.token);
    }
    if (webViewController_ && acceleratorKeyPressed_.registered) {
        webViewController_->remove_AcceleratorKeyPressed(acceleratorKeyPressed_.token);
    }
    navStarting_ = navCompleted_ = webMessage_ = {};
    processFailed_ = newWindowRequested_ = acceleratorKeyPressed_ = {};
}

// Releases the runtime's objects; the controller is closed while its parent window still exists.
void BrowserHost::CloseBrowser() {
    RemovePageHandlers();
    webView_.reset();
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

void BrowserHost::TearDown() {
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
    rendererReloadTick_ = 0;
}

void BrowserHost::Destroy() {
    TearDown();
    recreateOnShow_ = false;
    if (loaderNeededByRuntime_) {
        // The runtime still holds a completion handler and will call it from its own code, which
        // lives in the loader's module: freeing it would leave that call nowhere to go.
        DebugTrace(L"DestroyWebBrowserControl: a runtime call is pending; the loader stays loaded");
        return;
    }
    UnloadWebView2Loader();
}
