#include "webhost/browser_teardown.h"

#include "base/debug_trace.h"
#include "webhost/browser_handlers.h"
#include "webhost/browser_state.h"
#include "webhost/chrome_windows.h"
#include "webhost/loader_library.h"

namespace {

template <typename Interface>
void ReleaseReference(Interface*& reference) {
    if (reference) {
        reference->Release();
        reference = nullptr;
    }
}

// Set once a teardown found a runtime call still pending: the runtime will call back from code in
// the loader's module, so the loader stays loaded for the rest of the process, whichever teardown
// (the exit path's or the window's own) comes next.
bool g_loaderNeededByRuntime = false;

bool HasToken(const EventRegistrationToken& token) {
    return token.value != 0;
}

void RemovePageHandlers() {
    if (HasToken(g_navStartingToken)) {
        g_pWebView->remove_NavigationStarting(g_navStartingToken);
        g_navStartingToken = {};
    }
    if (HasToken(g_navCompletedToken)) {
        g_pWebView->remove_NavigationCompleted(g_navCompletedToken);
        g_navCompletedToken = {};
    }
    if (HasToken(g_webMessageToken)) {
        g_pWebView->remove_WebMessageReceived(g_webMessageToken);
        g_webMessageToken = {};
    }
}

}  // namespace

void DestroyWebBrowserControl() {
    // From here on every handler of this browser is stale: an event the runtime raises while it
    // is being closed, or a completion that arrives later, finds nothing to act on.
    ++g_browserGeneration;
    if (g_webViewCreating) {
        g_loaderNeededByRuntime = true;
    }
    if (g_pWebView) {
        RemovePageHandlers();
        ReleaseReference(g_pWebView);
    }
    if (g_pWebViewController) {
        // Closed while its parent window still exists.
        g_pWebViewController->Close();
        ReleaseReference(g_pWebViewController);
    }
    // A controller and browser that completed but were never taken over hold references too.
    ReleaseReference(g_pPendingWebView);
    if (g_pPendingController) {
        g_pPendingController->Close();
        ReleaseReference(g_pPendingController);
    }
    ReleaseHandler(g_pNavStartingHandler);
    ReleaseHandler(g_pNavCompletedHandler);
    ReleaseHandler(g_pWebMessageHandler);
    ReleaseReference(g_pWebViewEnvironment);
    if (g_hWebViewHost && IsWindow(g_hWebViewHost)) {
        RestoreChromeWindowProc();
        DestroyWindow(g_hWebViewHost);
    }
    g_origChromeWndProc = nullptr;
    g_hWebViewHost = nullptr;
    g_webViewInitialized = false;
    g_webViewCreating = false;
    g_webViewNavigated = false;
    if (g_loaderNeededByRuntime) {
        // The runtime still holds a completion handler and will call it from its own code, which
        // lives in the loader's module: freeing it would leave that call nowhere to go.
        DebugTrace(L"DestroyWebBrowserControl: a runtime call is pending; the loader stays loaded");
        return;
    }
    UnloadWebView2Loader();
}
