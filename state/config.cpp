#include "state/config.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"

#include <mutex>
#include <vector>

namespace {

// Directory values are read into a buffer with room for the longest value and its terminator.
constexpr DWORD kDirValueBufferChars = kMaxDirectoryChars + 1;
// A directory value shorter than this is treated as missing (an empty or one-letter value can
// never name a usable directory).
constexpr size_t kMinDirValueChars = 2;

std::mutex g_configMutex;  // Guards g_config; held only while copying or assigning fields.
AppConfig g_config;
std::mutex g_saveMutex;  // Serialises writers of the file so their key writes do not interleave.

std::wstring ReadDirValue(const wchar_t* key, const wchar_t* fallback) {
    wchar_t buffer[kDirValueBufferChars] = {};
    GetPrivateProfileStringW(kConfigSection, key, fallback, buffer, kDirValueBufferChars,
                             g_configPath.c_str());
    std::wstring value(buffer);
    return value.size() >= kMinDirValueChars ? value : std::wstring(fallback);
}

// The profile functions write a file in the system's ANSI code page unless it already starts with
// a UTF-16 byte-order mark, in which case they keep it UTF-16. Directories with Chinese names must
// survive a round trip on any system locale, so a new file is started as UTF-16LE.
void CreateUnicodeConfigFile(const std::wstring& path) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    const unsigned char bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file.get(), bom, sizeof(bom), &written, nullptr);
}

const wchar_t* FlagText(bool value) {
    return value ? L"1" : L"0";
}

}  // namespace

std::wstring g_exeDir;
std::wstring g_configPath;

void LoadConfig() {
    LoadConfigForExecutable(ExecutablePath());
}

void LoadConfigForExecutable(const std::wstring& exePath) {
    const size_t lastSeparator = exePath.find_last_of(L"\\/");
    g_exeDir = lastSeparator == std::wstring::npos ? exePath : exePath.substr(0, lastSeparator);
    g_configPath = g_exeDir + L"\\" + kConfigFileName;

    {
        std::lock_guard<std::mutex> lock(g_configMutex);
        g_config = AppConfig();
    }

    if (GetFileAttributesW(g_configPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DebugTrace(L"First run: creating default config at %ls", g_configPath.c_str());
        CreateUnicodeConfigFile(g_configPath);
        SaveConfig();
    }

    AppConfig loaded;
    const wchar_t* file = g_configPath.c_str();
    loaded.port = static_cast<int>(GetPrivateProfileIntW(kConfigSection, L"Port", kDefaultPort, file));
    loaded.downloadDir = ReadDirValue(L"DownloadDir", kDefaultDownloadDir);
    loaded.devDir = ReadDirValue(L"DevDir", kDefaultDevDir);
    loaded.autoExtract = GetPrivateProfileIntW(kConfigSection, L"AutoExtract", 1, file) != 0;
    loaded.autoCopyToDev = GetPrivateProfileIntW(kConfigSection, L"AutoCopyToDev", 1, file) != 0;
    loaded.startMinimized = GetPrivateProfileIntW(kConfigSection, L"StartMinimized", 0, file) != 0;
    {
        std::lock_guard<std::mutex> lock(g_configMutex);
        g_config = loaded;
    }

    CreateDirectoryRecursive(loaded.downloadDir);
    CreateDirectoryRecursive(loaded.devDir);
    DebugTrace(L"Config loaded: downloadDir=%ls, devDir=%ls", loaded.downloadDir.c_str(),
               loaded.devDir.c_str());
}

AppConfig GetConfig() {
    std::lock_guard<std::mutex> lock(g_configMutex);
    return g_config;
}

void UpdateConfig(const std::function<void(AppConfig&)>& change) {
    {
        std::lock_guard<std::mutex> lock(g_configMutex);
        change(g_config);
    }
    SaveConfig();
}

// Lock order: g_saveMutex, then g_configMutex (only inside GetConfig). The snapshot is taken after
// the save lock so that the last writer always writes the newest settings.
void SaveConfig() {
    std::lock_guard<std::mutex> saveLock(g_saveMutex);
    const AppConfig config = GetConfig();
    const wchar_t* file = g_configPath.c_str();
    const std::wstring port = std::to_wstring(config.port);
    WritePrivateProfileStringW(kConfigSection, L"Port", port.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"DownloadDir", config.downloadDir.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"DevDir", config.devDir.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"AutoExtract", FlagText(config.autoExtract), file);
    WritePrivateProfileStringW(kConfigSection, L"AutoCopyToDev", FlagText(config.autoCopyToDev), file);
    WritePrivateProfileStringW(kConfigSection, L"StartMinimized", FlagText(config.startMinimized), file);
    // Flushes the system's cached copy of the file to disk.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file);
}
