// The script run in every page after a successful navigation (webhost/page_script.js, made into
// this constant at build time), and the step that runs it.
#pragma once

#include "webhost/webview2_interfaces.h"

// Flags the page as shown inside the assistant and posts clicks on download links, and
// window.open calls with them, as web messages.
extern const wchar_t kPageScript[];

// After a successful navigation: marks the site as loaded when the page's address contains the
// site's host name, and runs kPageScript. Null arguments give E_INVALIDARG; a failed navigation
// runs nothing.
HRESULT InjectPageScript(ICoreWebView2NavigationCompletedEventArgs* args);
