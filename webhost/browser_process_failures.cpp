// When one of the runtime's processes fails. The browser process's end takes the control with it:
// it is torn down and created again, at once in a shown window, else at the window's next showing.
// A page whose renderer ended or hangs is reloaded, but not twice in a short time: a page that
// keeps failing stays as it is rather than reloading in a loop.
#include "base/debug_trace.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "webhost/browser_creation.h"
#include "webhost/browser_host.h"

namespace {

// A second renderer failure within this time of the last reload leaves the page as it is.
constexpr ULONGLONG kRendererReloadIntervalMs = 10000;

const wchar_t* FailureName(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    switch (kind) {
        case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
            return L"browser process exited";
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
            return L"page renderer exited";
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
            return L"page renderer unresponsive";
        case COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED:
            return L"frame renderer exited";
        default:
            return L"helper process exited";
    }
}

bool IsShown(HWND window) {
    return window && IsWindow(window) && IsWindowVisible(window) && !IsIconic(window);
}

}  // namespace

HRESULT BrowserHost::OnProcessFailed(unsigned generation, ICoreWebView2*,
                                     ICoreWebView2ProcessFailedEventArgs* args) {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
    if (!args || FAILED(args->get_ProcessFailedKind(&kind))) {
        return S_OK;
    }
    DebugTrace(L"ProcessFailed: %ls (%d)%ls", FailureName(kind), static_cast<int>(kind),
               IsCurrent(generation) ? L"" : L", for a browser already torn down");
    if (!IsCurrent(generation)) {
        return S_OK;
    }
    switch (kind) {
        case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
            // Torn down from the window's loop, not inside the runtime's own callback.
            if (const HWND window = g_hDownloadWnd.load()) {
                PostMessageW(window, WM_BROWSER_RECREATE, static_cast<WPARAM>(generation), 0);
            }
            break;
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
            ReloadAfterRendererFailure(static_cast<int>(kind));
            break;
        default:
            // A frame's or a helper's process: the runtime starts a new one when it is needed.
            break;
    }
    return S_OK;
}

void BrowserHost::ReloadAfterRendererFailure(int kind) {
    const ULONGLONG now = GetTickCount64();
    if (rendererReloadTick_ != 0 && now - rendererReloadTick_ < kRendererReloadIntervalMs) {
        DebugTrace(L"ProcessFailed: renderer failed again %llu ms after a reload; the page stays (kind %d)",
                   now - rendererReloadTick_, kind);
        return;
    }
    rendererReloadTick_ = now;
    Reload();
}

void BrowserHost::Recreate(HWND downloadWindow, unsigned generation) {
    // A second report of the same failure finds that browser already gone.
    if (state_ == BrowserState::Missing || !IsCurrent(generation)) {
        return;
    }
    TearDown();
    if (IsShown(downloadWindow)) {
        DebugTrace(L"Browser process ended: the browser is created again");
        PostMessageW(downloadWindow, WM_LAYOUT_AND_BROWSER, 0, 0);
        return;
    }
    DebugTrace(L"Browser process ended: the browser is created again when the window is shown");
    recreateOnShow_ = true;
}

void RecreateWebBrowser(HWND downloadWindow, WPARAM generation) {
    BrowserHost::Instance().Recreate(downloadWindow, static_cast<unsigned>(generation));
}

void CreateWaitingWebBrowser(HWND downloadWindow) {
    BrowserHost::Instance().OnWindowShown(downloadWindow);
}

void BrowserHost::OnWindowShown(HWND downloadWindow) {
    if (recreateOnShow_) {
        recreateOnShow_ = false;
        PostMessageW(downloadWindow, WM_LAYOUT_AND_BROWSER, 0, 0);
    }
}
