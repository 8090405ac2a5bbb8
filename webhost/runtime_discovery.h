// Finding the installed browser runtime and the loader library the program carries.
#pragma once

#include "app/win32.h"

#include <string>

bool IsWebView2RuntimeAvailable();
// Full path of the newest runtime version folder, or empty.
std::wstring FindWebView2RuntimeFolder();
