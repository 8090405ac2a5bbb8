// The program's one visible top-level window: settings strip, web page area and task list.
#pragma once

#include "app/win32.h"

// Brings the download window forward, creating it when none exists. May be called from any thread:
// off the UI thread, creation is handed to the tray window.
void ShowDownloadWindow();
