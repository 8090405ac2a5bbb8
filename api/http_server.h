// The local HTTP API on 127.0.0.1.
#pragma once

#include "base/unique_handle.h"
#include "base/win32.h"

#include <atomic>

// The server thread runs while this is true; clearing it ends the thread within one accept wait.
extern std::atomic<bool> g_serverRunning;

// Body of the server thread: serves one connection at a time until g_serverRunning is cleared.
void RunHttpServer();

// A TCP socket bound to 127.0.0.1:port and listening, that no other socket can bind to the same
// address while it lives. On failure returns an invalid socket and says which step failed.
enum class ListenFailure { None, Socket, Bind, Listen };
UniqueSocket CreateListeningSocket(int port, ListenFailure* failure);
