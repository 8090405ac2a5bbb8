// A scratch installation for pipeline tests: an executable directory (so g_exeDir and the 7za.exe
// beside it are the test's own), a download and a development directory, and settings loaded
// from there. Program Files lookups and 7-Zip's registry record are pointed at empty places so only
// the test's extractor can be found.
#pragma once

#include "tests/support/test_files.h"

#include <string>

class PipelineEnvironment {
  public:
    PipelineEnvironment();
    ~PipelineEnvironment();
    PipelineEnvironment(const PipelineEnvironment&) = delete;
    PipelineEnvironment& operator=(const PipelineEnvironment&) = delete;

    const std::wstring& root() const { return root_.path(); }
    std::wstring exeDir() const { return root_ / L"exe"; }
    std::wstring downloadDir() const { return root_ / L"downloads"; }
    std::wstring devDir() const { return root_ / L"dev"; }
    std::wstring programFiles() const { return root_ / L"ProgramFiles"; }
    std::wstring programFilesX86() const { return root_ / L"ProgramFilesX86"; }

    // Sets the two options and the directories, as the user would, and saves them.
    void Configure(bool autoExtract, bool autoCopyToDev);
    void SetDevDir(const std::wstring& devDir);
    void SetDownloadDir(const std::wstring& downloadDir);

    // Points the extractor search at an empty system folder, so no PowerShell can be started.
    void HidePowerShell() const;

    // Records `folder` as 7-Zip's installer does (value Path64 or Path), in a registry key of this
    // environment's own that the extractor search reads instead of HKLM\SOFTWARE\7-Zip.
    bool RecordSevenZipFolder(const wchar_t* valueName, const std::wstring& folder) const;

    // Copies the real 7-Zip (build/test-7z.exe, with its 7z.dll) to `directory`\`program`; empty:
    // beside the exe.
    bool InstallSevenZip(const std::wstring& directory = std::wstring(),
                         const wchar_t* program = L"7za.exe") const;
    // Puts the stand-in extractor at `directory`\7za.exe, told to sleep and exit so.
    bool InstallFakeExtractor(unsigned sleepMs, int exitCode,
                              const std::wstring& directory = std::wstring()) const;
    // What the stand-in recorded: line 1 the command line, then one argument per line (UTF-8).
    std::string FakeExtractorRecord(const std::wstring& directory = std::wstring()) const;

  private:
    TempDir root_;
    std::wstring registryKey_;
};

// Copies the real 7-Zip the test run provides next to the test programs (7z.exe 26.03) to the path
// `target`, and its 7z.dll into the same folder.
bool CopyTestSevenZip(const std::wstring& target);
