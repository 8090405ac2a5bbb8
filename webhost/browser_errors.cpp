#include "webhost/browser_errors.h"

#include "base/debug_trace.h"
#include "base/window_messages.h"
#include "state/app_state.h"

#include <cwchar>

namespace {

// Microsoft's public pages for the runtime: the bootstrapper's download link and the developer page.
constexpr const wchar_t* kRuntimeBootstrapperLink = L"https://go.microsoft.com/fwlink/?linkid=2124703";
constexpr const wchar_t* kRuntimeDeveloperPage = L"https://developer.microsoft.com/microsoft-edge/webview2/";
// Buffer sizes of the texts, terminating NUL included.
constexpr size_t kLongMessageChars = 512;
constexpr size_t kShortMessageChars = 256;

BrowserErrorSink g_sink = nullptr;

std::wstring Hex(HRESULT result) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%08lX", static_cast<unsigned long>(result));
    return text;
}

std::wstring Cut(std::wstring text, size_t bufferChars) {
    if (text.size() >= bufferChars) {
        text.resize(bufferChars - 1);
    }
    return text;
}

}  // namespace

std::wstring BrowserErrorText(BrowserError error, HRESULT result, const std::wstring& userDataFolder) {
    switch (error) {
        case BrowserError::LoaderMissing:
            return Cut(
                std::wstring(L"无法加载 WebView2Loader.dll\n请重新安装程序或手动下载 WebView2 Runtime：\n") +
                    kRuntimeBootstrapperLink,
                kLongMessageChars);
        case BrowserError::ExportsMissing:
            return L"找不到 WebView2 环境创建函数\n请确保安装了 WebView2 Runtime";
        case BrowserError::HostWindowFailed:
            return L"创建 WebView2 宿主窗口失败";
        case BrowserError::EnvironmentCallFailed:
            return Cut(L"启动 WebView2 浏览器控件失败 (HRESULT=" + Hex(result) + L")\n用户数据目录: " +
                           userDataFolder + L"\n请确保已安装 Microsoft Edge WebView2 Runtime\n下载地址: " +
                           kRuntimeDeveloperPage,
                       kLongMessageChars);
        case BrowserError::EnvironmentFailed:
            return Cut(L"WebView2 环境创建失败 (HRESULT=" + Hex(result) +
                           L")\n请确保已安装 Microsoft Edge WebView2 Runtime\n下载地址: " +
                           kRuntimeDeveloperPage,
                       kLongMessageChars);
        case BrowserError::ControllerFailed:
            return Cut(L"WebView2 Controller 创建失败 (HRESULT=" + Hex(result) + L")", kShortMessageChars);
        case BrowserError::CoreWebView2Missing:
            return Cut(L"获取 WebView2 核心接口失败 (HRESULT=" + Hex(result) + L")", kShortMessageChars);
    }
    return std::wstring();
}

void ReportBrowserError(BrowserError error, HRESULT result, const std::wstring& userDataFolder) noexcept {
    // Called from the runtime's callbacks, which no exception may leave: a text that cannot be
    // built leaves a box with the caption alone.
    std::wstring text;
    try {
        text = BrowserErrorText(error, result, userDataFolder);
    } catch (...) {
        text.clear();
    }
    DebugTrace(L"Browser failure shown: %ls", text.c_str());
    if (g_sink) {
        g_sink(kBrowserErrorCaption, text.c_str());
        return;
    }
    MessageBoxW(nullptr, text.c_str(), kBrowserErrorCaption, MB_OK | MB_ICONERROR);
}

void SetBrowserErrorSinkForTesting(BrowserErrorSink sink) {
    g_sink = sink;
}

void PostBrowserError(BrowserError error, HRESULT result) noexcept {
    const HWND window = g_hDownloadWnd.load();
    if (!window || !PostMessageW(window, WM_BROWSER_ERROR, static_cast<WPARAM>(error),
                                 static_cast<LPARAM>(static_cast<DWORD>(result)))) {
        DebugTrace(L"Browser failure %d (0x%08lX) not shown: no window", static_cast<int>(error),
                   static_cast<unsigned long>(result));
    }
}

void ShowPostedBrowserError(WPARAM error, LPARAM result) noexcept {
    ReportBrowserError(static_cast<BrowserError>(error), static_cast<HRESULT>(static_cast<DWORD>(result)));
}
