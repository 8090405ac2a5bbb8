#include "webhost/webview2_installer.h"

#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/win32.h"
#include "state/app_state.h"
#include "state/program_exit.h"
#include "webhost/bootstrapper_download.h"

#include <objbase.h>
#include <shellapi.h>

#include <atomic>

namespace {

// Time the bootstrapper gets to show itself before the program ends.
constexpr DWORD kCloseDelayMs = 2000;
// The wait checks this often whether the program is already ending.
constexpr DWORD kExitCheckMs = 100;

// The shell may hand the verb to COM objects, which need the calling thread in an apartment.
void OpenWithShell(const std::wstring& path) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

BootstrapperStarter g_starter = OpenWithShell;
// Installer routines between their start and their end: a task cleared from the list may still have
// one writing the bootstrapper's file.
std::atomic<int> g_runningInstallers{0};

void ReportFailure(const TaskRef& ref) {
    UpdateTaskStatus(ref, TaskStatus::Failed, 0, kWebView2InstallerFailedText);
}

// False when the program began to end during the wait.
bool WaitBeforeClosing() {
    for (DWORD waited = 0; waited < kCloseDelayMs; waited += kExitCheckMs) {
        if (IsExitStarted()) {
            return false;
        }
        Sleep(kExitCheckMs);
    }
    return !IsExitStarted();
}

void RunInstaller(const TaskRef& ref) {
    DownloadTask task;
    if (!CopyTask(ref, &task)) {
        return;
    }
    UpdateTaskStatus(ref, TaskStatus::Downloading, 0, std::string());
    const ProgressCallback progress = [&ref](int percent) {
        UpdateTaskStatus(ref, TaskStatus::Downloading, percent, std::string());
    };
    if (!DownloadBootstrapper(task.filePath, progress)) {
        ReportFailure(ref);
        return;
    }
    UpdateTaskStatus(ref, TaskStatus::Completed, 100, std::string());
    if (IsExitStarted()) {
        return;
    }
    g_starter(task.filePath);
    if (!WaitBeforeClosing()) {
        return;
    }
    const HWND window = g_hDownloadWnd.load();
    if (window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

}  // namespace

std::string WebView2BootstrapperUrl() {
    return "https://" + WideToUtf8(kWebView2LinkHost) + WideToUtf8(kWebView2LinkPath);
}

std::wstring WebView2BootstrapperPath() {
    return TempDirectory() + kWebView2BootstrapperFileName;
}

void RunWebView2Installer(const TaskRef& ref) {
    struct Running {
        Running() { ++g_runningInstallers; }
        ~Running() { --g_runningInstallers; }
    } running;
    RunInstaller(ref);
}

bool IsWebView2InstallRunning() {
    if (g_runningInstallers.load() > 0) {
        return true;
    }
    for (const DownloadTask& task : SnapshotTasks()) {
        if (task.kind == TaskKind::RuntimeInstaller && !IsFinalStatus(task.status)) {
            return true;
        }
    }
    return false;
}

const TaskRoutine kWebView2InstallerRoutine = {RunWebView2Installer, kWebView2InstallerFailedText};

void SetBootstrapperStarterForTesting(BootstrapperStarter starter) {
    g_starter = starter ? starter : OpenWithShell;
}
