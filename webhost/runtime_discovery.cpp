#include "webhost/runtime_discovery.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"

#include <vector>

namespace {

constexpr const wchar_t* kRuntimeKey64 = L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeWebView\\Application";
constexpr const wchar_t* kRuntimeKey = L"SOFTWARE\\Microsoft\\EdgeWebView\\Application";
constexpr const wchar_t* kRuntimeExecutable = L"msedgewebview2.exe";
// Room for the default value on the first read; a longer one is read again at its full size.
constexpr DWORD kRegistryValueChars = 260;

HKEY g_registryRoot = HKEY_LOCAL_MACHINE;
RuntimeCheck g_runtimeCheck = nullptr;

// True when the key opens and its default value reads with a non-NUL first character. The value's
// type is not looked at: any non-empty data names an installation.
bool RegistryNamesRuntime(const wchar_t* subKey, REGSAM access) {
    UniqueRegKey key;
    if (RegOpenKeyExW(g_registryRoot, subKey, 0, access, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<wchar_t> value(kRegistryValueChars, L'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    LONG status =
        RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &bytes);
    if (status == ERROR_MORE_DATA) {
        value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                  &bytes);
    }
    return status == ERROR_SUCCESS && value[0] != L'\0';
}

// The greatest name, in text order, of the version folders under `folder` that start with a digit
// and hold the runtime executable; empty when there is none.
std::wstring BestVersionFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry = {};
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) {
        return std::wstring();
    }
    std::wstring best;
    do {
        const std::wstring name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.empty() || name[0] < L'0' ||
            name[0] > L'9') {
            continue;
        }
        if (IsRegularFile(folder + L"\\" + name + L"\\" + kRuntimeExecutable) && name > best) {
            best = name;
        }
    } while (FindNextFileW(find.get(), &entry));
    return best;
}

}  // namespace

bool IsWebView2RuntimeAvailable() {
    if (RegistryNamesRuntime(kRuntimeKey64, KEY_READ | KEY_WOW64_64KEY)) {
        return true;
    }
    if (RegistryNamesRuntime(kRuntimeKey, KEY_READ)) {
        return true;
    }
    return !FindWebView2RuntimeFolder().empty();
}

std::wstring FindWebView2RuntimeFolder() {
    const std::wstring programFiles = ReadEnvironmentVariable(L"ProgramFiles");
    const std::wstring programFilesX86 = ReadEnvironmentVariable(L"ProgramFiles(x86)");
    const std::wstring localAppData = ReadEnvironmentVariable(L"LOCALAPPDATA");
    const struct {
        const std::wstring& base;
        const wchar_t* rest;
    } candidates[] = {
        {programFilesX86, L"\\Microsoft\\EdgeWebView\\Application"},
        {programFiles, L"\\Microsoft\\EdgeWebView\\Application"},
        {localAppData, L"\\Microsoft\\EdgeWebView\\Application"},
        {programFilesX86, L"\\Microsoft\\Edge\\Application"},
    };
    for (const auto& candidate : candidates) {
        if (candidate.base.empty()) {
            continue;
        }
        const std::wstring folder = candidate.base + candidate.rest;
        const std::wstring best = BestVersionFolder(folder);
        if (!best.empty()) {
            DebugTrace(L"FindWebView2RuntimeFolder: %ls\\%ls", folder.c_str(), best.c_str());
            return folder + L"\\" + best;
        }
    }
    return std::wstring();
}

void SetRuntimeRegistryRootForTesting(HKEY root) {
    g_registryRoot = root ? root : HKEY_LOCAL_MACHINE;
}

bool CheckWebView2Runtime() {
    return g_runtimeCheck ? g_runtimeCheck() : IsWebView2RuntimeAvailable();
}

void SetRuntimeCheckForTesting(RuntimeCheck check) {
    g_runtimeCheck = check;
}
