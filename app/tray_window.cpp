#include "app/tray_window.h"

#include "app/app_messages.h"
#include "app/app_state.h"
#include "ui/download_window.h"

namespace {

LRESULT OnDestroy() {
    g_serverRunning.exchange(false);
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == IDM_TRAY_EXIT) {
        RunExitSequence(window);
    }
    return 0;
}

LRESULT OnShowDownloadWindow() {
    ShowDownloadWindow();
    return 0;
}

LRESULT OnRefreshTrayTip() {
    return 0;
}

}  // namespace

void RefreshTrayTip() {
    if (g_hTrayWnd) {
        PostMessageW(g_hTrayWnd, WM_REFRESH_TRAY_TIP, 0, 0);
    }
}

void RunExitSequence(HWND trayWindow) {
    const HWND downloadWindow = g_hDownloadWnd.exchange(nullptr);
    if (downloadWindow) {
        DestroyWindow(downloadWindow);
    }
    DestroyWindow(trayWindow);
    PostQuitMessage(0);
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY: return OnDestroy();
        case WM_COMMAND: return OnCommand(window, wParam);
        case WM_SHOW_DOWNLOAD_WINDOW: return OnShowDownloadWindow();
        case WM_REFRESH_TRAY_TIP: return OnRefreshTrayTip();
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}
