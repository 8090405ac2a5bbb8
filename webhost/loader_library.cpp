#include "webhost/loader_library.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/unique_handle.h"

#include <climits>

// Generated at build time from the TARN_WEBVIEW2_LOADER option; zero bytes when none was given.
extern const unsigned char kEmbeddedLoaderImage[];
extern const std::size_t kEmbeddedLoaderSize;

std::wstring g_tempLoaderPath;
HMODULE g_hWebView2Loader = nullptr;

namespace {

constexpr const wchar_t* kExtractedLoaderName = L"TarnDown_WebView2Loader.dll";
constexpr const wchar_t* kFallbackLoaderName = L"WebView2Loader.dll";

const unsigned char* g_loaderImage = kEmbeddedLoaderImage;
std::size_t g_loaderImageSize = kEmbeddedLoaderSize;

// Reuse is decided by size alone: the image is written in one piece, so a file that was cut short
// by a crash has another size and is rewritten.
bool HasImageSize(const std::wstring& path) {
    UniqueFile existing(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    return existing && GetFileSizeEx(existing.get(), &size) &&
           static_cast<unsigned long long>(size.QuadPart) == g_loaderImageSize;
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
    if (HasImageSize(path)) {
        DebugTrace(L"ExtractEmbeddedLoader: reusing %ls", path.c_str());
        return path;
    }
    return WriteImage(path) ? path : std::wstring();
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
    return g_hWebView2Loader;
}

void SetLoaderImageForTesting(const unsigned char* data, std::size_t size) {
    g_loaderImage = data;
    g_loaderImageSize = data ? size : 0;
}

void RestoreLoaderImageForTesting() {
    g_loaderImage = kEmbeddedLoaderImage;
    g_loaderImageSize = kEmbeddedLoaderSize;
}
