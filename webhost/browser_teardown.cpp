#include "webhost/browser_teardown.h"

// No browser control is created yet, so there is nothing to release.
void DestroyWebBrowserControl() {}
