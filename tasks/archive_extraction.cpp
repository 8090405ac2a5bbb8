#include "tasks/archive_extraction.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/process_start.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"

#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kWaitStepMs = 1000;
// The estimate climbs from 0 to 98 over this many seconds, then stays at 99 until the end.
constexpr unsigned kEstimateSeconds = 60;
constexpr int kHighestEstimate = 99;
// After ending a hung extractor, how long to wait for it to go before closing its handle.
constexpr DWORD kTerminateWaitMs = 5000;
constexpr UINT kTerminatedExitCode = 1;

constexpr const char* kStartFailedText = "Failed to create extraction process";
constexpr const char* kUnsafePathText = "Archive path cannot be passed to the extractor";
constexpr const char* kTimedOutText = "Extraction did not finish in time";
constexpr const char* kWaitFailedText = "Extraction could not be waited for";
constexpr const char* kNothingExtractedText = "Extraction produced no files";
constexpr const char* kStoppedText = "Extraction stopped: the program is ending";
constexpr const wchar_t* kPowerShellBelowSystem = L"\\WindowsPowerShell\\v1.0\\powershell.exe";
constexpr const wchar_t* kSevenZipRegistryKey = L"SOFTWARE\\7-Zip";
constexpr const wchar_t* kStandAloneSevenZip = L"7za.exe";
constexpr const wchar_t* kInstalledSevenZip = L"7z.exe";
// A folder value longer than this (in bytes, UTF-16) is no folder and is not read.
constexpr DWORD kMaxRegistryFolderBytes = 32768 * sizeof(wchar_t);

// Set only by tests, before any extraction runs.
ExtractorPlaces g_placesOverride = {std::wstring(), nullptr, std::wstring()};
bool g_placesOverridden = false;

// A folder recorded as a string value of `root`\`subKey` (7-Zip's installer writes "C:\...\7-Zip\"),
// without trailing separators; empty when there is none.
std::wstring ReadRegistryFolder(HKEY root, const std::wstring& subKey, const wchar_t* valueName) {
    UniqueRegKey key;
    if (!root || RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) !=
                     ERROR_SUCCESS) {
        return std::wstring();
    }
    DWORD bytes = 0;
    if (RegGetValueW(key.get(), nullptr, valueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes > kMaxRegistryFolderBytes) {
        return std::wstring();
    }
    std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(key.get(), nullptr, valueName, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring folder(value.data());
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    return folder;
}

ExtractorPlaces CurrentPlaces() {
    if (g_placesOverridden) {
        return g_placesOverride;
    }
    return ExtractorPlaces{SystemDirectory(), HKEY_LOCAL_MACHINE, kSevenZipRegistryKey};
}

bool HasEntries(const std::wstring& directory) {
    WIN32_FIND_DATAW data = {};
    UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
    if (!find) {
        return false;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            return true;
        }
    } while (FindNextFileW(find.get(), &data));
    return false;
}

bool HasDoubleQuote(const std::wstring& text) {
    return text.find(L'"') != std::wstring::npos;
}

bool IsPowerShellSingleQuote(wchar_t ch) {
    return ch == L'\'' || ch == L'\u2018' || ch == L'\u2019' || ch == L'\u201A' || ch == L'\u201B';
}

std::string FormatExitCodeError(DWORD exitCode) {
    char text[64] = {};
    std::snprintf(text, sizeof(text), "Extraction failed with exit code %lu",
                  static_cast<unsigned long>(exitCode));
    return text;
}

// Hidden and below normal priority: extraction is bulk work, and the program's own threads (the
// API's server thread above all) must still get a processor while a batch of archives is unpacked.
// 7-Zip, whose output nobody reads, runs without a console, which costs a process of its own;
// PowerShell keeps the hidden console it expects.
bool StartHidden(const std::wstring& commandLine, bool needsConsole, UniqueHandle* process) {
    DWORD error = 0;
    const bool started =
        needsConsole ? StartProcess(commandLine, SW_HIDE, CREATE_NO_WINDOW | BELOW_NORMAL_PRIORITY_CLASS,
                                    process, &error)
                     : StartProcessWithoutConsole(commandLine, BELOW_NORMAL_PRIORITY_CLASS, process, &error);
    if (!started) {
        DebugTrace(L"ExtractArchive: cannot start %ls (%lu)", commandLine.c_str(), error);
        return false;
    }
    return true;
}

void EndProcess(HANDLE process) {
    TerminateProcess(process, kTerminatedExitCode);
    WaitForSingleObject(process, kTerminateWaitMs);
}

}  // namespace

int ExtractionEstimate(unsigned second) {
    if (second >= kEstimateSeconds) {
        return kHighestEstimate;
    }
    const unsigned estimate = second * 100 / kEstimateSeconds;
    return estimate > static_cast<unsigned>(kHighestEstimate) ? kHighestEstimate : static_cast<int>(estimate);
}

