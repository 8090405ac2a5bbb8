// How long the task list takes to rebuild every row and to rewrite one row, each followed by a real
// paint, on the real download window (downloader-only mode, so the list is always shown).
// The window rebuilds only when tasks are added or removed and rewrites one row per progress
// report, so the single-row cost is what a running download pays per received block.
// Usage (under Wine with a display): task_list_bench.exe
#include "base/win32.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_table.h"
#include "ui/download_window.h"
#include "ui/task_commands.h"
#include "ui/task_list.h"
#include "webhost/runtime_discovery.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRowUpdatesPerRun = 2000;
constexpr int kRebuildsPerRun = 5;

bool RuntimeAbsent() {
    return false;
}

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

void RunPostedMessages() {
    MSG message = {};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A new percentage for the task of `row`, as a worker's progress report stores it: the list changes
// (and repaints) a cell only when its text changes.
void Advance(int row, int run) {
    DownloadTask task;
    if (CopyTaskAt(static_cast<size_t>(row), &task)) {
        UpdateTaskFields(TaskRef{static_cast<size_t>(row), task.serial},
                         [run](DownloadTask& changed) { changed.progress = run % 101; });
    }
}

// Paints what the last change invalidated, now, as the next WM_PAINT would.
void Paint(HWND list) {
    RedrawWindow(list, nullptr, nullptr, RDW_UPDATENOW);
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    LoadConfigForExecutable(std::wstring(temp) + L"TarnDownBench\\TarnDown.exe");
    SetRuntimeCheckForTesting(RuntimeAbsent);
    ShowDownloadWindow();
    RunPostedMessages();
    const HWND list = g_hTaskList;
    if (!g_hDownloadWnd.load() || !list || !IsWindowVisible(list)) {
        std::printf("no window (is a display set?)\n");
        return 1;
    }
    std::printf("list %s; times include a paint (RedrawWindow RDW_UPDATENOW) after each change\n",
                "of the downloader-only window");
    for (const int count : {10, 100, 1000, 5000}) {
        FillTable(count);
        RunPostedMessages();
        LARGE_INTEGER start = {};
        LARGE_INTEGER end = {};
        QueryPerformanceCounter(&start);
        for (int run = 0; run < kRebuildsPerRun; ++run) {
            OnTaskUpdate(kAllTasksChanged);
            Paint(list);
        }
        QueryPerformanceCounter(&end);
        const double rebuild = Milliseconds(start, end) / kRebuildsPerRun;

        // Every row in turn: most of them are scrolled out of view, so most updates paint nothing.
        QueryPerformanceCounter(&start);
        for (int run = 0; run < kRowUpdatesPerRun; ++run) {
            Advance(run % count, run);
            OnTaskUpdate(static_cast<WPARAM>(run % count));
            Paint(list);
        }
        QueryPerformanceCounter(&end);
        const double anyRow = Milliseconds(start, end) * 1000.0 / kRowUpdatesPerRun;

        // The rows on screen, as a running download at the bottom of the list updates its own.
        const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        int visible = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
        visible = visible < 1 ? 1 : visible;
        QueryPerformanceCounter(&start);
        for (int run = 0; run < kRowUpdatesPerRun; ++run) {
            Advance(top + run % visible, run);
            OnTaskUpdate(static_cast<WPARAM>(top + run % visible));
            Paint(list);
        }
        QueryPerformanceCounter(&end);
        const double shownRow = Milliseconds(start, end) * 1000.0 / kRowUpdatesPerRun;
        std::printf(
            "%5d tasks: rebuild %8.2f ms, one-row update %7.1f us (any row), %7.1f us (row on screen)\n",
            count, rebuild, anyRow, shownRow);
    }
    DestroyWindow(g_hDownloadWnd.load());
    return 0;
}
