// Downloads and starts Microsoft's runtime bootstrapper for a task the download window created.
#pragma once

#include "tasks/task_table.h"

// Microsoft's public link to the runtime bootstrapper.
constexpr const char* kWebView2BootstrapperUrl = "https://go.microsoft.com/fwlink/?linkid=2124703";
constexpr const char* kWebView2InstallerTaskName = "WebView2_Installer";
constexpr const wchar_t* kWebView2BootstrapperFileName = L"WebView2_Bootstrapper.exe";

// Runs the installer routine for `task` on a thread of its own.
void StartWebView2Installer(const TaskRef& task);
