// Brings the tasks of the journal back at start-up, before the window or the API shows the table.
#pragma once

#include "tasks/task_table.h"

#include <string>
#include <vector>

constexpr const char* kInterruptedExtractionText = "Interrupted by exit during extraction";
constexpr const char* kInterruptedFilingText = "Interrupted by exit during filing";
constexpr const char* kInterruptedInstallerText = "Interrupted by exit during download";

// What a task recorded by an earlier run becomes in this one. A download that was waiting or
// running waits again (true: its worker is to be started, and it continues the file on disk). A
// task caught in extraction or filing, whose outcome cannot be known, ends failed with the reason,
// so that nothing is extracted or filed a second time unless the user retries. The runtime
// installer's task comes back only as a finished record. Finished tasks stay as they were.
bool PrepareRestoredTask(DownloadTask* task);

// Reads the journal at `journalPath` (or its backup) into the empty table, keeping the order, and
// starts the worker of every download that continues. Returns true when the journal is to be
// written again soon: the table differs from what was read (a task ended as interrupted, tasks
// were left out, the journal was unreadable) or workers were started.
bool RestoreTasks(const std::wstring& journalPath, const std::wstring& downloadDir,
                  const std::wstring& devDir);
