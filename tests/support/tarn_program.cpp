#include "tests/support/tarn_program.h"

#include "app/tray_window.h"

#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kPollIntervalMs = 20;
constexpr DWORD kKillWaitMs = 5000;
// Under a loaded Wine session a process start occasionally fails once; a user would simply try again.
constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryDelayMs = 300;

struct ProcessWindowsQuery {
    DWORD processId;
    std::vector<HWND>* windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
    auto* query = reinterpret_cast<ProcessWindowsQuery*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == query->processId) {
        query->windows->push_back(window);
    }
    return TRUE;
}

UniqueHandle StartProcess(const std::wstring& exePath, DWORD* processId) {
    std::wstring commandLine = L"\"" + exePath + L"\"";
    const std::wstring directory = exePath.substr(0, exePath.find_last_of(L'\\'));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &info)) {
        return UniqueHandle();
    }
    CloseHandle(info.hThread);
    *processId = info.dwProcessId;
    return UniqueHandle(info.hProcess);
}

}  // namespace

TarnProgram::TarnProgram(const wchar_t* builtName) : dir_(L"prog") {
    const std::wstring built = TestProgramDirectory() + L"\\" + builtName;
    if (!CopyFileW(built.c_str(), exePath().c_str(), FALSE)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "TarnProgram: copying %ls failed (error %lu)\n", builtName, error);
    }
}

TarnProgram::~TarnProgram() {
    if (process_) {
        DWORD exitCode = 0;
        if (!WaitForExit(0, &exitCode)) {
            RequestExit();
            if (!WaitForExit(kKillWaitMs, &exitCode)) {
                TerminateProcess(process_.get(), 1);
                WaitForSingleObject(process_.get(), kKillWaitMs);
            }
        }
    }
}

void TarnProgram::WriteSettings(const ProgramSettings& settings) {
    const std::wstring downloadDir =
        settings.downloadDir.empty() ? dir_ / L"downloads" : settings.downloadDir;
    const std::wstring devDir = settings.devDir.empty() ? dir_ / L"dev" : settings.devDir;
    const std::wstring text = L"[Settings]\r\nPort=" + std::to_wstring(settings.port) + L"\r\nDownloadDir=" +
                              downloadDir + L"\r\nDevDir=" + devDir + L"\r\nAutoExtract=" +
                              (settings.autoExtract ? L"1" : L"0") + L"\r\nAutoCopyToDev=" +
                              (settings.autoCopyToDev ? L"1" : L"0") + L"\r\nStartMinimized=0\r\nAutoRetry=" +
                              (settings.autoRetry ? L"1" : L"0") + L"\r\n";
    WriteFileBytes(configPath(), std::string("\xFF\xFE") + Utf16LeBytes(text));
}

bool TarnProgram::Start() {
    for (int attempt = 1; attempt <= kStartAttempts; ++attempt) {
        process_ = StartProcess(exePath(), &processId_);
        if (process_) {
            return true;
        }
        const DWORD error = GetLastError();
        std::fprintf(stderr, "TarnProgram: starting %ls failed (attempt %d, error %lu)\n", exePath().c_str(),
                     attempt, error);
        Sleep(kStartRetryDelayMs);
    }
    return false;
}

HWND TarnProgram::WaitForTrayWindow(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HWND window = FindProcessWindow(processId_, L"TarnDownloader_Main");
        if (window || GetTickCount() - start >= timeoutMs) {
            return window;
        }
        if (WaitForSingleObject(process_.get(), kPollIntervalMs) == WAIT_OBJECT_0) {
            return nullptr;
        }
    }
}

bool TarnProgram::RequestExit() {
    const HWND tray = FindProcessWindow(processId_, L"TarnDownloader_Main");
    return tray && PostMessageW(tray, WM_COMMAND, IDM_TRAY_EXIT, 0);
}

bool TarnProgram::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    GetExitCodeProcess(process_.get(), exitCode);
    return true;
}

long RunProgramToExit(const std::wstring& exePath, DWORD timeoutMs) {
    DWORD processId = 0;
    UniqueHandle process = StartProcess(exePath, &processId);
    if (!process) {
        return -1;
    }
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), kKillWaitMs);
        return -1;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<long>(exitCode);
}

std::vector<HWND> ProcessWindows(DWORD processId) {
    std::vector<HWND> windows;
    ProcessWindowsQuery query{processId, &windows};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&query));
    return windows;
}

std::wstring WindowClassName(HWND window) {
    wchar_t className[128] = {};
    GetClassNameW(window, className, 128);
    return className;
}

HWND FindProcessWindow(DWORD processId, const wchar_t* className) {
    for (HWND window : ProcessWindows(processId)) {
        if (WindowClassName(window) == className) {
            return window;
        }
    }
    return nullptr;
}
