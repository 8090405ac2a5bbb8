// The task journal's format: the task table as UTF-8 JSON with a format version, and the reading
// back of it, which trusts nothing it finds. The file handling (atomic replace, the backup, the
// unreadable file set aside) is in task_journal_file.h.
#pragma once

#include "tasks/task_table.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kTaskJournalVersion = 1;
constexpr const wchar_t* kTaskJournalFileName = L"TarnDown.tasks";
// A journal keeps every unfinished task and at most this many finished ones, the newest.
constexpr size_t kMaxJournalFinishedTasks = 1000;
// Limits a journal's values are held to when read; texts are cut to them when written, so the
// program never writes what it would refuse to read.
constexpr size_t kMaxJournalBytes = 8 * 1024 * 1024;
constexpr size_t kMaxJournalTasks = 5000;
constexpr size_t kMaxJournalUrlBytes = 8192;
constexpr size_t kMaxJournalTextBytes = 1024;  // error, category
constexpr size_t kMaxJournalValidatorBytes = 256;
// Largest body length the journal takes back: 2^53, what every JSON reader holds exactly.
constexpr std::uint64_t kMaxJournalTotal = 9007199254740992ull;
constexpr size_t kMaxJournalPathChars = 1024;

// Where restored paths may point: a task's download, extraction folder and leftovers inside
// `downloadDir`, its copies inside `devDir`. Both as the settings hold them.
struct JournalDirs {
    std::wstring downloadDir;
    std::wstring devDir;
};

// The journal text of `tasks` (in table order): unfinished tasks all, finished ones the newest
// kMaxJournalFinishedTasks.
std::string FormatTaskJournal(const std::vector<DownloadTask>& tasks);

// Reads a journal text. False when anything in it is not what FormatTaskJournal writes: not JSON,
// nested deeper than the format, another version, a value of the wrong type, a status, kind or stage
// outside their words, a progress outside 0-100, an impossible time, a text over its limit, a
// validator that is not printable ASCII, a path that is not absolute or that climbs with "..". A
// well-formed task whose paths lie outside `dirs` (a download folder changed since, or a journal
// written by someone else) is left out; *dropped counts those. Serials are not set.
bool ParseTaskJournal(const std::string& text, const JournalDirs& dirs, std::vector<DownloadTask>* tasks,
                      size_t* dropped);
