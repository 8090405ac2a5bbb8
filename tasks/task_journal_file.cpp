#include "tasks/task_journal_file.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"

namespace {

// Two starts within one second that both find an unreadable journal get names of their own.
constexpr int kMaxSetAsideNames = 20;
constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

enum class ReadOutcome { Missing, Read, Unreadable };

ReadOutcome ReadJournalBytes(const std::wstring& path, std::string* bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD lastError = GetLastError();
        const bool missing = lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_PATH_NOT_FOUND;
        return missing ? ReadOutcome::Missing : ReadOutcome::Unreadable;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxJournalBytes)) {
        return ReadOutcome::Unreadable;
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes->empty() &&
        (!ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) ||
         got != bytes->size())) {
        return ReadOutcome::Unreadable;
    }
    return ReadOutcome::Read;
}

// Missing, or read and parsed into *load; Unreadable otherwise.
ReadOutcome LoadOne(const std::wstring& path, const JournalDirs& dirs, JournalLoad* load) {
    std::string bytes;
    const ReadOutcome read = ReadJournalBytes(path, &bytes);
    if (read != ReadOutcome::Read) {
        return read;
    }
    return ParseTaskJournal(bytes, dirs, &load->tasks, &load->dropped) ? ReadOutcome::Read
                                                                       : ReadOutcome::Unreadable;
}

std::wstring SetAside(const std::wstring& path) {
    const std::wstring stem = path + kJournalUnreadableSuffix + MakeTimestamp();
    for (int number = 1; number <= kMaxSetAsideNames; ++number) {
        const std::wstring target = number == 1 ? stem : stem + L"_" + std::to_wstring(number);
        if (MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return target;
        }
        const DWORD lastError = GetLastError();
        if (lastError != ERROR_ALREADY_EXISTS && lastError != ERROR_FILE_EXISTS) {
            DebugTrace(L"LoadTaskJournal: cannot move %ls aside (%lu)", path.c_str(), lastError);
            break;
        }
    }
    return std::wstring();
}

}  // namespace

bool WriteTaskJournalFile(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + kJournalTemporarySuffix;
    {
        UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"WriteTaskJournalFile: cannot create %ls (%lu)", temporary.c_str(), lastError);
            return false;
        }
        if (!WriteFileFully(file.get(), text.data(), static_cast<DWORD>(text.size())) ||
            !FlushFileBuffers(file.get())) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"WriteTaskJournalFile: cannot write %ls (%lu)", temporary.c_str(), lastError);
            return false;
        }
    }
    const std::wstring backup = path + kJournalBackupSuffix;
    if (PathExists(path) && !MoveFileExW(path.c_str(), backup.c_str(), kReplaceFlags)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"WriteTaskJournalFile: cannot keep %ls (%lu)", backup.c_str(), lastError);
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), kReplaceFlags)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"WriteTaskJournalFile: cannot replace %ls (%lu)", path.c_str(), lastError);
        return false;
    }
    return true;
}

JournalLoad LoadTaskJournal(const std::wstring& path, const JournalDirs& dirs) {
    JournalLoad load;
    const ReadOutcome journal = LoadOne(path, dirs, &load);
    if (journal == ReadOutcome::Read) {
        return load;
    }
    if (journal == ReadOutcome::Unreadable) {
        load.setAsidePath = SetAside(path);
    }
    load.fromBackup = LoadOne(path + kJournalBackupSuffix, dirs, &load) == ReadOutcome::Read;
    if (!load.fromBackup) {
        load.tasks.clear();
        load.dropped = 0;
    }
    return load;
}
