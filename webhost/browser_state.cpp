#include "webhost/browser_state.h"

bool g_webView2Missing = false;
bool g_fullScreen = false;

HWND g_hWebViewHost = nullptr;
ICoreWebView2Environment* g_pWebViewEnvironment = nullptr;
ICoreWebView2Controller* g_pPendingController = nullptr;
ICoreWebView2* g_pPendingWebView = nullptr;
ICoreWebView2Controller* g_pWebViewController = nullptr;
ICoreWebView2* g_pWebView = nullptr;
CNavStartingHandler* g_pNavStartingHandler = nullptr;
CNavCompletedHandler* g_pNavCompletedHandler = nullptr;
CWebMessageHandler* g_pWebMessageHandler = nullptr;
EventRegistrationToken g_navStartingToken = {};
EventRegistrationToken g_navCompletedToken = {};
EventRegistrationToken g_webMessageToken = {};
bool g_webViewCreating = false;
bool g_webViewInitialized = false;
bool g_webViewNavigated = false;
WNDPROC g_origChromeWndProc = nullptr;
unsigned g_browserGeneration = 0;
