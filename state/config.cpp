#include "state/config.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"
#include "base/win32.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

// Directory values are read into a buffer with room for the longest value and its terminator.
constexpr DWORD kDirValueBufferChars = kMaxDirectoryChars + 1;
// A directory value shorter than this is treated as missing (an empty or one-letter value can
// never name a usable directory).
constexpr size_t kMinDirValueChars = 2;
// A settings file larger than this is not one this program wrote; it is not converted.
constexpr LONGLONG kMaxConvertedFileBytes = 1024 * 1024;
constexpr const wchar_t* kConvertingSuffix = L".converting";
constexpr const char* kUtf8Mark = "\xEF\xBB\xBF";

bool StartsWithBytes(const std::string& bytes, const char* prefix) {
    return bytes.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool ReadSmallFile(const std::wstring& path, std::string* bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxConvertedFileBytes) {
        return false;
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    return bytes->empty() ||
           (ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) &&
            got == bytes->size());
}

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

// A positive decimal byte count; the default when the key is missing, empty or not such a number.
unsigned long long ReadByteCount(const wchar_t* key, unsigned long long fallback) {
    constexpr DWORD kCountChars = 32;
    constexpr int kMaxCountDigits = 19;
    wchar_t buffer[kCountChars] = {};
    GetPrivateProfileStringW(kConfigSection, key, L"", buffer, kCountChars, g_configPath.c_str());
    unsigned long long value = 0;
    int digits = 0;
    for (const wchar_t* p = buffer; *p; ++p) {
        if (*p < L'0' || *p > L'9' || ++digits > kMaxCountDigits) {
            return fallback;
        }
        value = value * 10 + static_cast<unsigned long long>(*p - L'0');
    }
    return value > 0 ? value : fallback;
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

// True when the system's ANSI code page can hold every character of `text`.
bool FitsAnsiCodePage(const std::wstring& text) {
    if (text.empty() || GetACP() == CP_UTF8) {
        return true;
    }
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

// Files starting with a UTF-16 byte-order mark are kept in UTF-16 by the profile functions.
bool IsUtf16File(const std::string& bytes) {
    return StartsWithBytes(bytes, "\xFF\xFE") || StartsWithBytes(bytes, "\xFE\xFF");
}

// A settings file written by hand or by an older program has no UTF-16 byte-order mark, so the
// profile functions keep writing it in the ANSI code page, and a directory that code page cannot
// hold comes back as question marks. Such a file is rewritten as UTF-16LE with every line kept
// (decoded from the ANSI code page, or from UTF-8 after a UTF-8 byte-order mark, which Windows'
// profile functions do not read), through a temporary file, so the settings are never lost
// half-way.
void ConvertConfigFileToUnicode(const std::wstring& path) {
    // The profile functions may hold changes of their own in a cache; they go to the file first.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    std::string bytes;
    if (!ReadSmallFile(path, &bytes) || IsUtf16File(bytes)) {
        return;
    }
    UINT codePage = CP_ACP;
    if (StartsWithBytes(bytes, kUtf8Mark)) {
        codePage = CP_UTF8;
        bytes.erase(0, std::char_traits<char>::length(kUtf8Mark));
    }
    std::wstring text;
    if (!bytes.empty()) {
        const int length =
            MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        text.resize(static_cast<size_t>(length));
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    }
    const std::wstring temporary = path + kConvertingSuffix;
    {
        UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"SaveConfig: cannot create %ls (%lu)", temporary.c_str(), lastError);
            return;
        }
        const wchar_t bom = 0xFEFF;
        DWORD written = 0;
        const DWORD textBytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (!WriteFile(file.get(), &bom, sizeof(bom), &written, nullptr) ||
            (textBytes > 0 &&
             (!WriteFile(file.get(), text.data(), textBytes, &written, nullptr) || written != textBytes))) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"SaveConfig: cannot write %ls (%lu)", temporary.c_str(), lastError);
            file.reset();
            DeleteFileW(temporary.c_str());
            return;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"SaveConfig: cannot replace %ls (%lu)", path.c_str(), lastError);
        DeleteFileW(temporary.c_str());
    }
}

