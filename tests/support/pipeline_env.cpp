#include "tests/support/pipeline_env.h"

#include "base/win32.h"
#include "state/config.h"
#include "tasks/archive_extraction.h"

namespace {

// A key no one creates: the search finds no 7-Zip installation recorded.
constexpr const wchar_t* kNoRegistryRecord = L"Software\\TarnDown tests\\no 7-Zip here";

}  // namespace

PipelineEnvironment::PipelineEnvironment() : root_(L"pipe") {
    CreateDirectoryW(exeDir().c_str(), nullptr);
    CreateDirectoryW(programFiles().c_str(), nullptr);
    CreateDirectoryW(programFilesX86().c_str(), nullptr);
    SetEnvironmentVariableW(L"ProgramFiles", programFiles().c_str());
    SetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86().c_str());
    const std::wstring settings = L"[Settings]\r\nDownloadDir=" + downloadDir() + L"\r\nDevDir=" + devDir() +
                                  L"\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n";
    WriteFileBytes(exeDir() + L"\\TarnDown.ini", std::string("\xFF\xFE") + Utf16LeBytes(settings));
    LoadConfigForExecutable(exeDir() + L"\\TarnDown.exe");
    const ExtractorPlaces places{SystemDirectory(), HKEY_CURRENT_USER, kNoRegistryRecord};
    SetExtractorPlacesForTesting(&places);
}

PipelineEnvironment::~PipelineEnvironment() {
    SetExtractorPlacesForTesting(nullptr);
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
    const ExtractorPlaces places{emptySystem, HKEY_CURRENT_USER, kNoRegistryRecord};
    SetExtractorPlacesForTesting(&places);
}

bool PipelineEnvironment::InstallSevenZip(const std::wstring& directory) const {
    const std::wstring target = directory.empty() ? exeDir() : directory;
    CreateDirectoryRecursive(target);
    return CopyFileW(TestSevenZipPath().c_str(), (target + L"\\7za.exe").c_str(), FALSE) != FALSE;
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

std::wstring TestSevenZipPath() {
    return TestProgramDirectory() + L"\\test-7za.exe";
}
