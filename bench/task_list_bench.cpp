// How long the task list takes to rebuild every row and to rewrite one row, on a real list view.
// The window rebuilds only when tasks are added or removed and rewrites one row per progress
// report, so the single-row cost is what a running download pays per received block.
// Usage (under Wine with a display): task_list_bench.exe
#include "base/win32.h"
#include "base/window_messages.h"
#include "tasks/task_table.h"
#include "ui/task_commands.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kRowUpdatesPerRun = 2000;
constexpr int kRebuildsPerRun = 5;

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

void FillTable(int count) {
    ClearTasks();
    for (int i = 0; i < count; ++i) {
        DownloadTask task;
        task.name = "asset_pack_" + std::to_string(i);
        task.filePath = L"D:\\TarnDownloads\\asset_pack_" + std::to_wstring(i) + L"_20240101_120000.zip";
        task.status = static_cast<TaskStatus>(i % 8);
        task.progress = i % 101;
        AppendTask(task);
    }
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const HWND parent = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 1000, 400, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
    g_hTaskList =
        CreateWindowExW(0, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                        0, 30, 865, 171, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!parent || !g_hTaskList) {
        std::printf("no window (is a display set?)\n");
        return 1;
    }
    SetupTaskList();
    for (const int count : {10, 100, 1000, 5000}) {
        FillTable(count);
        LARGE_INTEGER start = {};
        LARGE_INTEGER end = {};
        QueryPerformanceCounter(&start);
        for (int run = 0; run < kRebuildsPerRun; ++run) {
            OnTaskUpdate(kAllTasksChanged);
        }
        QueryPerformanceCounter(&end);
        const double rebuild = Milliseconds(start, end) / kRebuildsPerRun;
        QueryPerformanceCounter(&start);
        for (int run = 0; run < kRowUpdatesPerRun; ++run) {
            OnTaskUpdate(static_cast<WPARAM>(run % count));
        }
        QueryPerformanceCounter(&end);
        const double row = Milliseconds(start, end) * 1000.0 / kRowUpdatesPerRun;
        std::printf("%5d tasks: rebuild %8.2f ms, one-row update %7.1f us\n", count, rebuild, row);
    }
    DestroyWindow(parent);
    return 0;
}
