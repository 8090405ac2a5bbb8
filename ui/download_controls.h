// WM_CREATE of the download window: the settings strip, the page area, the task list and the
// buttons, each with its id, text and first position for the window's mode.
#pragma once

#include "base/win32.h"

void CreateDownloadControls(HWND window);
