#include "ui/download_window.h"

#include "base/debug_trace.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/program_exit.h"
#include "ui/control_ids.h"
#include "ui/download_controls.h"
#include "ui/download_layout.h"
#include "ui/settings_strip.h"
#include "ui/task_commands.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "webhost/browser_creation.h"
#include "webhost/browser_errors.h"
#include "webhost/browser_host_window.h"
#include "webhost/browser_layout.h"
#include "webhost/browser_navigation.h"
#include "webhost/browser_state.h"
#include "webhost/browser_teardown.h"
#include "webhost/full_screen.h"
#include "webhost/runtime_discovery.h"

#include <commctrl.h>

#include <atomic>

namespace {

constexpr const wchar_t* kViewTasksText = L"查看任务";
constexpr const wchar_t* kHideTasksText = L"隐藏任务";
constexpr DWORD kDownloaderOnlyStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr LONG kNormalMinTrackWidth = 1202;
constexpr LONG kNormalMinTrackHeight = 750;
constexpr LONG kDownloaderOnlyMinTrackWidth = 900;
constexpr LONG kDownloaderOnlyMinTrackHeight = 150;
constexpr LONG kDownloaderOnlyMaxTrackWidth = 2000;
constexpr LONG kDownloaderOnlyMaxTrackHeight = 1500;

// The thread that created the download window, remembered for the life of the process, so that a
// request from another thread is always handed to the thread that owns the windows.
std::atomic<DWORD> g_uiThreadId{0};

// The thread that owns the program's windows: the download window's once it was created, before
// that the tray window's. Without either (a process that has only this window), the caller's.
DWORD UiThreadId() {
    const DWORD remembered = g_uiThreadId.load();
    if (remembered != 0) {
        return remembered;
    }
    if (g_hTrayWnd && IsWindow(g_hTrayWnd)) {
        return GetWindowThreadProcessId(g_hTrayWnd, nullptr);
    }
    return GetCurrentThreadId();
}

// From another thread nothing is done synchronously to the window: a blocking show would make the
// calling thread (the HTTP server) wait for the UI thread.
void RequestShowOnUiThread() {
    if (g_hTrayWnd && IsWindow(g_hTrayWnd)) {
        PostMessageW(g_hTrayWnd, WM_SHOW_DOWNLOAD_WINDOW, 0, 0);
        return;
    }
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (downloadWindow && IsWindow(downloadWindow)) {
        ShowWindowAsync(downloadWindow, IsIconic(downloadWindow) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(downloadWindow);
    }
}

void BringForward(HWND window) {
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
}

void RegisterDownloadWindowClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DownloadWndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = g_hAppIcon;
    windowClass.hIconSm = g_hAppIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kDownloadWindowClass;
    RegisterClassExW(&windowClass);
}

RECT WorkArea() {
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return work;
}

// The frame that gives the downloader-only window its exact client size, whatever the borders.
SIZE DownloaderOnlyFrameSize(HWND window) {
    RECT frame = {};
    RECT client = {};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    const int frameWidth = frame.right - frame.left;
    const int frameHeight = frame.bottom - frame.top;
    const SIZE size{kDownloaderOnlyClientWidth + 2 * ((frameWidth - client.right) / 2),
                    kDownloaderOnlyClientHeight + (frameHeight - client.bottom)};
    DebugTrace(L"Resizing: frame %dx%d (client %dx%d) -> frame %dx%d for client 980x200", frameWidth,
               frameHeight, client.right, client.bottom, size.cx, size.cy);
    return size;
}

void PlaceDownloadWindow(HWND window) {
    const SIZE size = g_webView2Missing ? DownloaderOnlyFrameSize(window)
                                        : SIZE{kDownloadWindowWidth, kDownloadWindowHeight};
    const POINT position = CentredWindowPosition(WorkArea(), size.cx, size.cy);
    if (g_webView2Missing) {
        DebugTrace(L"Centering window at (%d, %d)", position.x, position.y);
    }
    SetWindowPos(window, nullptr, position.x, position.y, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    if (g_webView2Missing) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
        RECT frame = {};
        RECT client = {};
        GetWindowRect(window, &frame);
        GetClientRect(window, &client);
        DebugTrace(L"Final: pos=(%d,%d) frame %dx%d, client %dx%d", frame.left, frame.top,
                   frame.right - frame.left, frame.bottom - frame.top, client.right, client.bottom);
    }
}

void CreateDownloadWindow() {
    RegisterDownloadWindowClass();
    g_webView2Missing = !CheckWebView2Runtime();
    DebugTrace(L"Pre-check: WebView2 missing = %d", g_webView2Missing ? 1 : 0);
    const DWORD style = g_webView2Missing ? kDownloaderOnlyStyle : WS_OVERLAPPEDWINDOW;
    const HWND window = CreateWindowExW(
        WS_EX_APPWINDOW, kDownloadWindowClass, kDownloadWindowTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
        kDownloadWindowWidth, kDownloadWindowHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        const DWORD error = GetLastError();
        DebugTrace(L"CreateWindowExW(download window) failed: %lu", error);
        return;
    }
    g_hDownloadWnd.store(window);
    g_uiThreadId.store(GetCurrentThreadId());
    if (g_hAppIcon) {
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_hAppIcon));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_hAppIcon));
    }
    PlaceDownloadWindow(window);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
}

