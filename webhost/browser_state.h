// State of the embedded browser that the download window reads when it builds and lays itself out.
// Read and written on the user-interface thread only.
#pragma once

// The browser runtime was not found when the window was created: downloader-only mode. The browser
// code sets it again at each creation attempt; the window's style and controls stay as created.
extern bool g_webView2Missing;
// F11 state: the download window fills its monitor. Shared by the window's and the browser's keys.
extern bool g_fullScreen;