std::wstring FindSevenZip() {
    std::vector<std::wstring> folders;
    folders.push_back(g_exeDir);
    for (const wchar_t* variable : {L"ProgramFiles", L"ProgramFiles(x86)"}) {
        const std::wstring folder = ReadEnvironmentVariable(variable);
        if (!folder.empty()) {
            folders.push_back(folder + L"\\7-Zip");
        }
    }
    // The stand-alone 7za.exe first, then the full 7-Zip's 7z.exe, which takes the same command line.
    std::vector<std::wstring> candidates;
    for (const wchar_t* program : {kStandAloneSevenZip, kInstalledSevenZip}) {
        for (const std::wstring& folder : folders) {
            candidates.push_back(folder + L"\\" + program);
        }
    }
    const ExtractorPlaces places = CurrentPlaces();
    for (const wchar_t* value : {L"Path64", L"Path"}) {
        const std::wstring folder = ReadRegistryFolder(places.registryRoot, places.registryKey, value);
        if (!folder.empty()) {
            candidates.push_back(folder + L"\\" + kInstalledSevenZip);
        }
    }
    for (const std::wstring& candidate : candidates) {
        if (IsRegularFile(candidate)) {
            return candidate;
        }
    }
    return std::wstring();
}

std::wstring BuildSevenZipCommandLine(const std::wstring& sevenZip, const std::wstring& archive,
                                      const std::wstring& destination) {
    if (HasDoubleQuote(sevenZip) || HasDoubleQuote(archive) || HasDoubleQuote(destination)) {
        return std::wstring();
    }
    return L"\"" + sevenZip + L"\" x -y -o\"" + destination + L"\" \"" + archive + L"\"";
}

std::wstring QuotePowerShellLiteral(const std::wstring& text) {
    std::wstring quoted = L"'";
    for (wchar_t ch : text) {
        quoted.push_back(ch);
        if (IsPowerShellSingleQuote(ch)) {
            quoted.push_back(ch);
        }
    }
    quoted.push_back(L'\'');
    return quoted;
}

std::wstring PowerShellPath() {
    return CurrentPlaces().systemDir + kPowerShellBelowSystem;
}

std::wstring BuildPowerShellCommandLine(const std::wstring& powerShell, const std::wstring& archive,
                                        const std::wstring& destination) {
    if (HasDoubleQuote(powerShell) || HasDoubleQuote(archive) || HasDoubleQuote(destination)) {
        return std::wstring();
    }
    return L"\"" + powerShell + L"\" -Command \"Expand-Archive -LiteralPath " +
           QuotePowerShellLiteral(archive) + L" -DestinationPath " + QuotePowerShellLiteral(destination) +
           L" -Force\"";
}

bool ExtractArchive(const std::wstring& archive, const std::wstring& destination, ProgressCallback progress,
                    std::string& error, unsigned timeLimitSeconds) {
    CreateDirectoryRecursive(destination);
    const std::wstring sevenZip = FindSevenZip();
    const std::wstring commandLine = sevenZip.empty()
                                         ? BuildPowerShellCommandLine(PowerShellPath(), archive, destination)
                                         : BuildSevenZipCommandLine(sevenZip, archive, destination);
    if (commandLine.empty()) {
        error = kUnsafePathText;
        return false;
    }
    UniqueHandle process;
    if (!StartHidden(commandLine, sevenZip.empty(), &process)) {
        error = kStartFailedText;
        return false;
    }

    for (unsigned second = 0;; ++second) {
        const DWORD waited = WaitForSingleObject(process.get(), kWaitStepMs);
        if (waited == WAIT_OBJECT_0) {
            break;
        }
        if (waited != WAIT_TIMEOUT) {
            const DWORD lastError = GetLastError();
            DebugTrace(L"ExtractArchive: wait failed (%lu)", lastError);
            EndProcess(process.get());
            error = kWaitFailedText;
            return false;
        }
        // At the program's exit the extractor is left to finish on its own: ending it would leave a
        // half-written folder, and the archive is only deleted after a successful extraction.
        if (IsExitStarted()) {
            error = kStoppedText;
            return false;
        }
        if (second + 1 >= timeLimitSeconds) {
            DebugTrace(L"ExtractArchive: still running after %u s, ending it", timeLimitSeconds);
            EndProcess(process.get());
            error = kTimedOutText;
            return false;
        }
        if (progress) {
            progress(ExtractionEstimate(second));
        }
    }

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        const DWORD lastError = GetLastError();
        DebugTrace(L"ExtractArchive: no exit code (%lu)", lastError);
        error = kWaitFailedText;
        return false;
    }
    if (exitCode != 0) {
        error = FormatExitCodeError(exitCode);
        return false;
    }
    // An extractor that exits with 0 without writing anything (a stand-in PowerShell that lacks
    // Expand-Archive does) must not pass, or the caller would delete the only copy of the archive.
    if (!HasEntries(destination)) {
        error = kNothingExtractedText;
        return false;
    }
    if (progress) {
        progress(100);
    }
    return true;
}

void SetExtractorPlacesForTesting(const ExtractorPlaces* places) {
    g_placesOverridden = places != nullptr;
    g_placesOverride = places ? *places : ExtractorPlaces{std::wstring(), nullptr, std::wstring()};
}