LRESULT OnSize(HWND window, WPARAM sizeType) {
    // A minimised window has no client area to lay out; the restore brings a WM_SIZE of its own.
    if (sizeType != SIZE_MINIMIZED) {
        LayoutOnSize(window);
        CreateWaitingWebBrowser(window);
    }
    return 0;
}

void OnGetMinMaxInfo(LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    if (g_webView2Missing) {
        info->ptMinTrackSize = POINT{kDownloaderOnlyMinTrackWidth, kDownloaderOnlyMinTrackHeight};
        info->ptMaxTrackSize = POINT{kDownloaderOnlyMaxTrackWidth, kDownloaderOnlyMaxTrackHeight};
    } else {
        info->ptMinTrackSize = POINT{kNormalMinTrackWidth, kNormalMinTrackHeight};
    }
}

// Only a normal-mode window can hide its list; the downloader-only list is always shown.
void ToggleTaskList(HWND window) {
    if (g_webView2Missing) {
        return;
    }
    g_taskListVisible = !g_taskListVisible;
    ShowTaskListBand(window, g_taskListVisible);
    if (g_hViewTasksButton) {
        SetWindowTextW(g_hViewTasksButton, g_taskListVisible ? kHideTasksText : kViewTasksText);
    }
    PostMessageW(window, WM_LAYOUT_AND_BROWSER, 0, 0);
}

