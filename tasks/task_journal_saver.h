// Keeps the journal file up to date with the task table from a thread of its own, so that neither
// the window nor a worker ever waits for the disk (except a worker that asks to, before a step that
// cannot be undone) and the table's lock is never held while the file is written.
#pragma once

#include <string>

// How often the journal is written at most while tasks only make progress.
constexpr unsigned kJournalSaveIntervalMs = 1000;
// A final status, an emptied table or a kept change is written at once, but never sooner than this
// after the previous write: a burst of tasks ending together (two hundred within a second) is
// gathered into a few writes instead of one flush to the disk per task.
constexpr unsigned kJournalPromptGapMs = 200;
// Longest a worker waits for its change to be kept before it goes on regardless (a disk that
// hangs must not stop the downloads).
constexpr unsigned kJournalKeepWaitMs = 3000;

// Starts the thread and listens to the table. Changes are gathered and written at most once per
// kJournalSaveIntervalMs; a final status or an emptied table is written at once (kJournalPromptGapMs
// after the previous write at the latest). `dirty` asks for
// a save even before the first change. False when the thread cannot be started (the tasks then
// live only as long as the process).
bool StartTaskJournalSaver(const std::wstring& journalPath, bool dirty);

// Stops listening, writes the table one last time and ends the thread. The exit path calls it
// after the workers had their chance to stop.
void StopTaskJournalSaver();

// The number of journal writes so far; for the tests and the benchmark.
unsigned long long TaskJournalSaveCount();
