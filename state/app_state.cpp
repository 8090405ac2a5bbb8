#include "state/app_state.h"

HICON g_hAppIcon = nullptr;
HWND g_hTrayWnd = nullptr;
std::atomic<HWND> g_hDownloadWnd{nullptr};
