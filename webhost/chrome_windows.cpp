#include "webhost/chrome_windows.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/full_screen.h"

namespace {

constexpr UINT kPlaceFlags = SWP_NOACTIVATE | SWP_SHOWWINDOW;
// Bit 30 of a key message's lParam: the key was already down (an auto-repeat).
constexpr INT kKeyWasDownBit = 1 << 30;

void FitWindow(HWND window, int width, int height) {
    ShowWindow(window, SW_SHOW);
    EnableWindow(window, TRUE);
    SetWindowPos(window, nullptr, 0, 0, width, height, kPlaceFlags);
    UpdateWindow(window);
}

}  // namespace

void ResizeChromeWindows(int width, int height) {
    BrowserHost::Instance().ResizeChromeWindows(width, height);
}

LRESULT CALLBACK ChromeKeySubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return BrowserHost::Instance().ChromeKey(window, message, wParam, lParam);
}

void RestoreChromeWindowProc() {
    BrowserHost::Instance().RestoreChromeWindowProc();
}

HWND BrowserHost::FindOuterChromeWindow() const {
    return hWebViewHost_ ? FindWindowExW(hWebViewHost_, nullptr, kChromeOuterClass, nullptr) : nullptr;
}

void BrowserHost::ResizeChromeWindows(int width, int height) {
    if (!IsHostLive()) {
        return;
    }
    const LONG_PTR style = GetWindowLongPtrW(hWebViewHost_, GWL_STYLE);
    SetWindowLongPtrW(hWebViewHost_, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    const HWND outer = FindOuterChromeWindow();
    if (outer && IsWindow(outer)) {
        FitWindow(outer, width, height);
        if (!origChromeWndProc_) {
            origChromeWndProc_ = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChromeKeySubclassProc)));
        }
        const HWND inner = FindWindowExW(outer, nullptr, kChromeInnerClass, nullptr);
        if (inner && IsWindow(inner)) {
            FitWindow(inner, width, height);
        }
    }
    // The runtime may create its windows later; the host is told its size either way.
    SendMessageW(hWebViewHost_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
}

// F5 reloads the page shown and F11 toggles the full-monitor window; false for other keys.
bool BrowserHost::HandleBrowserKey(HWND window, UINT key) {
    if (key == VK_F5) {
        Reload();
        return true;
    }
    if (key == VK_F11) {
        ToggleFullScreen(GetAncestor(window, GA_ROOT));
        return true;
    }
    return false;
}

LRESULT BrowserHost::ChromeKey(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && HandleBrowserKey(window, static_cast<UINT>(wParam))) {
        return 0;
    }
    if (!origChromeWndProc_) {
        // Teardown already gave the window its procedure back; a message still routed here
        // goes to the window's current procedure.
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return CallWindowProcW(origChromeWndProc_, window, message, wParam, lParam);
}

void BrowserHost::RestoreChromeWindowProc() {
    if (origChromeWndProc_) {
        const HWND outer = FindOuterChromeWindow();
        if (outer && IsWindow(outer)) {
            SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(origChromeWndProc_));
        }
    }
    origChromeWndProc_ = nullptr;
}

// The runtime's own window has the focus, so the keys come through the controller. Both the press
// and the release are marked handled so that the runtime acts on neither; a held key's repeats are
// not acted on again.
HRESULT BrowserHost::OnAcceleratorKeyPressed(unsigned generation, ICoreWebView2Controller*,
                                             ICoreWebView2AcceleratorKeyPressedEventArgs* args) {
    if (!args || !IsCurrent(generation)) {
        return S_OK;
    }
    COREWEBVIEW2_KEY_EVENT_KIND kind = COREWEBVIEW2_KEY_EVENT_KIND_KEY_DOWN;
    UINT key = 0;
    INT keyData = 0;
    if (FAILED(args->get_KeyEventKind(&kind)) || FAILED(args->get_VirtualKey(&key)) ||
        (key != VK_F5 && key != VK_F11)) {
        return S_OK;
    }
    args->put_Handled(TRUE);
    const bool repeat = SUCCEEDED(args->get_KeyEventLParam(&keyData)) && (keyData & kKeyWasDownBit) != 0;
    if (kind == COREWEBVIEW2_KEY_EVENT_KIND_KEY_DOWN && !repeat && IsHostLive()) {
        HandleBrowserKey(hWebViewHost_, key);
    }
    return S_OK;
}
