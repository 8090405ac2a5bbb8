#include "base/process_start.h"

#include <vector>

bool StartProcess(const std::wstring& commandLine, WORD showCommand, DWORD creationFlags,
                  UniqueHandle* process, DWORD* error) {
    // CreateProcessW may write into the command line, so it gets a private copy.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                        &startup, &info)) {
        *error = GetLastError();
        return false;
    }
    UniqueHandle thread(info.hThread);
    UniqueHandle started(info.hProcess);
    if (process) {
        *process = std::move(started);
    }
    *error = ERROR_SUCCESS;
    return true;
}
