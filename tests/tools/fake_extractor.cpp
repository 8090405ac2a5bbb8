// Stands in for 7za.exe where a test needs an extractor that is slow or fails: it records how it
// was started (fake_extractor_args.txt), then sleeps and exits as "fake_extractor.txt" beside it
// says ("<ms> <exit code>"), writing fake_extractor_done.txt just before it exits.
#include "base/win32.h"

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring OwnDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path);
    return full.substr(0, full.find_last_of(L"\\/"));
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

std::string ReadSmallFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    char buffer[256] = {};
    DWORD got = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

}  // namespace

int main() {
    const std::wstring directory = OwnDirectory();
    // Line 1: the whole command line; then each argument as the C runtime splits it.
    std::string record = ToUtf8(GetCommandLineW()) + "\n";
    int count = 0;
    std::wstring destination;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i) {
        record += ToUtf8(arguments[i]) + "\n";
        if (arguments[i][0] == L'-' && arguments[i][1] == L'o') {
            destination = arguments[i] + 2;
        }
    }
    LocalFree(arguments);
    const std::wstring recordPath = directory + L"\\fake_extractor_args.txt";
    HANDLE file = CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        CloseHandle(file);
    }

    unsigned sleepMs = 0;
    int exitCode = 0;
    const std::string behaviour = ReadSmallFile(directory + L"\\fake_extractor.txt");
    const size_t space = behaviour.find(' ');
    if (space != std::string::npos) {
        sleepMs = static_cast<unsigned>(std::strtoul(behaviour.c_str(), nullptr, 10));
        exitCode = static_cast<int>(std::strtol(behaviour.c_str() + space + 1, nullptr, 10));
    }
    Sleep(sleepMs);
    // A successful run leaves a file in the destination, as a real extraction would.
    if (exitCode == 0 && !destination.empty()) {
        HANDLE extracted = CreateFileW((destination + L"\\extracted.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (extracted != INVALID_HANDLE_VALUE) {
            CloseHandle(extracted);
        }
    }
    // Shows a test that this run was not ended early.
    const std::wstring donePath = directory + L"\\fake_extractor_done.txt";
    HANDLE done = CreateFileW(donePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (done != INVALID_HANDLE_VALUE) {
        CloseHandle(done);
    }
    return exitCode;
}
