#include "webhost/chrome_windows.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/full_screen.h"

namespace {

constexpr UINT kPlaceFlags = SWP_NOACTIVATE | SWP_SHOWWINDOW;

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

LRESULT BrowserHost::ChromeKey(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_F5) {
        Reload();
        return 0;
    }
    if (message == WM_KEYDOWN && wParam == VK_F11) {
        ToggleFullScreen(GetAncestor(window, GA_ROOT));
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
