// Runs a private copy of the built TarnDown.exe in a scratch directory, with its own settings file,
// and stops it the way a user would (the tray menu's exit command).
#pragma once

#include "base/unique_handle.h"
#include "base/win32.h"
#include "tests/support/test_files.h"

#include <string>
#include <vector>

struct ProgramSettings {
    int port = 61206;
    std::wstring downloadDir;  // empty: the scratch directory's "downloads"
    std::wstring devDir;       // empty: the scratch directory's "dev"
    bool autoExtract = true;
    bool autoCopyToDev = true;
    bool autoRetry = true;
};

class TarnProgram {
  public:
    // Copies the built program `builtName` (beside the test programs) into the scratch directory
    // as TarnDown.exe.
    explicit TarnProgram(const wchar_t* builtName = L"TarnDown.exe");
    ~TarnProgram();
    TarnProgram(const TarnProgram&) = delete;
    TarnProgram& operator=(const TarnProgram&) = delete;

    const std::wstring& directory() const { return dir_.path(); }
    std::wstring exePath() const { return dir_ / L"TarnDown.exe"; }
    std::wstring configPath() const { return dir_ / L"TarnDown.ini"; }

    // Writes TarnDown.ini (UTF-16LE) with these settings before Start().
    void WriteSettings(const ProgramSettings& settings);

    bool Start();
    // The running program's hidden tray window, once it exists; null after the timeout.
    HWND WaitForTrayWindow(DWORD timeoutMs);
    // Posts the tray menu's exit command.
    bool RequestExit();
    // True when the process ended within the timeout; its exit code goes to *exitCode.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
    DWORD processId() const { return processId_; }
    HANDLE process() const { return process_.get(); }

  private:
    TempDir dir_;
    UniqueHandle process_;
    DWORD processId_ = 0;
};

// Starts `exePath` and waits for it to end; returns its exit code, or -1 if it did not start or
// end within the timeout (it is then killed).
long RunProgramToExit(const std::wstring& exePath, DWORD timeoutMs);

// Every top-level window of process `processId`, hidden ones included.
std::vector<HWND> ProcessWindows(DWORD processId);
std::wstring WindowClassName(HWND window);

// The top-level window of class `className` that belongs to process `processId`, or null.
HWND FindProcessWindow(DWORD processId, const wchar_t* className);
