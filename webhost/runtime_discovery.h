// Finding the installed browser runtime.
#pragma once

#include "base/win32.h"

#include <string>

// True when the registry names an installed runtime or a runtime version folder is found.
bool IsWebView2RuntimeAvailable();
// Full path of the newest runtime version folder, or empty. "Newest" is the greatest folder name
// in plain text order, not in version-number order.
std::wstring FindWebView2RuntimeFolder();

// Test seam: the root under which the two runtime keys are looked up (normally
// HKEY_LOCAL_MACHINE). Null restores it.
void SetRuntimeRegistryRootForTesting(HKEY root);

// IsWebView2RuntimeAvailable, unless a test put another answer in its place. The download window
// and the browser creation both ask through here.
bool CheckWebView2Runtime();
// Test seam: how the program learns whether the runtime is installed. Null restores the real check.
using RuntimeCheck = bool (*)();
void SetRuntimeCheckForTesting(RuntimeCheck check);
