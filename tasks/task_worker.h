// The body of each task's own thread: download, then extraction and the classified copy as the
// settings say.
#pragma once

#include "tasks/task_table.h"

void RunTaskWorker(TaskRef ref);
