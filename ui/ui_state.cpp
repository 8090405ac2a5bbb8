#include "ui/ui_state.h"

bool g_taskListVisible = false;
bool g_uiInitializing = false;
bool g_listDblClickActive = false;

HWND g_hClearButton = nullptr;
HWND g_hViewTasksButton = nullptr;
HWND g_hInstallButton = nullptr;
HWND g_hWebPage = nullptr;
