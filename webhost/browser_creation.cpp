#include "webhost/browser_creation.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "webhost/browser_errors.h"
#include "webhost/browser_handlers.h"
#include "webhost/browser_host.h"
#include "webhost/browser_host_window.h"
#include "webhost/browser_state.h"
#include "webhost/loader_library.h"
#include "webhost/runtime_discovery.h"

#include <forward_list>
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

}  // namespace

BrowserCreation CreateWebBrowserControl(HWND pageArea) {
    return BrowserHost::Instance().Create(pageArea);
}

void OnWebView2Init() {
    BrowserHost::Instance().OnInit();
}

void OnWebView2Ready() {
    BrowserHost::Instance().OnReady();
}

HRESULT CreateCoreWebView2Safe(ICoreWebView2Environment* environment, HWND host) {
    return BrowserHost::Instance().RequestController(environment, host);
}

void BrowserHost::FitHost(SIZE size) {
    if (IsHostLive()) {
        SetWindowPos(hWebViewHost_, nullptr, 0, 0, size.cx, size.cy, kFitFlags);
        ShowAndUpdate(hWebViewHost_);
    }
}

void BrowserHost::ShowExisting(HWND pageArea) {
    const SIZE size = ClientSizeWithDefaults(pageArea);
    FitHost(size);
    if (webViewController_) {
        webViewController_->put_Bounds(RECT{0, 0, size.cx, size.cy});
        webViewController_->put_IsVisible(TRUE);
    }
}

void BrowserHost::HideForDownloaderOnly(HWND pageArea) {
    ShowWindow(pageArea, SW_HIDE);
    if (IsHostLive()) {
        ShowWindow(hWebViewHost_, SW_HIDE);
    }
}

// Creates the host window inside the page area unless one exists. False after a failure, which
// was reported when it is the user's to see.
bool BrowserHost::EnsureHostWindow(HWND pageArea) {
    if (IsHostLive()) {
        return true;
    }
    if (!RegisterWebHostClass()) {
        return false;
    }
    ShowAndUpdate(pageArea);
    const SIZE size = ClientSizeWithDefaults(pageArea);
    hWebViewHost_ = CreateWindowExW(0, kWebHostClass, L"", kHostStyle, 0, 0, size.cx, size.cy, pageArea,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kWebHostId)),
                                    GetModuleHandleW(nullptr), nullptr);
    if (!hWebViewHost_) {
        const DWORD error = GetLastError();
        DebugTrace(L"CreateWindowExW(TarnWebHost) failed: %lu", error);
        ReportBrowserError(BrowserError::HostWindowFailed);
        return false;
    }
    FitHost(size);
    return true;
}

// Microsoft's loader reads the folders it was given again after the call returned (it retries with
// them when the runtime's engine fails), possibly after this browser was torn down and another
// creation began. So every folder text handed to it stays, unchanged, for the life of the process:
// an append-only list of the few distinct values, never freed. UI thread only.
namespace {
const wchar_t* KeepForLoader(const std::wstring& folder) {
    static auto* kept = new std::forward_list<std::wstring>();
    for (const std::wstring& text : *kept) {
        if (text == folder) {
            return text.c_str();
        }
    }
    kept->push_front(folder);
    return kept->front().c_str();
}
}  // namespace

HRESULT BrowserHost::StartEnvironment(HMODULE loader) {
    const auto withOptions = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFunction>(
        reinterpret_cast<void*>(GetProcAddress(loader, kCreateEnvironmentWithOptionsExport)));
    const auto plain = reinterpret_cast<CreateCoreWebView2EnvironmentFunction>(
        reinterpret_cast<void*>(GetProcAddress(loader, kCreateEnvironmentExport)));
    runtimeFolder_ = FindWebView2RuntimeFolder();
    const auto handler = MakeEnvironmentCompletedHandler();
    if (!handler) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = E_FAIL;
    const wchar_t* userDataFolder = KeepForLoader(userDataFolder_);
    if (withOptions && !runtimeFolder_.empty()) {
        result = withOptions(KeepForLoader(runtimeFolder_), userDataFolder, nullptr, handler.get());
        DebugTrace(L"CreateCoreWebView2EnvironmentWithOptions(%ls): 0x%08lX", runtimeFolder_.c_str(),
                   static_cast<unsigned long>(result));
        if (FAILED(result)) {
            result = withOptions(nullptr, userDataFolder, nullptr, handler.get());
        }
    } else if (withOptions) {
        result = withOptions(nullptr, userDataFolder, nullptr, handler.get());
    } else {
        result = plain(handler.get());
    }
    DebugTrace(L"Environment call: 0x%08lX", static_cast<unsigned long>(result));
    return result;
}

