// Stands in for Microsoft's runtime bootstrapper in the install test: once started it writes its
// own path (UTF-16LE) to the file named by TARN_TEST_BOOTSTRAPPER_MARK and exits.
#include "base/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t mark[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TARN_TEST_BOOTSTRAPPER_MARK", mark, MAX_PATH) == 0) {
        return 1;
    }
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    HANDLE file = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, self, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}
