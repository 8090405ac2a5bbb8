// Shows the download window with a few tasks in different states, for scripts/screenshot.
// Usage: screenshot_host.exe normal|downloader <seconds> [hover]
// With "hover" the pointer rests on the failed task's row, so that its tooltip shows.
// Prints the window's client area on the screen as "x y width height" once it is shown, then runs the window
// until it is closed or the seconds have passed.
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_table.h"
#include "ui/control_ids.h"
#include "ui/download_window.h"
#include "ui/task_list.h"
#include "webhost/runtime_discovery.h"
#include "webhost/webview2_installer.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr UINT_PTR kQuitTimerId = 1;
constexpr UINT_PTR kHoverTimerId = 2;
// After the posted list and layout messages have run.
constexpr UINT kHoverDelayMs = 1000;
constexpr int kFailedRow = 3;

bool RuntimePresent() {
    return true;
}

bool RuntimeAbsent() {
    return false;
}

void AddTask(const char* name, TaskStatus status, int progress, const std::wstring& path,
             const std::wstring& copyDest, const char* error = "") {
    DownloadTask task;
    task.error = error;
    task.name = name;
    task.url = "http://assets.tarn.example/pack.zip";
    task.filePath = path;
    task.copyDestDir = copyDest;
    task.status = status;
    task.progress = progress;
    if (IsFinalStatus(status)) {
        GetLocalTime(&task.finishTime);
        task.hasFinishTime = true;
    }
    AppendTask(task);
}

void SeedTasks() {
    const std::wstring downloads = GetConfig().downloadDir;
    const std::wstring dev = GetConfig().devDir;
    AddTask("角色_战士套装", TaskStatus::Completed, 100, downloads + L"\\角色_战士套装_20261208_101500.zip",
            dev + L"\\anim\\char");
    AddTask("sfx_火焰爆炸", TaskStatus::Downloading, 45, downloads + L"\\sfx_火焰爆炸_20261208_101612.zip",
            L"");
    AddTask("沙漠地图.ZIP", TaskStatus::Extracting, 70, downloads + L"\\沙漠地图.ZIP_20261208_101640.zip",
            L"");
    AddTask("UI图标包", TaskStatus::Failed, 0, downloads + L"\\UI图标包_20261208_101702.zip", L"",
            "HTTP 404 error");
    AddTask("音效合集", TaskStatus::AlreadyExists, 100, downloads + L"\\音效合集_20261208_101730.zip", L"");
    AddTask("WebView2_Installer", TaskStatus::Queued, 0, WebView2BootstrapperPath(), L"");
}

// Rests the pointer on the failed task's row, as a user does to read why it failed.
void CALLBACK HoverFailedRow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    RECT row = {};
    row.left = LVIR_BOUNDS;
    if (!g_hTaskList ||
        !SendMessageW(g_hTaskList, LVM_GETITEMRECT, kFailedRow, reinterpret_cast<LPARAM>(&row))) {
        return;
    }
    POINT point = {row.left + 120, (row.top + row.bottom) / 2};
    const LPARAM client = MAKELPARAM(point.x, point.y);
    ClientToScreen(g_hTaskList, &point);
    SetCursorPos(point.x, point.y);
    SendMessageW(g_hTaskList, WM_MOUSEMOVE, 0, client);
}

void CALLBACK QuitAfterTimeout(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool normal = argc > 1 && std::string(argv[1]) == "normal";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const bool hover = argc > 3 && std::string(argv[3]) == "hover";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    LoadConfigForExecutable(std::wstring(temp) + L"TarnDownScreenshot\\TarnDown.exe");
    SeedTasks();

    SetRuntimeCheckForTesting(normal ? RuntimePresent : RuntimeAbsent);
    ShowDownloadWindow();
    const HWND window = g_hDownloadWnd.load();
    if (!window) {
        return 1;
    }
    NotifyTaskListChanged();
    if (normal) {
        PostMessageW(window, WM_COMMAND, IDC_VIEW_TASKS, 0);
    }
    // Without a window manager the frame Wine paints is not the one users see; the picture shows the
    // client area.
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    std::fflush(stdout);
    if (hover) {
        SetTimer(nullptr, kHoverTimerId, kHoverDelayMs, HoverFailedRow);
    }
    SetTimer(nullptr, kQuitTimerId, static_cast<UINT>(seconds) * 1000, QuitAfterTimeout);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoUninitialize();
    return 0;
}
