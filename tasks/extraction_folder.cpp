#include "tasks/extraction_folder.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/win32.h"

namespace {

// Siblings tried after the timestamped name; only a burst of equal tasks within one second, or a
// folder that cannot be created at all, gets this far.
constexpr int kMaxNumberedFolders = 1000;
constexpr const wchar_t* kArchiveSuffix = L".zip";

// True when this call created `path`; false when it existed already or cannot be created.
bool CreateNewFolder(const std::wstring& path, bool* exists) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    const DWORD lastError = GetLastError();
    *exists = lastError == ERROR_ALREADY_EXISTS;
    if (!*exists) {
        DebugTrace(L"ClaimExtractionFolder: cannot create %ls (%lu)", path.c_str(), lastError);
    }
    return false;
}

std::wstring ArchiveStem(const std::wstring& archivePath) {
    const size_t slash = archivePath.find_last_of(L"\\/");
    std::wstring stem = slash == std::wstring::npos ? archivePath : archivePath.substr(slash + 1);
    const size_t suffixLength = std::char_traits<wchar_t>::length(kArchiveSuffix);
    if (stem.size() > suffixLength &&
        stem.compare(stem.size() - suffixLength, suffixLength, kArchiveSuffix) == 0) {
        stem.resize(stem.size() - suffixLength);
    }
    return stem;
}

}  // namespace

std::wstring ClaimExtractionFolder(const std::wstring& downloadDir, const std::wstring& name,
                                   const std::wstring& archivePath) {
    CreateDirectoryRecursive(downloadDir);
    bool exists = false;
    const std::wstring plain = downloadDir + L"\\" + name;
    if (CreateNewFolder(plain, &exists)) {
        return plain;
    }
    if (!exists) {
        return std::wstring();
    }
    const std::wstring stamped = downloadDir + L"\\" + ArchiveStem(archivePath);
    if (CreateNewFolder(stamped, &exists)) {
        return stamped;
    }
    for (int number = 2; exists && number <= kMaxNumberedFolders; ++number) {
        const std::wstring numbered = stamped + L"_" + std::to_wstring(number);
        if (CreateNewFolder(numbered, &exists)) {
            return numbered;
        }
    }
    return std::wstring();
}