void OnCommand(HWND window, WPARAM wParam) {
    const int id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    if (id == IDC_DOWNLOAD_DIR || id == IDC_DEV_DIR) {
        if (code == EN_CHANGE) {
            OnDirectoryEditChanged(window, id);
        } else if (code == EN_KILLFOCUS) {
            OnDirectoryEditLeft(window, id);
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    switch (id) {
        case IDC_BROWSE_DOWNLOAD_DIR:
        case IDC_BROWSE_DEV_DIR:
            BrowseForDirectory(window, id);
            break;
        case IDC_AUTO_EXTRACT:
        case IDC_AUTO_COPY:
            OnTickBoxClicked(window, id);
            break;
        case IDC_VIEW_TASKS:
            ToggleTaskList(window);
            break;
        case IDC_CLEAR_TASKS:
            ClearAllTasks(window);
            break;
        case IDC_INSTALL_WEBVIEW2:
            InstallWebView2Runtime(window);
            break;
        default:
            break;
    }
}

static_assert(IDC_WEB_PAGE == kWebPageAreaId, "the browser finds the page area by this id");

void OnLayoutAndBrowser(HWND window) {
    const HWND pageArea = GetDlgItem(window, IDC_WEB_PAGE);
    if (pageArea && IsWindow(pageArea) &&
        CreateWebBrowserControl(pageArea) == BrowserCreation::RuntimeMissing) {
        LayoutForMissingRuntime(window);
    }
    LayoutPageAreaAndList(window);
    if (FitWebBrowserAfterLayout(window, ClientWidth(window), BrowserHeight(window))) {
        RaiseTaskBand();
    }
}

void OnKeyDown(HWND window, WPARAM key) {
    if (key == VK_F5) {
        ReloadWebBrowser();
    } else if (key == VK_F11) {
        ToggleFullScreen(window);
    }
}

LRESULT OnControlColour(WPARAM wParam) {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

// The list opens the task's folder itself; its double click must not be acted on again here.
bool IsListDoubleClickInProgress(LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    return header && header->code == static_cast<UINT>(NM_DBLCLK) && g_listDblClickActive;
}

LRESULT OnNotify(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsListDoubleClickInProgress(lParam)) {
        return 0;
    }
    LRESULT result = 0;
    if (OnTaskListParentNotify(lParam, &result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Closing the window ends the program, through its one exit path.
LRESULT OnClose() {
    RequestProgramExit();
    return 0;
}

LRESULT OnEndSession(WPARAM ending) {
    if (ending) {
        RequestProgramExit();
    }
    return 0;
}

// The browser goes before its parent window's children do. A window destroyed any other way than
// through the exit path still ends the program.
LRESULT OnDestroy(HWND window) {
    DestroyWebBrowserControl();
    if (g_hTaskList && IsWindow(g_hTaskList)) {
        DestroyWindow(g_hTaskList);
    }
    g_hTaskList = nullptr;
    g_hClearButton = nullptr;
    g_hViewTasksButton = nullptr;
    g_hInstallButton = nullptr;
    g_hWebPage = nullptr;
    HWND expected = window;
    g_hDownloadWnd.compare_exchange_strong(expected, nullptr);
    if (!IsExitStarted()) {
        RequestProgramExit();
    }
    return 0;
}

// The browser's messages: its creation chain, its failures, and where the window went.
void RouteBrowserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LAYOUT_AND_BROWSER:
            OnLayoutAndBrowser(window);
            break;
        case WM_WEBVIEW2_INIT:
            OnWebView2Init();
            break;
        case WM_WEBVIEW2_READY:
            OnWebView2Ready();
            break;
        case WM_DEFERRED_NAVIGATE:
            HandleDeferredNavigate();
            break;
        case WM_BROWSER_ERROR:
            ShowPostedBrowserError(wParam, lParam);
            break;
        case WM_MOVE:
            NotifyWebBrowserMoved();
            break;
        case WM_SHOWWINDOW:
            if (wParam) {
                CreateWaitingWebBrowser(window);
            }
            break;
        case WM_BROWSER_RECREATE:
            RecreateWebBrowser(window, wParam);
            break;
        default:
            break;
    }
}

LRESULT RouteDownloadMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateDownloadControls(window);
            return 0;
        case WM_SIZE:
            return OnSize(window, wParam);
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(lParam);
            break;
        case WM_COMMAND:
            OnCommand(window, wParam);
            break;
        case WM_TASK_UPDATE:
            OnTaskUpdate(wParam);
            return 0;
        case WM_KEYDOWN:
            OnKeyDown(window, wParam);
            break;
        case WM_NOTIFY:
            return OnNotify(window, message, wParam, lParam);
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            return OnControlColour(wParam);
        case WM_CLOSE:
            return OnClose();
        case WM_ENDSESSION:
            return OnEndSession(wParam);
        case WM_DESTROY:
            return OnDestroy(window);
        default:
            RouteBrowserMessage(window, message, wParam, lParam);
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

POINT CentredWindowPosition(const RECT& workArea, int width, int height) {
    LONG x = workArea.left + (workArea.right - workArea.left - width) / 2;
    LONG y = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    return POINT{x < 0 ? 0 : x, y < 0 ? 0 : y};
}

void ShowDownloadWindow() {
    if (IsExitStarted()) {
        return;
    }
    if (GetCurrentThreadId() != UiThreadId()) {
        RequestShowOnUiThread();
        return;
    }
    const HWND existing = g_hDownloadWnd.load();
    if (existing) {
        BringForward(existing);
        return;
    }
    CreateDownloadWindow();
}

LRESULT CALLBACK DownloadWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return RouteDownloadMessage(window, message, wParam, lParam);
    } catch (...) {
        DebugTrace(L"DownloadWndProc: exception in message 0x%04X", message);
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
