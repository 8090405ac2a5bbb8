#include "ui/task_commands.h"

#include "base/debug_trace.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "ui/download_layout.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "tasks/task_runner.h"
#include "webhost/webview2_installer.h"

#include <commctrl.h>

#include <cstdint>

namespace {

constexpr const wchar_t* kInstallCaption = L"安装 WebView2";
constexpr const wchar_t* kInstallQuestionText =
    L"是否下载并安装 WebView2 浏览器控件?\n\n将下载 WebView2 引导安装程序, 下载完成后自动运行安装";

int AskInstallQuestion(HWND owner) {
    return MessageBoxW(owner, kInstallQuestionText, kInstallCaption, MB_YESNO | MB_ICONQUESTION);
}

InstallQuestion g_askInstall = AskInstallQuestion;
TaskListOperations g_listOperations = {RebuildTaskList, UpdateTaskRow};

// The row must exist both in the table and in the list: a rebuild may still be pending after
// tasks were added or cleared.
void UpdateRow(int row) {
    DownloadTask task;
    if (row < 0 || !CopyTaskAt(static_cast<size_t>(row), &task)) {
        return;
    }
    const int rowCount = static_cast<int>(SendMessageW(g_hTaskList, LVM_GETITEMCOUNT, 0, 0));
    if (row < rowCount) {
        g_listOperations.updateRow(row, task);
    }
}

DownloadTask MakeInstallerTask() {
    DownloadTask task;
    task.url = WebView2BootstrapperUrl();
    task.name = kWebView2InstallerTaskName;
    // The row shows, and a double click opens, the file the installer routine writes.
    task.filePath = WebView2BootstrapperPath();
    task.status = TaskStatus::Queued;
    task.kind = TaskKind::RuntimeInstaller;
    task.progress = 0;
    task.hasFinishTime = false;
    return task;
}

}  // namespace

void OnTaskUpdate(WPARAM wParam) {
    if (!g_hTaskList || !IsWindow(g_hTaskList)) {
        return;
    }
    if (wParam == kAllTasksChanged) {
        g_listOperations.rebuild();
    } else {
        UpdateRow(static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam & 0xFFFFFFFFu)));
    }
    UpdateClearButtonState();
}

void ClearAllTasks(HWND window) {
    ClearTasks();
    if (g_hTaskList && IsWindow(g_hTaskList)) {
        SendMessageW(g_hTaskList, LVM_DELETEALLITEMS, 0, 0);
    }
    if (g_hClearButton && IsWindow(g_hClearButton)) {
        EnableWindow(g_hClearButton, FALSE);
    }
    DebugTrace(L"All tasks cleared, clear button disabled (WM_COMMAND fallback)");
    PostMessageW(window, WM_TASK_UPDATE, kAllTasksChanged, 0);
}

void InstallWebView2Runtime(HWND window) {
    // Checked again after the question: a second click may have queued behind the first.
    if (IsWebView2InstallRunning() || g_askInstall(window) != IDYES || IsWebView2InstallRunning()) {
        return;
    }
    SubmitTask(MakeInstallerTask(), &kWebView2InstallerRoutine);
    NotifyTaskListChanged();
}

void SetInstallQuestionForTesting(InstallQuestion question) {
    g_askInstall = question ? question : AskInstallQuestion;
}

void SetTaskListOperationsForTesting(const TaskListOperations& operations) {
    g_listOperations.rebuild = operations.rebuild ? operations.rebuild : RebuildTaskList;
    g_listOperations.updateRow = operations.updateRow ? operations.updateRow : UpdateTaskRow;
}
