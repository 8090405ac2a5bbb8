// The journal on disk: replaced whole and never written in place, with the previous good version
// kept beside it, and read back with that version as the fallback.
#pragma once

#include "tasks/task_journal.h"

#include <string>
#include <vector>

constexpr const wchar_t* kJournalBackupSuffix = L".bak";
constexpr const wchar_t* kJournalTemporarySuffix = L".tmp";
constexpr const wchar_t* kJournalUnreadableSuffix = L".unreadable-";

// Writes `text` to `path` + ".tmp", flushes it to the disk, moves the journal there to `path` +
// ".bak" and the new file into its place, each move written through. A power cut at any moment
// leaves either journal complete: the new one, or the previous one (at `path`, or at ".bak" between
// the two moves). False when a step fails; the earlier files then stay as they were.
bool WriteTaskJournalFile(const std::wstring& path, const std::string& text);

struct JournalLoad {
    std::vector<DownloadTask> tasks;
    bool fromBackup = false;    // the journal was missing or unreadable and ".bak" was read instead
    std::wstring setAsidePath;  // where an unreadable journal was moved; empty when none was
    size_t dropped = 0;         // well-formed tasks left out for paths outside the folders
};

// Reads the journal at `path`, else its ".bak". A journal file that exists but cannot be read is
// never deleted or overwritten: it is moved to `path` + ".unreadable-<YYYYMMDD_HHMMSS>" for the
// user, so that the next save cannot make it the backup. Neither readable: an empty list.
JournalLoad LoadTaskJournal(const std::wstring& path, const JournalDirs& dirs);
