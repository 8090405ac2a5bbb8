#include "webhost/chrome_windows.h"

#include "base/debug_trace.h"
#include "webhost/browser_navigation.h"
#include "webhost/browser_state.h"
#include "webhost/full_screen.h"

namespace {

constexpr UINT kPlaceFlags = SWP_NOACTIVATE | SWP_SHOWWINDOW;

void FitWindow(HWND window, int width, int height) {
    ShowWindow(window, SW_SHOW);
    EnableWindow(window, TRUE);
    SetWindowPos(window, nullptr, 0, 0, width, height, kPlaceFlags);
    UpdateWindow(window);
}

HWND FindOuterChromeWindow() {
    return g_hWebViewHost ? FindWindowExW(g_hWebViewHost, nullptr, kChromeOuterClass, nullptr) : nullptr;
}

}  // namespace

void ResizeChromeWindows(int width, int height) {
    if (!g_hWebViewHost || !IsWindow(g_hWebViewHost)) {
        return;
    }
    const LONG_PTR style = GetWindowLongPtrW(g_hWebViewHost, GWL_STYLE);
    SetWindowLongPtrW(g_hWebViewHost, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    const HWND outer = FindOuterChromeWindow();
    if (outer && IsWindow(outer)) {
        FitWindow(outer, width, height);
        if (!g_origChromeWndProc) {
            g_origChromeWndProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChromeKeySubclassProc)));
        }
        const HWND inner = FindWindowExW(outer, nullptr, kChromeInnerClass, nullptr);
        if (inner && IsWindow(inner)) {
            FitWindow(inner, width, height);
        }
    }
    // The runtime may create its windows later; the host is told its size either way.
    SendMessageW(g_hWebViewHost, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
}

LRESULT CALLBACK ChromeKeySubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_F5) {
        ReloadWebBrowser();
        return 0;
    }
    if (message == WM_KEYDOWN && wParam == VK_F11) {
        ToggleFullScreen(GetAncestor(window, GA_ROOT));
        return 0;
    }
    if (!g_origChromeWndProc) {
        // Teardown already gave the window its procedure back; a message still routed here
        // goes to the window's current procedure.
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return CallWindowProcW(g_origChromeWndProc, window, message, wParam, lParam);
}

void RestoreChromeWindowProc() {
    if (g_origChromeWndProc) {
        const HWND outer = FindOuterChromeWindow();
        if (outer && IsWindow(outer)) {
            SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_origChromeWndProc));
        }
    }
    g_origChromeWndProc = nullptr;
}
