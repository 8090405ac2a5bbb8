#include "app/tray_window.h"

#include "app/app_exit.h"
#include "base/debug_trace.h"
#include "base/unique_handle.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_runner.h"
#include "ui/control_ids.h"
#include "ui/download_window.h"
#include "ui/ui_state.h"

#include <cwchar>

NOTIFYICONDATAW g_trayIconData = {};

namespace {

constexpr const wchar_t* kTrayTipFormat = L"下载助手 - 端口 %d";
constexpr const wchar_t* kMenuViewTasksText = L"查看下载任务";
constexpr const wchar_t* kMenuExitText = L"退出下载助手";
// Explorer broadcasts this registered message when it (re)starts; the icon must be added again.
constexpr const wchar_t* kTaskbarCreatedMessageName = L"TaskbarCreated";
constexpr const wchar_t* kDoneTitle = L"下载助手";
constexpr const wchar_t* kDoneFormat = L"下载完成：%d 个成功，%d 个失败";

BOOL RealNotifyIcon(DWORD action, NOTIFYICONDATAW* data) {
    return Shell_NotifyIconW(action, data);
}

UINT RealTrackMenu(HMENU menu, int x, int y, HWND owner) {
    return static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner, nullptr));
}

NotifyIconFunction g_notifyIcon = RealNotifyIcon;
TrayMenuTracker g_trackMenu = RealTrackMenu;
// Registered once the tray window exists; 0 (never a real message) before.
UINT g_taskbarCreatedMessage = 0;

// Formats the tip into the record. swprintf cuts at the buffer and always terminates.
void FormatTip(int port) {
    swprintf(g_trayIconData.szTip, sizeof(g_trayIconData.szTip) / sizeof(g_trayIconData.szTip[0]),
             kTrayTipFormat, port);
}

void AddTrayIcon() {
    g_notifyIcon(NIM_ADD, &g_trayIconData);
}

LRESULT OnCreate(HWND window) {
    g_trayIconData = {};
    g_trayIconData.cbSize = sizeof(g_trayIconData);
    g_trayIconData.hWnd = window;
    g_trayIconData.uID = kTrayIconId;
    g_trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_trayIconData.uCallbackMessage = WM_TRAY_CALLBACK;
    g_trayIconData.hIcon = g_hAppIcon;
    FormatTip(GetConfig().port);
    g_taskbarCreatedMessage = RegisterWindowMessageW(kTaskbarCreatedMessageName);
    AddTrayIcon();
    return 0;
}

LRESULT OnDestroy() {
    RemoveTrayIcon();
    return 0;
}

// The session ends: the program must be gone within the few seconds Windows allows, so the exit
// runs now rather than after the message loop.
LRESULT OnEndSession(WPARAM ending) {
    if (ending) {
        ExitApplication();
    }
    return 0;
}

// "查看下载任务": the user wants the tasks, so a hidden list is opened as well.
void ShowDownloadWindowWithTasks() {
    ShowDownloadWindow();
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (downloadWindow && IsWindow(downloadWindow) && !g_taskListVisible) {
        PostMessageW(downloadWindow, WM_COMMAND, IDC_VIEW_TASKS, 0);
    }
}

UINT ShowTrayMenu(HWND window) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without this the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(window);
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) {
        return 0;
    }
    AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_VIEW_TASKS, kMenuViewTasksText);
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_EXIT, kMenuExitText);
    return g_trackMenu(menu.get(), cursor.x, cursor.y, window);
}

void OnRightButtonDown(HWND window) {
    switch (ShowTrayMenu(window)) {
        case IDM_TRAY_VIEW_TASKS:
            ShowDownloadWindowWithTasks();
            break;
        case IDM_TRAY_EXIT:
            ExitApplication();
            break;
        default:
            break;
    }
}

