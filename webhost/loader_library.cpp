#include "webhost/loader_library.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"

#include <climits>
#include <cstring>
#include <utility>
#include <vector>

// Generated at build time from the TARN_WEBVIEW2_LOADER option; zero bytes when none was given.
extern const unsigned char kEmbeddedLoaderImage[];
extern const std::size_t kEmbeddedLoaderSize;

std::wstring g_tempLoaderPath;
HMODULE g_hWebView2Loader = nullptr;

namespace {

constexpr const wchar_t* kExtractedLoaderName = L"TarnDown_WebView2Loader.dll";
constexpr const wchar_t* kFallbackLoaderName = L"WebView2Loader.dll";

// Teardown waits this long after freeing the library before deleting its file, so the system has
// let go of the image.
constexpr DWORD kUnloadSettleMs = 100;

const unsigned char* g_loaderImage = kEmbeddedLoaderImage;
std::size_t g_loaderImageSize = kEmbeddedLoaderSize;

// The extracted copy, open for reading without write or delete sharing from the moment its bytes
// were compared until it is loaded: nobody can replace it in between.
UniqueFile g_heldLoaderFile;

UniqueFile OpenForComparison(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

// True when the open file holds exactly the carried image.
bool HoldsImage(HANDLE file) {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || static_cast<unsigned long long>(size.QuadPart) != g_loaderImageSize) {
        return false;
    }
    std::vector<unsigned char> bytes(g_loaderImageSize);
    DWORD read = 0;
    return ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
           read == bytes.size() && std::memcmp(bytes.data(), g_loaderImage, bytes.size()) == 0;
}

// Opens `path` and keeps it held when it holds the image.
bool HoldIfImage(const std::wstring& path) {
    UniqueFile file = OpenForComparison(path);
    if (!file || !HoldsImage(file.get())) {
        return false;
    }
    g_heldLoaderFile = std::move(file);
    return true;
}

bool WriteImage(const std::wstring& path) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        DebugTrace(L"ExtractEmbeddedLoader: cannot create %ls (%lu)", path.c_str(), error);
        return false;
    }
    const DWORD size = static_cast<DWORD>(g_loaderImageSize);
    DWORD written = 0;
    const BOOL ok = WriteFile(file.get(), g_loaderImage, size, &written, nullptr);
    const DWORD error = GetLastError();
    file.reset();
    if (!ok || written != size) {
        // A partial library must not be found and loaded next time.
        DebugTrace(L"ExtractEmbeddedLoader: write failed (%lu)",
                   ok ? 0ul : static_cast<unsigned long>(error));
        DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::wstring ExtractEmbeddedLoader() {
    // Without an image there is nothing of ours in the temporary directory, so no path is recorded
    // and teardown deletes nothing there.
    if (g_loaderImageSize == 0 || g_loaderImageSize > static_cast<std::size_t>(UINT_MAX)) {
        return std::wstring();
    }
    const std::wstring directory = TempDirectory();
    if (directory.empty()) {
        return std::wstring();
    }
    const std::wstring path = directory + kExtractedLoaderName;
    g_tempLoaderPath = path;
    g_heldLoaderFile.reset();
    if (HoldIfImage(path)) {
        DebugTrace(L"ExtractEmbeddedLoader: reusing %ls", path.c_str());
        return path;
    }
    // Written, then compared again through the handle that stays open: a file swapped in between
    // the write and the comparison is not loaded.
    if (WriteImage(path) && HoldIfImage(path)) {
        return path;
    }
    return std::wstring();
}

HMODULE LoadWebView2Loader() {
    if (g_hWebView2Loader) {
        return g_hWebView2Loader;
    }
    std::wstring path = ExtractEmbeddedLoader();
    if (path.empty()) {
        const std::wstring directory = ExecutableDirectory();
        const std::wstring fallback = directory + L"\\" + kFallbackLoaderName;
        if (!directory.empty() && GetFileAttributesW(fallback.c_str()) != INVALID_FILE_ATTRIBUTES) {
            path = fallback;
        }
    }
    if (path.empty()) {
        return nullptr;
    }
    g_hWebView2Loader = LoadLibraryW(path.c_str());
    if (!g_hWebView2Loader) {
        const DWORD error = GetLastError();
        DebugTrace(L"LoadWebView2Loader: cannot load %ls (%lu)", path.c_str(), error);
    }
    g_heldLoaderFile.reset();
    return g_hWebView2Loader;
}

void UnloadWebView2Loader() {
    g_heldLoaderFile.reset();
    if (g_hWebView2Loader) {
        FreeLibrary(g_hWebView2Loader);
        g_hWebView2Loader = nullptr;
        // Only a library that was loaded needs time to be let go of.
        Sleep(kUnloadSettleMs);
    }
    // Also when LoadLibraryW refused the copy: nothing of ours stays in the temporary directory.
    if (!g_tempLoaderPath.empty()) {
        if (!DeleteFileW(g_tempLoaderPath.c_str())) {
            const DWORD error = GetLastError();
            DebugTrace(L"UnloadWebView2Loader: cannot delete %ls (%lu)", g_tempLoaderPath.c_str(), error);
        }
        g_tempLoaderPath.clear();
    }
}

void SetLoaderImageForTesting(const unsigned char* data, std::size_t size) {
    g_loaderImage = data;
    g_loaderImageSize = data ? size : 0;
}

void RestoreLoaderImageForTesting() {
    g_loaderImage = kEmbeddedLoaderImage;
    g_loaderImageSize = kEmbeddedLoaderSize;
}
