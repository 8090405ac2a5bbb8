#include "base/file_system.h"

#include "base/win32.h"

#include <vector>

namespace {

constexpr DWORD kModulePathStartChars = MAX_PATH;
// Long-path aware systems allow paths of up to this many characters.
constexpr DWORD kModulePathMaxChars = 32768;

}  // namespace

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsRegularFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryRecursive(const std::wstring& path) {
    if (path.empty()) {
        return false;
    }
    std::wstring prefix;
    prefix.reserve(path.size());
    for (wchar_t ch : path) {
        prefix.push_back(ch);
        // Never create the drive root itself ("D:\" is three characters).
        if ((ch == L'\\' || ch == L'/') && prefix.size() > 3) {
            CreateDirectoryW(prefix.c_str(), nullptr);
        }
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    return PathExists(path);
}

// Everything before the last path separator; a drive root keeps its backslash ("C:\a.zip" gives
// "C:\"). Empty when the path names no folder.
std::wstring ParentDirectory(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    if (separator == 2 && path[1] == L':') {
        return path.substr(0, 3);
    }
    return path.substr(0, separator);
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(kModulePathStartChars);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size() || buffer.size() >= kModulePathMaxChars) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ExecutableDirectory() {
    const std::wstring path = ExecutablePath();
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

namespace {

// GetSystemDirectoryW and GetWindowsDirectoryW share this contract: the length copied, or the
// buffer size needed (terminator included) when the buffer is too small, or 0 on failure.
std::wstring SystemFolder(UINT (*query)(LPWSTR, UINT)) {
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = query(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size()) {
        return std::wstring();
    }
    std::wstring folder(buffer.data(), length);
    while (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

UINT QuerySystemDirectory(LPWSTR buffer, UINT size) {
    return GetSystemDirectoryW(buffer, size);
}

UINT QueryWindowsDirectory(LPWSTR buffer, UINT size) {
    return GetWindowsDirectoryW(buffer, size);
}

}  // namespace

std::wstring SystemDirectory() {
    return SystemFolder(QuerySystemDirectory);
}

std::wstring WindowsDirectory() {
    return SystemFolder(QueryWindowsDirectory);
}

std::wstring TempDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length >= buffer.size()) {
        return std::wstring();
    }
    std::wstring directory(buffer.data(), length);
    if (directory.back() != L'\\') {
        directory += L'\\';
    }
    return directory;
}

std::wstring ReadEnvironmentVariable(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return std::wstring();
    }
    std::wstring value(needed, L'\0');
    const DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(written < needed ? written : 0);
    return value;
}

bool WriteFileFully(HANDLE file, const void* data, DWORD size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, next, size, &written, nullptr)) {
            return false;
        }
        if (written == 0) {
            SetLastError(ERROR_HANDLE_DISK_FULL);
            return false;
        }
        next += written;
        size -= written;
    }
    return true;
}
