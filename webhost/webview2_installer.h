// Downloads and starts Microsoft's runtime bootstrapper for a task the download window created,
// then closes the download window, which ends the program.
#pragma once

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

// The thread body. Reports Downloading at 0, downloads into the task's file path
// (DownloadBootstrapper), and then either reports Failed with kWebView2InstallerFailedText, or
// reports Completed at 100, starts the file, waits two seconds and posts WM_CLOSE to the download
// window. Once the program has begun to end it starts nothing and closes nothing.
void RunWebView2Installer(TaskRef ref);

// Runs RunWebView2Installer(task) on a detached thread that holds a worker lease. Once the program
// has begun to end nothing starts; a thread that cannot be started fails the task.
void StartWebView2Installer(const TaskRef& task);

// True while an installer task waits or runs, or an installer thread has not ended (its task may
// have been cleared from the list): a second one would write the same file.
bool IsWebView2InstallRunning();

// Test seams. How the routine's thread is started (the default starts and detaches a std::thread
// with a lease), and how the downloaded file is started (the default opens it with the shell).
// Null restores the default.
using InstallerThreadLauncher = void (*)(const TaskRef& task);
void SetInstallerThreadLauncherForTesting(InstallerThreadLauncher launcher);
using BootstrapperStarter = void (*)(const std::wstring& path);
void SetBootstrapperStarterForTesting(BootstrapperStarter starter);