// Classic notification behaviour: lParam is the mouse message itself.
LRESULT OnTrayCallback(HWND window, LPARAM lParam) {
    switch (static_cast<UINT>(lParam)) {
        case WM_LBUTTONDBLCLK:
            ShowDownloadWindow();
            break;
        case NIN_BALLOONUSERCLICK:
            ShowDownloadWindowWithTasks();
            break;
        case WM_RBUTTONDOWN:
            OnRightButtonDown(window);
            break;
        default:
            break;
    }
    return 0;
}

LRESULT OnCommand(WPARAM wParam) {
    if (LOWORD(wParam) == IDM_TRAY_EXIT) {
        ExitApplication();
    }
    return 0;
}

LRESULT OnShowDownloadWindow() {
    ShowDownloadWindow();
    return 0;
}

LRESULT OnRefreshTrayTip() {
    FormatTip(GetConfig().port);
    g_notifyIcon(NIM_MODIFY, &g_trayIconData);
    return 0;
}

// Minimised counts as hidden: either way the user does not see the list change.
bool DownloadWindowSeen() {
    const HWND window = g_hDownloadWnd.load();
    return window && IsWindow(window) && IsWindowVisible(window) && !IsIconic(window);
}

// The end of a batch of downloads, in one balloon. While the window is seen nothing is shown and
// the counts go on to the next balloon; with the word turned off they are dropped.
LRESULT OnDownloadsDone() {
    if (!g_trayIconData.hWnd || (GetConfig().notifyWhenDone && DownloadWindowSeen())) {
        return 0;
    }
    const FinishedCounts counts = TakeFinishedCounts();
    if (!GetConfig().notifyWhenDone || counts.succeeded + counts.failed == 0) {
        return 0;
    }
    NOTIFYICONDATAW balloon = g_trayIconData;
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_INFO;
    swprintf(balloon.szInfo, sizeof(balloon.szInfo) / sizeof(balloon.szInfo[0]), kDoneFormat,
             counts.succeeded, counts.failed);
    wcsncpy(balloon.szInfoTitle, kDoneTitle,
            sizeof(balloon.szInfoTitle) / sizeof(balloon.szInfoTitle[0]) - 1);
    g_notifyIcon(NIM_MODIFY, &balloon);
    return 0;
}

LRESULT OnTaskbarCreated() {
    AddTrayIcon();
    return 0;
}

LRESULT RouteTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_taskbarCreatedMessage != 0 && message == g_taskbarCreatedMessage) {
        return OnTaskbarCreated();
    }
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            return OnDestroy();
        case WM_ENDSESSION:
            return OnEndSession(wParam);
        case WM_TRAY_CALLBACK:
            return OnTrayCallback(window, lParam);
        case WM_COMMAND:
            return OnCommand(wParam);
        case WM_SHOW_DOWNLOAD_WINDOW:
            return OnShowDownloadWindow();
        case WM_REFRESH_TRAY_TIP:
            return OnRefreshTrayTip();
        case WM_DOWNLOADS_DONE:
            return OnDownloadsDone();
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void RefreshTrayTip() {
    if (g_hTrayWnd) {
        PostMessageW(g_hTrayWnd, WM_REFRESH_TRAY_TIP, 0, 0);
    }
}

// The record's window is cleared once the icon is gone, so a second removal asks the shell nothing.
void RemoveTrayIcon() {
    if (g_trayIconData.hWnd) {
        g_notifyIcon(NIM_DELETE, &g_trayIconData);
        g_trayIconData.hWnd = nullptr;
    }
}

void SetNotifyIconFunctionForTesting(NotifyIconFunction function) {
    g_notifyIcon = function ? function : RealNotifyIcon;
}

void SetTrayMenuTrackerForTesting(TrayMenuTracker tracker) {
    g_trackMenu = tracker ? tracker : RealTrackMenu;
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return RouteTrayMessage(window, message, wParam, lParam);
    } catch (...) {
        DebugTrace(L"TrayWndProc: exception in message 0x%04X", message);
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
