// The three roads a download link takes from the page: a navigation to it (cancelled here), a web
// message the page script posts and a request for a new window. Each hands the link to
// HandleDownloadUrl, but only when the page it comes from is the site's: the script runs on every
// site the user reaches inside the window, and a link makes the program download, extract and file
// assets into the game's folders. A new window is never the runtime's bare one: the site's pages
// open in the program's view, other web pages in the user's default browser.
#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/download_links.h"
#include "webhost/site.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace {

// Written on every navigation start so that a support technician can see that the handler runs.
// The folder is never created: without C:\temp nothing is written.
constexpr const wchar_t* kNavigationMarkerPath = L"C:\\temp\\tarndown_event_triggered.txt";
constexpr char kNavigationMarkerText[] = "CNavStartingHandler::Invoke was called!";

void WriteNavigationMarker() {
    const HANDLE file = CreateFileW(kNavigationMarkerPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, kNavigationMarkerText, sizeof(kNavigationMarkerText) - 1, &written, nullptr);
    CloseHandle(file);
}

// Takes a text the runtime allocated: copies it and frees the runtime's copy. Null stays empty.
std::wstring TakeRuntimeText(LPWSTR text) {
    std::wstring copy = text ? text : L"";
    CoTaskMemFree(text);
    return copy;
}

// The address of the page the browser shows; empty when it cannot be read.
std::wstring ShownPageAddress(ICoreWebView2* webView) {
    if (!webView) {
        return std::wstring();
    }
    LPWSTR source = nullptr;
    const HRESULT read = webView->get_Source(&source);
    std::wstring address = TakeRuntimeText(source);
    return SUCCEEDED(read) ? address : std::wstring();
}

// The address of the page that posted a message; empty when it cannot be read.
std::wstring MessagePageAddress(ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR source = nullptr;
    const HRESULT read = args->get_Source(&source);
    std::wstring address = TakeRuntimeText(source);
    return SUCCEEDED(read) ? address : std::wstring();
}

void HandleLinkFromPage(const std::wstring& link, const std::wstring& pageAddress) {
    if (!IsSitePageAddress(pageAddress)) {
        DebugTrace(L"Download link from a page of another site ignored");
        return;
    }
    HandleDownloadUrl(link);
}

void StopLinkNavigation(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args,
                        bool currentBrowser) {
    WriteNavigationMarker();
    if (!args) {
        return;
    }
    LPWSTR uri = nullptr;
    if (FAILED(args->get_Uri(&uri)) || !uri) {
        return;
    }
    const std::wstring address = TakeRuntimeText(uri);
    if (!IsDownloadLink(address)) {
        return;
    }
    // Cancelled whatever page asked for it: a link is never a place to go.
    args->put_Cancel(TRUE);
    // A redirect's event still names the page that started the navigation as the browser's
    // source, though a foreign server chose the link; when that cannot be ruled out, no task.
    BOOL redirected = TRUE;
    if (FAILED(args->get_IsRedirected(&redirected)) || redirected) {
        DebugTrace(L"Download link reached by a redirect ignored");
        return;
    }
    if (currentBrowser) {
        HandleLinkFromPage(address, ShownPageAddress(sender));
    }
}

void TakeLinkFromMessage(ICoreWebView2WebMessageReceivedEventArgs* args) {
    // A message that is not a plain string gives an error and no text; only the text matters.
    LPWSTR text = nullptr;
    args->TryGetWebMessageAsString(&text);
    const std::wstring message = TakeRuntimeText(text);
    if (IsDownloadLink(message)) {
        HandleLinkFromPage(message, MessagePageAddress(args));
    }
}

bool IsWebAddress(const std::wstring& address) {
    return address.compare(0, 7, L"http://") == 0 || address.compare(0, 8, L"https://") == 0;
}

void OpenInDefaultBrowser(const std::wstring& address) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    DebugTrace(L"NewWindowRequested: %ls opened in the default browser (%lld)", address.c_str(),
               static_cast<long long>(result));
}

}  // namespace

HRESULT BrowserHost::OnNavigationStarting(unsigned generation, ICoreWebView2* sender,
                                          ICoreWebView2NavigationStartingEventArgs* args) {
    // A stale browser's link is still cancelled: a link is never a place to go.
    StopLinkNavigation(sender, args, IsCurrent(generation));
    return S_OK;
}

HRESULT BrowserHost::OnWebMessageReceived(unsigned generation, ICoreWebView2*,
                                          ICoreWebView2WebMessageReceivedEventArgs* args) {
    if (args && IsCurrent(generation)) {
        TakeLinkFromMessage(args);
    }
    return S_OK;
}

HRESULT BrowserHost::OnNewWindowRequested(unsigned generation, ICoreWebView2* sender,
                                          ICoreWebView2NewWindowRequestedEventArgs* args) {
    if (!args) {
        return S_OK;
    }
    // Handled before anything else: whatever follows, the runtime opens no window of its own.
    args->put_Handled(TRUE);
    LPWSTR uri = nullptr;
    if (!IsCurrent(generation) || FAILED(args->get_Uri(&uri))) {
        CoTaskMemFree(uri);
        return S_OK;
    }
    const std::wstring address = TakeRuntimeText(uri);
    const std::wstring pageAddress = ShownPageAddress(sender);
    const bool fromSite = IsSitePageAddress(pageAddress);
    BOOL userInitiated = FALSE;
    args->get_IsUserInitiated(&userInitiated);
    if (IsDownloadLink(address)) {
        HandleLinkFromPage(address, pageAddress);
    } else if (fromSite && IsSitePageAddress(address)) {
        DebugTrace(L"NewWindowRequested: %ls opens in the view", address.c_str());
        Navigate(address.c_str());
    } else if (IsWebAddress(address) && userInitiated) {
        OpenInDefaultBrowser(address);
    } else {
        DebugTrace(L"NewWindowRequested: %ls refused (%ls, %ls)", address.c_str(),
                   fromSite ? L"site page" : L"other page", userInitiated ? L"user" : L"script");
    }
    return S_OK;
}
