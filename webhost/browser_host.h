// The embedded browser as one object: the host window, the runtime's objects, the event
// registrations and where the creation chain stands. Everything here is touched on the
// user-interface thread only; the runtime's callbacks arrive there too. The functions the rest of
// the program calls (browser_creation.h, browser_layout.h, browser_navigation.h,
// browser_teardown.h, chrome_windows.h) forward to the one instance.
#pragma once

#include "base/unique_handle.h"
#include "base/win32.h"
#include "webhost/browser_creation.h"
#include "webhost/webview2_interfaces.h"

#include <string>

// Where the browser stands. Each state says everything the old separate flags said, so a path
// that changes it cannot leave one of them behind.
enum class BrowserState {
    Missing,   // no runtime was found at the last attempt: downloader-only mode
    Idle,      // no browser and no creation under way (before the first, after a failure/teardown)
    Creating,  // the environment or controller completion is awaited
    Ready,     // the controller is taken over and the page handlers are registered
};

// One event registration: the runtime's token and whether it was given. A token's value may be 0.
struct EventRegistration {
    EventRegistrationToken token = {};
    bool registered = false;
};

class BrowserHost {
  public:
    static BrowserHost& Instance();
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    // Creation chain (browser_creation.cpp).
    BrowserCreation Create(HWND pageArea);
    void OnInit();
    void OnReady();
    HRESULT OnEnvironmentCompleted(unsigned generation, HRESULT result,
                                   ICoreWebView2Environment* environment);
    HRESULT OnControllerCompleted(unsigned generation, HRESULT result, ICoreWebView2Controller* controller);
    HRESULT RequestController(ICoreWebView2Environment* environment, HWND host);

    // Teardown (browser_teardown.cpp). Destroy also lets the loader go; TearDown keeps it for a
    // creation that follows.
    void Destroy();
    void TearDown();

    // Failures of the runtime's processes (browser_process_failures.cpp).
    HRESULT OnProcessFailed(unsigned generation, ICoreWebView2* sender,
                            ICoreWebView2ProcessFailedEventArgs* args);
    // WM_BROWSER_RECREATE: the failed browser goes; a shown window starts a new one at once.
    void Recreate(HWND downloadWindow, unsigned generation);
    // The download window was shown or restored: a browser that waited for it is created now.
    void OnWindowShown(HWND downloadWindow);

    // Layout (browser_layout.cpp, chrome_windows.cpp).
    bool FitAfterLayout(HWND downloadWindow, int width, int browserHeight);
    bool FitOnSize(int width, int browserHeight);
    void HideHost();
    void DeferredNavigate();
    void NotifyMoved();
    void ResizeChromeWindows(int width, int height);
    LRESULT ChromeKey(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void RestoreChromeWindowProc();
    // F5 and F11 as the runtime reports them when its own window has the keyboard focus.
    HRESULT OnAcceleratorKeyPressed(unsigned generation, ICoreWebView2Controller* sender,
                                    ICoreWebView2AcceleratorKeyPressedEventArgs* args);

    // What the page shows (browser_navigation.cpp).
    void Navigate(const wchar_t* url);
    void Reload();

    // Page events (browser_page_events.cpp, download_link_handlers.cpp).
    HRESULT OnNavigationStarting(unsigned generation, ICoreWebView2* sender,
                                 ICoreWebView2NavigationStartingEventArgs* args);
    HRESULT OnNavigationCompleted(unsigned generation, ICoreWebView2* sender,
                                  ICoreWebView2NavigationCompletedEventArgs* args);
    HRESULT OnWebMessageReceived(unsigned generation, ICoreWebView2* sender,
                                 ICoreWebView2WebMessageReceivedEventArgs* args);
    HRESULT OnNewWindowRequested(unsigned generation, ICoreWebView2* sender,
                                 ICoreWebView2NewWindowRequestedEventArgs* args);
    // After a successful navigation: notes whether the site has loaded and runs the page script.
    HRESULT InjectPageScript(ICoreWebView2NavigationCompletedEventArgs* args);

    BrowserState state() const { return state_; }
    unsigned generation() const { return browserGeneration_; }
    bool IsCurrent(unsigned generation) const { return generation == browserGeneration_; }

  private:
    BrowserHost() = default;

    bool IsHostLive() const;
    bool EnsureHostWindow(HWND pageArea);
    void FitHost(SIZE size);
    void ShowExisting(HWND pageArea);
    void HideForDownloaderOnly(HWND pageArea);
    HRESULT StartEnvironment(HMODULE loader);
    void FailCreation();
    void RegisterPageHandlers();
    void ApplySettings();
    void ShowReadyBrowser(HWND downloadWindow);
    void RemovePageHandlers();
    void ReloadAfterRendererFailure(int kind);
    bool HandleBrowserKey(HWND window, UINT key);
    void CloseBrowser();
    HWND FindOuterChromeWindow() const;

    BrowserState state_ = BrowserState::Idle;
    // The browser host window ("TarnWebHost", id 2022, child of the web page area); null when none.
    HWND hWebViewHost_ = nullptr;
    // The folders this creation hands to the loader (through KeepForLoader, which keeps the texts).
    std::wstring runtimeFolder_;
    std::wstring userDataFolder_;
    ComPtr<ICoreWebView2Environment> webViewEnvironment_;
    // Handed from the controller's completion to WM_WEBVIEW2_READY.
    ComPtr<ICoreWebView2Controller> pendingController_;
    ComPtr<ICoreWebView2> pendingWebView_;
    ComPtr<ICoreWebView2Controller> webViewController_;
    ComPtr<ICoreWebView2> webView_;
    EventRegistration navStarting_;
    EventRegistration navCompleted_;
    EventRegistration webMessage_;
    EventRegistration processFailed_;
    EventRegistration newWindowRequested_;
    EventRegistration acceleratorKeyPressed_;  // on the controller
    // The site's own page has loaded once; until then every re-layout asks for the start page.
    bool webViewNavigated_ = false;
    // The procedure "Chrome_WidgetWin_0" had before the key subclass; null while not subclassed.
    WNDPROC origChromeWndProc_ = nullptr;
    // Counts teardowns. A handler remembers the value it was made under; once the browser it
    // belonged to was torn down, the runtime's late calls through it change nothing.
    unsigned browserGeneration_ = 0;
    // Set once a teardown found a runtime call still pending: the runtime will call back from code
    // in the loader's module, so the loader stays loaded for the rest of the process.
    bool loaderNeededByRuntime_ = false;
    // The browser process ended while the window was hidden: the next showing creates it again.
    bool recreateOnShow_ = false;
    // When the page was last reloaded after its renderer failed; 0 when never.
    ULONGLONG rendererReloadTick_ = 0;
};
