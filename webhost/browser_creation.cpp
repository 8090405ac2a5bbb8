#include "webhost/browser_creation.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "webhost/browser_errors.h"
#include "webhost/browser_handlers.h"
#include "webhost/browser_host_window.h"
#include "webhost/browser_state.h"
#include "webhost/chrome_windows.h"
#include "webhost/loader_library.h"
#include "webhost/runtime_discovery.h"

#include <new>
#include <string>

namespace {

// A client area not yet laid out counts as this size.
constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;
constexpr const wchar_t* kUserDataFolderName = L"TarnDown_WebView2";
// The user data folder is built in a buffer of this many characters, NUL included.
constexpr size_t kPathChars = 260;
constexpr DWORD kHostStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr UINT kFitFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;

bool IsLiveWindow(HWND window) {
    return window && IsWindow(window);
}

SIZE ClientSizeWithDefaults(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    const LONG width = client.right - client.left;
    const LONG height = client.bottom - client.top;
    return SIZE{width < 1 ? kDefaultWidth : width, height < 1 ? kDefaultHeight : height};
}

void ShowAndUpdate(HWND window) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
}

void FitHost(SIZE size) {
    if (IsLiveWindow(g_hWebViewHost)) {
        SetWindowPos(g_hWebViewHost, nullptr, 0, 0, size.cx, size.cy, kFitFlags);
        ShowAndUpdate(g_hWebViewHost);
    }
}

// The completions post to the download window; without one, to the tray window, whose default
// processing ends the chain there.
bool PostToProgramWindow(UINT message) {
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (IsLiveWindow(downloadWindow)) {
        return PostMessageW(downloadWindow, message, 0, 0) != FALSE;
    }
    if (IsLiveWindow(g_hTrayWnd)) {
        return PostMessageW(g_hTrayWnd, message, 0, 0) != FALSE;
    }
    return false;
}

// "<LOCALAPPDATA>\TarnDown_WebView2", or "<temp>TarnDown_WebView2" when the variable is unset or
// too long for the buffer. Only the last level is created.
std::wstring PrepareUserDataFolder() {
    const std::wstring localAppData = ReadEnvironmentVariable(L"LOCALAPPDATA");
    std::wstring folder;
    if (!localAppData.empty() && localAppData.size() < kPathChars) {
        folder = localAppData + L"\\" + kUserDataFolderName;
    } else {
        folder = TempDirectory() + kUserDataFolderName;
    }
    if (folder.size() >= kPathChars) {
        folder.resize(kPathChars - 1);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void ShowExistingBrowser(HWND pageArea) {
    const SIZE size = ClientSizeWithDefaults(pageArea);
    FitHost(size);
    if (g_pWebViewController) {
        g_pWebViewController->put_Bounds(RECT{0, 0, size.cx, size.cy});
        g_pWebViewController->put_IsVisible(TRUE);
    }
}

void HideForDownloaderOnly(HWND pageArea) {
    ShowWindow(pageArea, SW_HIDE);
    if (IsLiveWindow(g_hWebViewHost)) {
        ShowWindow(g_hWebViewHost, SW_HIDE);
    }
}

// Creates the host window inside the page area unless one exists. False after a failure, which
// was reported when it is the user's to see.
bool EnsureHostWindow(HWND pageArea) {
    if (IsLiveWindow(g_hWebViewHost)) {
        return true;
    }
    if (!RegisterWebHostClass()) {
        return false;
    }
    ShowAndUpdate(pageArea);
    const SIZE size = ClientSizeWithDefaults(pageArea);
    g_hWebViewHost = CreateWindowExW(0, kWebHostClass, L"", kHostStyle, 0, 0, size.cx, size.cy, pageArea,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kWebHostId)),
                                     GetModuleHandleW(nullptr), nullptr);
    if (!g_hWebViewHost) {
        const DWORD error = GetLastError();
        DebugTrace(L"CreateWindowExW(TarnWebHost) failed: %lu", error);
        ReportBrowserError(BrowserError::HostWindowFailed);
        return false;
    }
    FitHost(size);
    return true;
}

