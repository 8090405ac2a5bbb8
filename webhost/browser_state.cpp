#include "webhost/browser_state.h"

bool g_webView2Missing = false;
bool g_fullScreen = false;
