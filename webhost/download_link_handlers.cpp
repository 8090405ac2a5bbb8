// The two roads a download link takes from the page: a navigation to it (cancelled here) and a
// web message the page script posts. Both hand the link to HandleDownloadUrl, but only when the
// page it comes from is the site's: the script runs on every site the user reaches inside the
// window, and a link makes the program download, extract and file assets into the game's folders.
#include "base/debug_trace.h"
#include "webhost/browser_host.h"
#include "webhost/download_links.h"
#include "webhost/site.h"

#include <objbase.h>

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
