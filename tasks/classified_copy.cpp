#include "tasks/classified_copy.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tasks/asset_classification.h"

#include <mutex>
#include <vector>

namespace {

// Held for a whole ClassifiedCopy call: the existence test and the move of each entry must not
// interleave with another task's, or both could find a destination free and one item would
// replace the other.
std::mutex g_classifiedCopyMutex;

struct DirectoryEntry {
    std::wstring path;
    std::wstring name;
    bool isDirectory = false;
    bool isLink = false;
};

bool IsDotOrDotDot(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Every entry but "." and ".."; false when the directory cannot be listed.
bool ListDirectory(const std::wstring& directory, std::vector<DirectoryEntry>* entries) {
    WIN32_FIND_DATAW data = {};
    UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
    if (!find) {
        return false;
    }
    do {
        if (IsDotOrDotDot(data.cFileName)) {
            continue;
        }
        DirectoryEntry entry;
        entry.name = data.cFileName;
        entry.path = directory + L"\\" + entry.name;
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries->push_back(std::move(entry));
    } while (FindNextFileW(find.get(), &data));
    return true;
}

bool IsEmptyDirectory(const std::wstring& path) {
    std::vector<DirectoryEntry> entries;
    return ListDirectory(path, &entries) && entries.empty();
}

}  // namespace

bool RemoveDirectoryTree(const std::wstring& path) {
    std::vector<DirectoryEntry> entries;
    ListDirectory(path, &entries);
    for (const DirectoryEntry& entry : entries) {
        SetFileAttributesW(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.isDirectory && !entry.isLink) {
            RemoveDirectoryTree(entry.path);
        } else if (entry.isDirectory) {
            RemoveDirectoryW(entry.path.c_str());
        } else {
            DeleteFileW(entry.path.c_str());
        }
    }
    RemoveDirectoryW(path.c_str());
    return !PathExists(path);
}

bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination) {
    CreateDirectoryRecursive(destination);
    std::vector<DirectoryEntry> entries;
    if (!ListDirectory(source, &entries)) {
        return false;
    }
    bool complete = true;
    for (const DirectoryEntry& entry : entries) {
        const std::wstring target = destination + L"\\" + entry.name;
        if (entry.isLink) {
            // A link may point anywhere; copying what it points to could pull in files from
            // outside the tree, so the tree counts as not copyable.
            complete = false;
        } else if (entry.isDirectory) {
            complete = CopyDirectoryTree(entry.path, target) && complete;
        } else if (!CopyFileW(entry.path.c_str(), target.c_str(), TRUE)) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"CopyDirectoryTree: cannot copy %ls (%lu)", entry.path.c_str(), lastError);
            complete = false;
        }
    }
    return complete;
}

bool MoveItemByCopy(const std::wstring& source, const std::wstring& destination, bool isDirectory) {
    if (!isDirectory) {
        if (!CopyFileW(source.c_str(), destination.c_str(), TRUE)) {
            return false;
        }
        // A source that cannot be deleted is still there: the item was copied, not moved.
        return DeleteFileW(source.c_str()) != FALSE;
    }
    if (PathExists(destination)) {
        return false;
    }
    if (!CopyDirectoryTree(source, destination)) {
        // The destination did not exist before, so what is there is this call's partial copy.
        RemoveDirectoryTree(destination);
        return false;
    }
    // The copy stays: files already removed from the source now live only there. The entry is
    // not reported as moved while part of it is still in the source.
    return RemoveDirectoryTree(source);
}

bool MoveItem(const std::wstring& source, const std::wstring& destination, bool isDirectory) {
    if (MoveFileW(source.c_str(), destination.c_str())) {
        return true;
    }
    const DWORD lastError = GetLastError();
    DebugTrace(L"MoveItem: rename of %ls failed (%lu)", source.c_str(), lastError);
    // Only another drive is a reason to copy. Any other failure (a file another process still
    // has open for writing, a lock, no access) would copy it half-written and count it as moved.
    if (lastError != ERROR_NOT_SAME_DEVICE) {
        return false;
    }
    return MoveItemByCopy(source, destination, isDirectory);
}

// Takes g_classifiedCopyMutex for the whole call (file work only; no other lock is taken inside).
ClassifiedCopyResult ClassifiedCopy(const std::wstring& sourceDir, const std::wstring& devDir) {
    std::lock_guard<std::mutex> lock(g_classifiedCopyMutex);
    ClassifiedCopyResult result;
    std::vector<DirectoryEntry> entries;
    if (!ListDirectory(sourceDir, &entries)) {
        return result;
    }

    bool anyLeftBehind = false;
    for (const DirectoryEntry& entry : entries) {
        if (entry.name[0] == L'.') {
            continue;
        }
        const std::wstring destinationDir = ClassifyAsset(devDir, entry.name, entry.isDirectory);
        if (destinationDir.empty()) {
            anyLeftBehind = true;
            continue;
        }
        CreateDirectoryRecursive(destinationDir);
        const std::wstring destination = destinationDir + L"\\" + entry.name;
        if (result.firstDestDir.empty()) {
            result.firstDestDir = destinationDir;
        }
        if (PathExists(destination)) {
            ++result.existingCount;
            continue;
        }
        if (!MoveItem(entry.path, destination, entry.isDirectory)) {
            ++result.notMovedCount;
            anyLeftBehind = true;
        }
        if (result.firstMovedPath.empty()) {
            result.firstMovedPath = destination;
        }
    }

    if (anyLeftBehind) {
        result.leftoverDir = sourceDir;
    } else if (IsEmptyDirectory(sourceDir)) {
        RemoveDirectoryW(sourceDir.c_str());
    }
    return result;
}
