// The thread that runs the local HTTP server for the life of the program.
#pragma once

#include "base/win32.h"

// Starts the thread (UI thread, once). Thread creation failure raises std::system_error.
void StartServerThread();

// Clears the server's run flag and waits up to `timeoutMs` for the thread to notice (it does within
// one accept wait, unless a connection is being served). True when the thread ended and was joined
// or never ran; false when it is still busy and was let go, so the process must end without
// destroying what it uses.
bool StopServerThread(DWORD timeoutMs);
