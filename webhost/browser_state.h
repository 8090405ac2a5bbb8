// The download window's two modes that the browser code and the window share. Everything else
// about the browser lives in BrowserHost (browser_host.h).
#pragma once

// The browser runtime was not found when the window was created: downloader-only mode. The browser
// code sets it again at each creation attempt; the window's style and controls stay as created.
extern bool g_webView2Missing;
// F11 state: the download window fills its monitor. Shared by the window's and the browser's keys.
extern bool g_fullScreen;
