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

bool StartProcessWithoutConsole(const std::wstring& commandLine, DWORD creationFlags, UniqueHandle* process,
                                DWORD* error) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!nul) {
        *error = GetLastError();
        return false;
    }
    // Only the NUL handle may pass to the child: an inherited socket of the API would keep a
    // client's connection open, or the port taken, for as long as the helper runs.
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listBytes(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) {
        *error = GetLastError();
        return false;
    }
    HANDLE inherited = nul.get();
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof(inherited),
                                   nullptr, nullptr)) {
        *error = GetLastError();
        DeleteProcThreadAttributeList(list);
        return false;
    }
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = nul.get();
    startup.StartupInfo.hStdError = nul.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE,
                                        creationFlags | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT,
                                        nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD lastError = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!started) {
        *error = lastError;
        return false;
    }
    UniqueHandle thread(info.hThread);
    UniqueHandle child(info.hProcess);
    if (process) {
        *process = std::move(child);
    }
    *error = ERROR_SUCCESS;
    return true;
}
