// The table side of the two ways a download request becomes a task (the HTTP API and links in the
// embedded page).
#pragma once

#include "tasks/task_table.h"

#include <string>

// Builds a Pending record: the name cleaned by CleanTaskName, the file path
// downloadDir\<name>_<timestamp>.zip (".zip" is always appended), all other fields empty.
DownloadTask MakeDownloadTask(const std::string& url, const std::string& name, const std::string& category);
