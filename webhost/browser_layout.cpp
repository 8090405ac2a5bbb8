#include "webhost/browser_layout.h"

// The browser control is not built yet: there is never a browser to create, size, hide or reload.
void CreateWebBrowserControl(HWND) {}
void FitWebBrowserAfterLayout(HWND, int, int) {}
void FitWebBrowserOnSize(int, int) {}
void HideWebBrowserHost() {}
void ReloadWebBrowser() {}
void HandleDeferredNavigate() {}