BrowserCreation BrowserHost::Create(HWND pageArea) {
    if (!IsLiveWindow(pageArea)) {
        return BrowserCreation::Handled;
    }
    if (state_ == BrowserState::Creating) {
        ShowAndUpdate(pageArea);
        return BrowserCreation::Handled;
    }
    if (state_ == BrowserState::Ready && webView_) {
        ShowExisting(pageArea);
        return BrowserCreation::Handled;
    }
    if (!CheckWebView2Runtime()) {
        g_webView2Missing = true;
        state_ = BrowserState::Missing;
        HideForDownloaderOnly(pageArea);
        return BrowserCreation::RuntimeMissing;
    }
    g_webView2Missing = false;
    state_ = BrowserState::Idle;
    const HMODULE loader = g_hWebView2Loader ? g_hWebView2Loader : LoadWebView2Loader();
    if (!loader) {
        ReportBrowserError(BrowserError::LoaderMissing);
        return BrowserCreation::Handled;
    }
    if (!GetProcAddress(loader, kCreateEnvironmentWithOptionsExport) &&
        !GetProcAddress(loader, kCreateEnvironmentExport)) {
        ReportBrowserError(BrowserError::ExportsMissing);
        return BrowserCreation::Handled;
    }
    if (!EnsureHostWindow(pageArea)) {
        return BrowserCreation::Handled;
    }
    state_ = BrowserState::Creating;
    userDataFolder_ = PrepareUserDataFolder();
    const HRESULT result = StartEnvironment(loader);
    if (FAILED(result)) {
        ReportBrowserError(BrowserError::EnvironmentCallFailed, result, userDataFolder_);
        if (IsHostLive()) {
            DestroyWindow(hWebViewHost_);
        }
        hWebViewHost_ = nullptr;
        state_ = BrowserState::Idle;
    }
    return BrowserCreation::Handled;
}

// A step of the chain failed: the next layout starts it again. A stray message for a browser that
// is already ready changes nothing.
void BrowserHost::FailCreation() {
    if (state_ == BrowserState::Creating) {
        state_ = BrowserState::Idle;
    }
}

HRESULT BrowserHost::OnEnvironmentCompleted(unsigned generation, HRESULT result,
                                            ICoreWebView2Environment* environment) {
    DebugTrace(L"Environment completed: 0x%08lX%ls", static_cast<unsigned long>(result),
               IsCurrent(generation) ? L"" : L" (browser already torn down)");
    // A completion for a browser that was torn down meanwhile keeps nothing and starts nothing.
    if (!IsCurrent(generation)) {
        return S_OK;
    }
    if (FAILED(result) || !environment) {
        PostBrowserError(BrowserError::EnvironmentFailed, result);
        FailCreation();
        // Taken: a failure answered here would make the loader try again behind the program's
        // back, and the user would get a second message for one attempt.
        return S_OK;
    }
    webViewEnvironment_ = ComPtr<ICoreWebView2Environment>(environment);
    if (!PostToProgramWindow(WM_WEBVIEW2_INIT)) {
        FailCreation();
        return E_FAIL;
    }
    return S_OK;
}