HRESULT StartEnvironment(HMODULE loader, const std::wstring& userDataFolder) {
    const auto withOptions = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFunction>(
        reinterpret_cast<void*>(GetProcAddress(loader, kCreateEnvironmentWithOptionsExport)));
    const auto plain = reinterpret_cast<CreateCoreWebView2EnvironmentFunction>(
        reinterpret_cast<void*>(GetProcAddress(loader, kCreateEnvironmentExport)));
    const std::wstring runtimeFolder = FindWebView2RuntimeFolder();
    auto* handler = new (std::nothrow) CEnvCompletedHandler();
    if (!handler) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = E_FAIL;
    if (withOptions && !runtimeFolder.empty()) {
        result = withOptions(runtimeFolder.c_str(), userDataFolder.c_str(), nullptr, handler);
        DebugTrace(L"CreateCoreWebView2EnvironmentWithOptions(%ls): 0x%08lX", runtimeFolder.c_str(),
                   static_cast<unsigned long>(result));
        if (FAILED(result)) {
            result = withOptions(nullptr, userDataFolder.c_str(), nullptr, handler);
        }
    } else if (withOptions) {
        result = withOptions(nullptr, userDataFolder.c_str(), nullptr, handler);
    } else {
        result = plain(handler);
    }
    DebugTrace(L"Environment call: 0x%08lX", static_cast<unsigned long>(result));
    handler->Release();
    return result;
}

void RegisterPageHandlers() {
    g_pNavStartingHandler = new (std::nothrow) CNavStartingHandler();
    if (g_pNavStartingHandler &&
        FAILED(g_pWebView->add_NavigationStarting(g_pNavStartingHandler, &g_navStartingToken))) {
        ReleaseHandler(g_pNavStartingHandler);
        g_navStartingToken = {};
    }
    g_pNavCompletedHandler = new (std::nothrow) CNavCompletedHandler();
    if (g_pNavCompletedHandler &&
        FAILED(g_pWebView->add_NavigationCompleted(g_pNavCompletedHandler, &g_navCompletedToken))) {
        ReleaseHandler(g_pNavCompletedHandler);
        g_navCompletedToken = {};
    }
    g_pWebMessageHandler = new (std::nothrow) CWebMessageHandler();
    if (g_pWebMessageHandler &&
        FAILED(g_pWebView->add_WebMessageReceived(g_pWebMessageHandler, &g_webMessageToken))) {
        ReleaseHandler(g_pWebMessageHandler);
        g_webMessageToken = {};
    }
}

// Results here are only traced: a runtime that refuses a setting still shows the page.
void ApplySettings() {
    ICoreWebView2Settings* settings = nullptr;
    if (FAILED(g_pWebView->get_Settings(&settings)) || !settings) {
        return;
    }
    settings->put_IsScriptEnabled(TRUE);
    settings->put_AreDevToolsEnabled(FALSE);
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    ICoreWebView2Settings4* autofill = nullptr;
    if (FAILED(settings->QueryInterface(IID_ICoreWebView2Settings4, reinterpret_cast<void**>(&autofill))) ||
        !autofill) {
        autofill = nullptr;
        ICoreWebView2Settings5* newer = nullptr;
        if (SUCCEEDED(
                settings->QueryInterface(IID_ICoreWebView2Settings5, reinterpret_cast<void**>(&newer)))) {
            autofill = newer;
        }
    }
    if (autofill) {
        autofill->put_IsPasswordAutosaveEnabled(TRUE);
        autofill->put_IsGeneralAutofillEnabled(TRUE);
        autofill->Release();
    }
    settings->Release();
}

template <typename Interface>
void ReplaceReference(Interface*& stored, Interface* incoming) {
    if (stored && stored != incoming) {
        stored->Release();
    }
    stored = incoming;
}

}  // namespace

BrowserCreation CreateWebBrowserControl(HWND pageArea) {
    if (!IsLiveWindow(pageArea)) {
        return BrowserCreation::Handled;
    }
    if (g_webViewCreating) {
        ShowAndUpdate(pageArea);
        return BrowserCreation::Handled;
    }
    if (g_webViewInitialized && g_pWebView) {
        ShowExistingBrowser(pageArea);
        return BrowserCreation::Handled;
    }
    g_webViewCreating = true;
    if (!CheckWebView2Runtime()) {
        g_webView2Missing = true;
        HideForDownloaderOnly(pageArea);
        g_webViewCreating = false;
        return BrowserCreation::RuntimeMissing;
    }
    g_webView2Missing = false;

    const HMODULE loader = g_hWebView2Loader ? g_hWebView2Loader : LoadWebView2Loader();
    if (!loader) {
        ReportBrowserError(BrowserError::LoaderMissing);
        g_webViewCreating = false;
        return BrowserCreation::Handled;
    }
    if (!GetProcAddress(loader, kCreateEnvironmentWithOptionsExport) &&
        !GetProcAddress(loader, kCreateEnvironmentExport)) {
        ReportBrowserError(BrowserError::ExportsMissing);
        g_webViewCreating = false;
        return BrowserCreation::Handled;
    }
    if (!EnsureHostWindow(pageArea)) {
        g_webViewCreating = false;
        return BrowserCreation::Handled;
    }
    const std::wstring userDataFolder = PrepareUserDataFolder();
    const HRESULT result = StartEnvironment(loader, userDataFolder);
    if (FAILED(result)) {
        ReportBrowserError(BrowserError::EnvironmentCallFailed, result, userDataFolder);
        if (IsLiveWindow(g_hWebViewHost)) {
            DestroyWindow(g_hWebViewHost);
        }
        g_hWebViewHost = nullptr;
        g_webViewCreating = false;
    }
    return BrowserCreation::Handled;
}

