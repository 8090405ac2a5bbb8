// Downloads and starts Microsoft's runtime bootstrapper for a task the download window created,
// then closes the download window, which ends the program.
#pragma once

#include "tasks/task_runner.h"
#include "tasks/task_table.h"

#include <string>

constexpr const char* kWebView2InstallerTaskName = "WebView2_Installer";
constexpr const wchar_t* kWebView2BootstrapperFileName = L"WebView2_Bootstrapper.exe";
// The task's error text for every failure.
constexpr const char* kWebView2InstallerFailedText = "下载失败";

// The link the task shows as its URL: https:// + kWebView2LinkHost + kWebView2LinkPath (UTF-8).
std::string WebView2BootstrapperUrl();
// Where the routine writes the bootstrapper: the temporary folder + kWebView2BootstrapperFileName.
std::wstring WebView2BootstrapperPath();

// The routine of the installer's task, run by the task runner on a thread of its own. Reports
// Downloading at 0, downloads into the task's file path (DownloadBootstrapper), and then either
// reports Failed with kWebView2InstallerFailedText, or reports Completed at 100, starts the file,
// waits two seconds and posts WM_CLOSE to the download window. Once the program has begun to end it
// starts nothing and closes nothing. An exception fails the task with the same text.
void RunWebView2Installer(const TaskRef& ref);
extern const TaskRoutine kWebView2InstallerRoutine;

// True while an installer task waits or runs, or an installer routine has not ended (its task may
// have been cleared from the list): a second one would write the same file.
bool IsWebView2InstallRunning();

// Test seam: how the downloaded file is started (the default opens it with the shell). Null
// restores the default.
using BootstrapperStarter = void (*)(const std::wstring& path);
void SetBootstrapperStarterForTesting(BootstrapperStarter starter);