void BrowserHost::OnInit() {
    if (!webViewEnvironment_ || !IsHostLive()) {
        FailCreation();
        return;
    }
    const HWND parent = GetParent(hWebViewHost_);
    if (IsLiveWindow(parent)) {
        const SIZE size = ClientSizeWithDefaults(parent);
        SetWindowPos(hWebViewHost_, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const HRESULT result = RequestController(webViewEnvironment_.get(), hWebViewHost_);
    DebugTrace(L"CreateCoreWebView2Controller: 0x%08lX", static_cast<unsigned long>(result));
    if (FAILED(result)) {
        FailCreation();
    }
}

HRESULT BrowserHost::RequestController(ICoreWebView2Environment* environment, HWND host) {
    if (!environment || !host) {
        return E_INVALIDARG;
    }
    const auto handler = MakeControllerCompletedHandler();
    if (!handler) {
        return E_OUTOFMEMORY;
    }
    return environment->CreateCoreWebView2Controller(host, handler.get());
}

HRESULT BrowserHost::OnControllerCompleted(unsigned generation, HRESULT result,
                                           ICoreWebView2Controller* controller) {
    DebugTrace(L"Controller completed: 0x%08lX%ls", static_cast<unsigned long>(result),
               IsCurrent(generation) ? L"" : L" (browser already torn down)");
    if (!IsCurrent(generation)) {
        return S_OK;
    }
    if (FAILED(result) || !controller) {
        PostBrowserError(BrowserError::ControllerFailed, result);
        FailCreation();
        return S_OK;
    }
    ComPtr<ICoreWebView2> webView;
    const HRESULT browser = controller->get_CoreWebView2(webView.receive());
    if (FAILED(browser) || !webView) {
        PostBrowserError(BrowserError::CoreWebView2Missing, browser);
        FailCreation();
        return S_OK;
    }
    pendingController_ = ComPtr<ICoreWebView2Controller>(controller);
    pendingWebView_ = std::move(webView);
    if (!PostToProgramWindow(WM_WEBVIEW2_READY)) {
        pendingController_.reset();
        pendingWebView_.reset();
        FailCreation();
        return E_FAIL;
    }
    return S_OK;
}

void BrowserHost::OnReady() {
    if (!pendingWebView_) {
        FailCreation();
        return;
    }
    webView_ = std::move(pendingWebView_);
    if (pendingController_) {
        webViewController_ = std::move(pendingController_);
    }
    RegisterPageHandlers();
    state_ = BrowserState::Ready;
    ApplySettings();
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (IsLiveWindow(downloadWindow)) {
        ShowReadyBrowser(downloadWindow);
    }
}

void BrowserHost::ShowReadyBrowser(HWND downloadWindow) {
    const HWND pageArea = GetDlgItem(downloadWindow, kWebPageAreaId);
    if (!IsLiveWindow(pageArea)) {
        return;
    }
    SetWindowPos(pageArea, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ShowAndUpdate(pageArea);
    const SIZE size = ClientSizeWithDefaults(pageArea);
    FitHost(size);
    if (webViewController_) {
        webViewController_->put_Bounds(RECT{0, 0, size.cx, size.cy});
        webViewController_->put_IsVisible(TRUE);
        webViewController_->NotifyParentWindowPositionChanged();
    }
    ResizeChromeWindows(size.cx, size.cy);
    PostMessageW(downloadWindow, WM_DEFERRED_NAVIGATE, 0, 0);
}

void BrowserHost::RegisterPageHandlers() {
    if (const auto handler = MakeNavigationStartingHandler()) {
        navStarting_.registered =
            SUCCEEDED(webView_->add_NavigationStarting(handler.get(), &navStarting_.token));
    }
    if (const auto handler = MakeNavigationCompletedHandler()) {
        navCompleted_.registered =
            SUCCEEDED(webView_->add_NavigationCompleted(handler.get(), &navCompleted_.token));
    }
    if (const auto handler = MakeWebMessageReceivedHandler()) {
        webMessage_.registered =
            SUCCEEDED(webView_->add_WebMessageReceived(handler.get(), &webMessage_.token));
    }
    if (const auto handler = MakeProcessFailedHandler()) {
        processFailed_.registered =
            SUCCEEDED(webView_->add_ProcessFailed(handler.get(), &processFailed_.token));
    }
    if (const auto handler = MakeNewWindowRequestedHandler()) {
        newWindowRequested_.registered =
            SUCCEEDED(webView_->add_NewWindowRequested(handler.get(), &newWindowRequested_.token));
    }
    const auto keys = MakeAcceleratorKeyPressedHandler();
    if (keys && webViewController_) {
        acceleratorKeyPressed_.registered = SUCCEEDED(
            webViewController_->add_AcceleratorKeyPressed(keys.get(), &acceleratorKeyPressed_.token));
    }
}

// Results here are only traced: a runtime that refuses a setting still shows the page.
void BrowserHost::ApplySettings() {
    ComPtr<ICoreWebView2Settings> settings;
    if (FAILED(webView_->get_Settings(settings.receive())) || !settings) {
        return;
    }
    settings->put_IsScriptEnabled(TRUE);
    settings->put_AreDevToolsEnabled(FALSE);
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    ComPtr<ICoreWebView2Settings4> autofill;
    if (FAILED(settings->QueryInterface(IID_ICoreWebView2Settings4,
                                        reinterpret_cast<void**>(autofill.receive())))) {
        ComPtr<ICoreWebView2Settings5> newer;
        if (SUCCEEDED(settings->QueryInterface(IID_ICoreWebView2Settings5,
                                               reinterpret_cast<void**>(newer.receive())))) {
            autofill = ComPtr<ICoreWebView2Settings4>(newer.get());
        }
    }
    if (autofill) {
        autofill->put_IsPasswordAutosaveEnabled(TRUE);
        autofill->put_IsGeneralAutofillEnabled(TRUE);
    }
}
