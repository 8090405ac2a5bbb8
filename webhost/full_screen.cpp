#include "webhost/full_screen.h"

#include "webhost/browser_state.h"

namespace {

constexpr UINT kMoveFlags = SWP_NOZORDER | SWP_NOACTIVATE;

}  // namespace

void ToggleFullScreen(HWND window) {
    g_fullScreen = !g_fullScreen;
    if (g_fullScreen) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
            return;
        }
        const RECT& area = monitor.rcMonitor;
        SetWindowPos(window, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     kMoveFlags);
        return;
    }
    const int width = g_webView2Missing ? kDownloaderOnlyWindowedWidth : kWindowedWidth;
    const int height = g_webView2Missing ? kDownloaderOnlyWindowedHeight : kWindowedHeight;
    SetWindowPos(window, nullptr, kWindowedX, kWindowedY, width, height, kMoveFlags);
}
