// What lower layers ask of the windows above them (the API route brings the download window
// forward, a settings change refreshes the tray tip). The layers that own those windows register
// the calls at start-up; until then, and in processes without them, a request does nothing.
#pragma once

struct WindowRequestHandlers {
    // Brings the download window forward, creating it when none exists; callable from any thread.
    void (*showDownloadWindow)() = nullptr;
    // Shows the current port in the tray tip; callable from any thread.
    void (*refreshTrayTip)() = nullptr;
};

// UI thread, at start-up, before other threads run. Null members unregister.
void SetWindowRequestHandlers(const WindowRequestHandlers& handlers);

void RequestShowDownloadWindow();
void RequestTrayTipRefresh();
