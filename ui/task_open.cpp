#include "ui/task_open.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/process_start.h"
#include "tasks/task_table.h"

#include <shellapi.h>

namespace {

// Requests to open one row's folder closer together than this open it once: users double-click
// again while the file manager is still starting, and each request would open another window.
constexpr DWORD kOpenDebounceMs = 500;

int g_lastOpenedIndex = -1;
DWORD g_lastOpenedTick = 0;

bool StartProcessNormally(const std::wstring& commandLine) {
    DWORD error = 0;
    if (!StartProcess(commandLine, SW_SHOWNORMAL, 0, nullptr, &error)) {
        DebugTrace(L"OpenTaskDirectory: explorer did not start (%lu)", error);
        return false;
    }
    return true;
}

void OpenFolderInShell(const std::wstring& folder) {
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

const TaskShellCalls kRealShellCalls = {StartProcessNormally, OpenFolderInShell};
TaskShellCalls g_shellCalls = kRealShellCalls;
TaskListTickSource g_tickSource = GetTickCount;

// Chooses what OpenTaskDirectory shows for a task: a folder, and possibly a file in it to select.
void ChooseTaskOutput(const DownloadTask& task, std::wstring* folder, std::wstring* select) {
    switch (task.status) {
        case TaskStatus::AlreadyExists:
            if (!task.extractDir.empty()) {
                *folder = task.extractDir;
            } else if (!task.filePath.empty()) {
                *folder = ParentDirectory(task.filePath);
            }
            break;
        case TaskStatus::Completed:
        case TaskStatus::Failed:
            if (!task.leftoverDir.empty()) {
                *folder = task.leftoverDir;
            } else if (!task.copyFirstItem.empty()) {
                *folder = ParentDirectory(task.copyFirstItem);
                *select = task.copyFirstItem;
            } else if (!task.copyDestDir.empty()) {
                *folder = task.copyDestDir;
            } else if (!task.extractDir.empty()) {
                *folder = task.extractDir;
            }
            break;
        default:
            break;
    }
}

// By its full path: started by bare name, the program's own folder and the working directory would
// be searched before the Windows folder.
std::wstring ExplorerCommandLine(const std::wstring& select) {
    return L"\"" + WindowsDirectory() + L"\\explorer.exe\" /select,\"" + select + L"\"";
}

void OpenTaskDirectoryUnsafe(int index) {
    const DWORD now = g_tickSource();
    if (index == g_lastOpenedIndex && now - g_lastOpenedTick < kOpenDebounceMs) {
        DebugTrace(L"OpenTaskDirectory debounced (idx=%d, elapsed=%lu)", index,
                   static_cast<unsigned long>(now - g_lastOpenedTick));
        return;
    }
    g_lastOpenedIndex = index;
    g_lastOpenedTick = now;

    std::wstring folder;
    std::wstring select;
    DownloadTask task;
    if (index >= 0 && CopyTaskAt(static_cast<size_t>(index), &task)) {
        ChooseTaskOutput(task, &folder, &select);
    }
    if (folder.empty()) {
        return;
    }
    // A quote inside the path would end the quoted argument early and let the rest of the path
    // become further arguments of explorer; no file name can hold one, so such a path is not real.
    if (!select.empty() && select.find(L'"') == std::wstring::npos) {
        g_shellCalls.startProcess(ExplorerCommandLine(select));
    } else {
        g_shellCalls.openFolder(folder);
    }
}

}  // namespace

void OpenTaskDirectory(int index) {
    try {
        OpenTaskDirectoryUnsafe(index);
    } catch (...) {
        DebugTrace(L"OpenTaskDirectory: out of memory (idx=%d)", index);
    }
}

void SetTaskShellCallsForTesting(const TaskShellCalls* calls) {
    g_shellCalls = calls ? *calls : kRealShellCalls;
}

void SetTaskListTickSourceForTesting(TaskListTickSource source) {
    g_tickSource = source ? source : GetTickCount;
}
