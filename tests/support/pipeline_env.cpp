#include "tests/support/pipeline_env.h"

#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tasks/archive_extraction.h"

#include <atomic>

namespace {

constexpr const wchar_t* kTestKeysParent = L"Software\\TarnDownTests";

// A key of this environment's own under HKEY_CURRENT_USER, standing in for HKLM\SOFTWARE\7-Zip. It
// exists only once a test records an installation in it, and is removed with the environment.
std::wstring MakeRegistryKeyName() {
    static std::atomic<unsigned> counter{0};
    return std::wstring(kTestKeysParent) + L"\\7zip_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}

}  // namespace

PipelineEnvironment::PipelineEnvironment() : root_(L"pipe"), registryKey_(MakeRegistryKeyName()) {
    CreateDirectoryW(exeDir().c_str(), nullptr);
    CreateDirectoryW(programFiles().c_str(), nullptr);
    CreateDirectoryW(programFilesX86().c_str(), nullptr);
    SetEnvironmentVariableW(L"ProgramFiles", programFiles().c_str());
    SetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86().c_str());
    const std::wstring settings = L"[Settings]\r\nDownloadDir=" + downloadDir() + L"\r\nDevDir=" + devDir() +
                                  L"\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n";
    WriteFileBytes(exeDir() + L"\\TarnDown.ini", std::string("\xFF\xFE") + Utf16LeBytes(settings));
    LoadConfigForExecutable(exeDir() + L"\\TarnDown.exe");
    const ExtractorPlaces places{SystemDirectory(), HKEY_CURRENT_USER, registryKey_};
    SetExtractorPlacesForTesting(&places);
}

PipelineEnvironment::~PipelineEnvironment() {
    SetExtractorPlacesForTesting(nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, registryKey_.c_str());
    // Fails while another test's key is still there, which is fine.
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestKeysParent);
}

bool PipelineEnvironment::RecordSevenZipFolder(const wchar_t* valueName, const std::wstring& folder) const {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, registryKey_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                          bytes) == ERROR_SUCCESS;
}

void PipelineEnvironment::Configure(bool autoExtract, bool autoCopyToDev) {
    UpdateConfig([&](AppConfig& config) {
        config.autoExtract = autoExtract;
        config.autoCopyToDev = autoCopyToDev;
    });
}

void PipelineEnvironment::SetDevDir(const std::wstring& devDir) {
    UpdateConfig([&](AppConfig& config) { config.devDir = devDir; });
}

void PipelineEnvironment::SetDownloadDir(const std::wstring& downloadDir) {
    UpdateConfig([&](AppConfig& config) { config.downloadDir = downloadDir; });
}

void PipelineEnvironment::HidePowerShell() const {
    const std::wstring emptySystem = root_ / L"no system";
    CreateDirectoryW(emptySystem.c_str(), nullptr);
    const ExtractorPlaces places{emptySystem, HKEY_CURRENT_USER, registryKey_};
    SetExtractorPlacesForTesting(&places);
}

bool PipelineEnvironment::InstallSevenZip(const std::wstring& directory, const wchar_t* program) const {
    const std::wstring target = directory.empty() ? exeDir() : directory;
    CreateDirectoryRecursive(target);
    return CopyTestSevenZip(target + L"\\" + program);
}

bool PipelineEnvironment::InstallFakeExtractor(unsigned sleepMs, int exitCode,
                                               const std::wstring& directory) const {
    const std::wstring target = directory.empty() ? exeDir() : directory;
    CreateDirectoryRecursive(target);
    const std::string behaviour = std::to_string(sleepMs) + " " + std::to_string(exitCode) + "\n";
    return CopyFileW((TestProgramDirectory() + L"\\fake_extractor.exe").c_str(),
                     (target + L"\\7za.exe").c_str(), FALSE) &&
           WriteFileBytes(target + L"\\fake_extractor.txt", behaviour);
}

std::string PipelineEnvironment::FakeExtractorRecord(const std::wstring& directory) const {
    return ReadFileBytes((directory.empty() ? exeDir() : directory) + L"\\fake_extractor_args.txt");
}

bool CopyTestSevenZip(const std::wstring& target) {
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    return CopyFileW((TestProgramDirectory() + L"\\test-7z.exe").c_str(), target.c_str(), FALSE) &&
           CopyFileW((TestProgramDirectory() + L"\\7z.dll").c_str(), (folder + L"\\7z.dll").c_str(), FALSE);
}
