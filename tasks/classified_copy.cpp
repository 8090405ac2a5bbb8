#include "tasks/classified_copy.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tasks/asset_classification.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {

// An unfinished copy is ".<name>.partial-<serial>" beside where the item goes.
constexpr const wchar_t* kPartialMarker = L".partial-";
constexpr const wchar_t* kPartialPattern = L"\\.*.partial-*";

std::atomic<std::uint64_t> g_partialSerial{0};

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

// A name for the unfinished copy of `destination`, beside it, that nothing uses yet.
std::wstring PartialSibling(const std::wstring& destination) {
    const size_t separator = destination.find_last_of(L"\\/");
    const std::wstring folder = destination.substr(0, separator);
    const std::wstring name = destination.substr(separator + 1);
    for (;;) {
        const std::wstring candidate =
            folder + L"\\." + name + kPartialMarker + std::to_wstring(++g_partialSerial);
        if (!PathExists(candidate)) {
            return candidate;
        }
    }
}

// ".<name>.partial-<digits>".
bool IsPartialName(const std::wstring& name) {
    const size_t marker = name.rfind(kPartialMarker);
    const size_t digits = marker + std::char_traits<wchar_t>::length(kPartialMarker);
    if (name.size() < 2 || name[0] != L'.' || marker == std::wstring::npos || marker < 2 ||
        digits == name.size()) {
        return false;
    }
    for (size_t i = digits; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return false;
        }
    }
    return true;
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
    if (!CopyIntoPlace(source, destination, isDirectory)) {
        return false;
    }
    // A source that cannot be deleted is still there: the item was copied, not moved. The copy
    // stays: files already removed from a source tree now live only there.
    if (!isDirectory) {
        return DeleteFileW(source.c_str()) != FALSE;
    }
    return RemoveDirectoryTree(source);
}

bool CopyIntoPlace(const std::wstring& source, const std::wstring& destination, bool isDirectory) {
    if (PathExists(destination)) {
        return false;
    }
    const std::wstring partial = PartialSibling(destination);
    bool copied = isDirectory ? CreateDirectoryW(partial.c_str(), nullptr) != FALSE
                              : CopyFileW(source.c_str(), partial.c_str(), TRUE) != FALSE;
    // What the item shows once filed: a file keeps its own attributes, a new directory none.
    const DWORD attributes = isDirectory ? FILE_ATTRIBUTE_NORMAL : GetFileAttributesW(source.c_str());
    if (copied) {
        SetFileAttributesW(partial.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
        copied = !isDirectory || CopyDirectoryTree(source, partial);
    }
    // A rename never replaces: an item that appeared meanwhile stays as it is.
    if (!copied || !MoveFileW(partial.c_str(), destination.c_str())) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"CopyIntoPlace: %ls not filed (%lu)", destination.c_str(), lastError);
        if (isDirectory) {
            RemoveDirectoryTree(partial);
        } else {
            SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(partial.c_str());
        }
        return false;
    }
    SetFileAttributesW(destination.c_str(), attributes);
    return true;
}

void RemoveUnfinishedCopies(const std::wstring& devDir) {
    std::vector<std::wstring> folders = {devDir};
    std::vector<DirectoryEntry> entries;
    ListDirectory(devDir, &entries);
    for (const DirectoryEntry& entry : entries) {
        if (entry.isDirectory && !entry.isLink) {
            folders.push_back(entry.path);
        }
    }
    for (const std::wstring& folder : ClassificationFolders(devDir)) {
        folders.push_back(folder);
    }
    for (const std::wstring& folder : folders) {
        WIN32_FIND_DATAW data = {};
        UniqueFind find(FindFirstFileW((folder + kPartialPattern).c_str(), &data));
        if (!find) {
            continue;
        }
        do {
            const std::wstring path = folder + L"\\" + data.cFileName;
            if (!IsPartialName(data.cFileName)) {
                continue;
            }
            DebugTrace(L"RemoveUnfinishedCopies: %ls", path.c_str());
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
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
