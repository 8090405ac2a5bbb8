#include "base/process_start.h"

#include <vector>

namespace {

// The one CreateProcessW call: a private, writable copy of the command line (CreateProcessW may
// write into it), the thread handle closed, the process handle handed over when asked for.
bool Launch(const std::wstring& commandLine, BOOL inheritHandles, DWORD creationFlags, STARTUPINFOW* startup,
            UniqueHandle* process, DWORD* error) {
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inheritHandles, creationFlags, nullptr,
                        nullptr, startup, &info)) {
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

// A process attribute list naming the only handle a child may inherit; deleted with the object.
class InheritOnly {
  public:
    explicit InheritOnly(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        bytes_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) {
            error_ = GetLastError();
            return;
        }
        initialized_ = true;
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                       sizeof(handle_), nullptr, nullptr)) {
            error_ = GetLastError();
        }
    }
    ~InheritOnly() {
        if (initialized_) {
            DeleteProcThreadAttributeList(list());
        }
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(bytes_.data());
    }
    // ERROR_SUCCESS once the list is ready.
    DWORD error() const { return error_; }

  private:
    HANDLE handle_;  // UpdateProcThreadAttribute keeps a pointer to it until the list is deleted
    std::vector<char> bytes_;
    bool initialized_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

bool StartProcess(const std::wstring& commandLine, WORD showCommand, DWORD creationFlags,
                  UniqueHandle* process, DWORD* error) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    return Launch(commandLine, FALSE, creationFlags, &startup, process, error);
}

bool StartProcessWithoutConsole(const std::wstring& commandLine, DWORD creationFlags, UniqueHandle* process,
                                DWORD* error) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                                       nullptr));
    if (!nul) {
        *error = GetLastError();
        return false;
    }
    // Only the NUL handle may pass to the child: an inherited socket of the API would keep a
    // client's connection open, or the port taken, for as long as the helper runs.
    InheritOnly inheritOnly(nul.get());
    if (inheritOnly.error() != ERROR_SUCCESS) {
        *error = inheritOnly.error();
        return false;
    }
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = nul.get();
    startup.StartupInfo.hStdError = nul.get();
    startup.lpAttributeList = inheritOnly.list();
    return Launch(commandLine, TRUE, creationFlags | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT,
                  &startup.StartupInfo, process, error);
}
