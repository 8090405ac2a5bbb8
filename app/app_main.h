// The program's entry and user-interface thread: start-up, the single-instance check, the one
// message loop and the ordered shutdown.
#pragma once

#include "base/win32.h"

int RunApplication(HINSTANCE instance);

// Describes an unhandled exception to DebugTrace and lets the process end without the system's
// error dialog.
LONG WINAPI CrashExceptionFilter(EXCEPTION_POINTERS* exceptionInfo);
