// State of the embedded browser, read and written on the user-interface thread only. Every
// interface pointer here holds one counted reference of its own.
#pragma once

#include "base/win32.h"
#include "webhost/webview2_interfaces.h"

// The browser runtime was not found when the window was created: downloader-only mode. The browser
// code sets it again at each creation attempt; the window's style and controls stay as created.
extern bool g_webView2Missing;
// F11 state: the download window fills its monitor. Shared by the window's and the browser's keys.
extern bool g_fullScreen;

class CNavStartingHandler;
class CNavCompletedHandler;
class CWebMessageHandler;

// The browser host window ("TarnWebHost", id 2022, child of the web page area); null when none.
extern HWND g_hWebViewHost;
extern ICoreWebView2Environment* g_pWebViewEnvironment;
// Handed from the controller's completion to WM_WEBVIEW2_READY.
extern ICoreWebView2Controller* g_pPendingController;
extern ICoreWebView2* g_pPendingWebView;
extern ICoreWebView2Controller* g_pWebViewController;
extern ICoreWebView2* g_pWebView;
extern CNavStartingHandler* g_pNavStartingHandler;
extern CNavCompletedHandler* g_pNavCompletedHandler;
extern CWebMessageHandler* g_pWebMessageHandler;
// Registration tokens; 0 when not registered.
extern EventRegistrationToken g_navStartingToken;
extern EventRegistrationToken g_navCompletedToken;
extern EventRegistrationToken g_webMessageToken;
// A creation is under way: set at its start, cleared when it ends or fails.
extern bool g_webViewCreating;
// The controller is stored and the handlers registered.
extern bool g_webViewInitialized;
// The site's own page has loaded once; until then every re-layout asks for the start page.
extern bool g_webViewNavigated;
// The procedure "Chrome_WidgetWin_0" had before the key subclass; null while not subclassed.
extern WNDPROC g_origChromeWndProc;
// Counts teardowns. A handler remembers the value it was made under and, once the browser it
// belonged to was torn down, its Invoke does nothing: a late call from the runtime cannot bring
// released state back.
extern unsigned g_browserGeneration;
