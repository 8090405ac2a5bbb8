// Releases the embedded browser control, its host window and the loader library. Safe to call
// again: a second call finds nothing and changes nothing.
#pragma once

void DestroyWebBrowserControl();
