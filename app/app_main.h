// The program's entry and user-interface thread: start-up, the single-instance check, the one
// message loop and the ordered shutdown.
#pragma once

#include "base/win32.h"

int RunApplication(HINSTANCE instance);

// Takes the current folder out of the library search order, so that a library planted in whatever
// folder the program was started from is never loaded by name. The rest of the order stays: the
// browser runtime loads its own libraries through it.
void RemoveCurrentFolderFromLibrarySearch();

// Describes an unhandled exception to DebugTrace and lets the process end without the system's
// error dialog.
LONG WINAPI CrashExceptionFilter(EXCEPTION_POINTERS* exceptionInfo);