const wchar_t* FlagText(bool value) {
    return value ? L"1" : L"0";
}

// A limit above the highest means the highest; none, zero or text means the default.
int ReadDownloadLimit(const wchar_t* file) {
    const int value = static_cast<int>(GetPrivateProfileIntW(kConfigSection, L"MaxConcurrentDownloads",
                                                             kDefaultMaxConcurrentDownloads, file));
    if (value > kMaxConcurrentDownloads) {
        return kMaxConcurrentDownloads;
    }
    return value >= kMinConcurrentDownloads ? value : kDefaultMaxConcurrentDownloads;
}

}  // namespace

std::wstring g_exeDir;
std::wstring g_configPath;

std::wstring TrimDirectorySeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) {
        if (path.size() == 3 && path[1] == L':') {
            break;  // "X:\" is the root of drive X
        }
        path.pop_back();
    }
    return path;
}

bool IsUsableDownloadLimit(long long value) {
    return value >= kMinConcurrentDownloads && value <= kMaxConcurrentDownloads;
}

bool IsUsableDirectory(const std::wstring& path) {
    if (path.empty() || path.size() > kMaxDirectoryChars) {
        return false;
    }
    for (const wchar_t ch : path) {
        if (ch < 0x20 || ch == 0x7F) {
            return false;
        }
    }
    const auto isSeparator = [](wchar_t ch) { return ch == L'\\' || ch == L'/'; };
    const bool driveLetter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (path.size() >= 3 && driveLetter && path[1] == L':' && isSeparator(path[2])) {
        return true;
    }
    // "\\server\share": a server name and a share name, both non-empty.
    if (path.size() < 5 || path[0] != L'\\' || path[1] != L'\\') {
        return false;
    }
    const size_t shareStart = path.find(L'\\', 2);
    return shareStart != std::wstring::npos && shareStart > 2 && shareStart + 1 < path.size() &&
           path[shareStart + 1] != L'\\';
}

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
    loaded.maxDownloadBytes = ReadByteCount(L"MaxDownloadBytes", kDefaultMaxDownloadBytes);
    loaded.maxConcurrentDownloads = ReadDownloadLimit(file);
    loaded.autoRetry = GetPrivateProfileIntW(kConfigSection, L"AutoRetry", 1, file) != 0;
    loaded.notifyWhenDone = GetPrivateProfileIntW(kConfigSection, L"NotifyWhenDone", 1, file) != 0;
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
    if (!FitsAnsiCodePage(config.downloadDir) || !FitsAnsiCodePage(config.devDir)) {
        ConvertConfigFileToUnicode(g_configPath);
    }
    const std::wstring port = std::to_wstring(config.port);
    WritePrivateProfileStringW(kConfigSection, L"Port", port.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"DownloadDir", config.downloadDir.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"DevDir", config.devDir.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"AutoExtract", FlagText(config.autoExtract), file);
    WritePrivateProfileStringW(kConfigSection, L"AutoCopyToDev", FlagText(config.autoCopyToDev), file);
    WritePrivateProfileStringW(kConfigSection, L"StartMinimized", FlagText(config.startMinimized), file);
    const std::wstring limit = std::to_wstring(config.maxConcurrentDownloads);
    WritePrivateProfileStringW(kConfigSection, L"MaxConcurrentDownloads", limit.c_str(), file);
    WritePrivateProfileStringW(kConfigSection, L"AutoRetry", FlagText(config.autoRetry), file);
    WritePrivateProfileStringW(kConfigSection, L"NotifyWhenDone", FlagText(config.notifyWhenDone), file);
    // Flushes the system's cached copy of the file to disk.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file);
}
