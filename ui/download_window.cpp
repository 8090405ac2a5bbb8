#include "ui/download_window.h"

#include "app/debug_trace.h"

// The download window is not built yet; start-up and the tray call this so that it can be filled in
// without touching them.
void ShowDownloadWindow() {
    DebugTrace(L"ShowDownloadWindow: no download window in this build");
}