HRESULT STDMETHODCALLTYPE CEnvCompletedHandler::Invoke(HRESULT result,
                                                       ICoreWebView2Environment* environment) {
    // A completion for a browser that was torn down meanwhile keeps nothing and starts nothing.
    if (!BelongsToCurrentBrowser()) {
        return S_OK;
    }
    if (FAILED(result) || !environment) {
        ReportBrowserError(BrowserError::EnvironmentFailed, result);
        g_webViewCreating = false;
        return result;
    }
    environment->AddRef();
    ReplaceReference(g_pWebViewEnvironment, environment);
    if (!PostToProgramWindow(WM_WEBVIEW2_INIT)) {
        g_webViewCreating = false;
        return E_FAIL;
    }
    return S_OK;
}

void OnWebView2Init() {
    if (!g_pWebViewEnvironment || !IsLiveWindow(g_hWebViewHost)) {
        g_webViewCreating = false;
        return;
    }
    const HWND parent = GetParent(g_hWebViewHost);
    if (IsLiveWindow(parent)) {
        const SIZE size = ClientSizeWithDefaults(parent);
        SetWindowPos(g_hWebViewHost, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const HRESULT result = CreateCoreWebView2Safe(g_pWebViewEnvironment, g_hWebViewHost);
    DebugTrace(L"CreateCoreWebView2Controller: 0x%08lX", static_cast<unsigned long>(result));
    if (FAILED(result)) {
        g_webViewCreating = false;
    }
}

HRESULT CreateCoreWebView2Safe(ICoreWebView2Environment* environment, HWND host) {
    if (!environment || !host) {
        return E_INVALIDARG;
    }
    auto* handler = new (std::nothrow) CWebViewControllerHandler();
    if (!handler) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = environment->CreateCoreWebView2Controller(host, handler);
    handler->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE CWebViewControllerHandler::Invoke(HRESULT result,
                                                            ICoreWebView2Controller* controller) {
    if (!BelongsToCurrentBrowser()) {
        return S_OK;
    }
    if (FAILED(result) || !controller) {
        ReportBrowserError(BrowserError::ControllerFailed, result);
        g_webViewCreating = false;
        return result;
    }
    ICoreWebView2* webView = nullptr;
    const HRESULT browser = controller->get_CoreWebView2(&webView);
    if (FAILED(browser) || !webView) {
        if (webView) {
            webView->Release();
        }
        ReportBrowserError(BrowserError::CoreWebView2Missing, browser);
        g_webViewCreating = false;
        return browser;
    }
    controller->AddRef();
    ReplaceReference(g_pPendingController, controller);
    ReplaceReference(g_pPendingWebView, webView);
    if (!PostToProgramWindow(WM_WEBVIEW2_READY)) {
        ReplaceReference(g_pPendingController, static_cast<ICoreWebView2Controller*>(nullptr));
        ReplaceReference(g_pPendingWebView, static_cast<ICoreWebView2*>(nullptr));
        g_webViewCreating = false;
        return E_FAIL;
    }
    return S_OK;
}

void OnWebView2Ready() {
    if (!g_pPendingWebView) {
        g_webViewCreating = false;
        return;
    }
    ReplaceReference(g_pWebView, g_pPendingWebView);
    g_pPendingWebView = nullptr;
    if (g_pPendingController) {
        ReplaceReference(g_pWebViewController, g_pPendingController);
        g_pPendingController = nullptr;
    }
    g_webViewCreating = false;

    RegisterPageHandlers();
    g_webViewInitialized = true;
    ApplySettings();

    const HWND downloadWindow = g_hDownloadWnd.load();
    const HWND pageArea = IsLiveWindow(downloadWindow) ? GetDlgItem(downloadWindow, kWebPageAreaId) : nullptr;
    if (!IsLiveWindow(pageArea)) {
        return;
    }
    SetWindowPos(pageArea, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ShowAndUpdate(pageArea);
    const SIZE size = ClientSizeWithDefaults(pageArea);
    FitHost(size);
    if (g_pWebViewController) {
        g_pWebViewController->put_Bounds(RECT{0, 0, size.cx, size.cy});
        g_pWebViewController->put_IsVisible(TRUE);
        g_pWebViewController->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(size.cx, size.cy);
    PostMessageW(downloadWindow, WM_DEFERRED_NAVIGATE, 0, 0);
}
