// The local HTTP API on 127.0.0.1.
#pragma once

// Body of the server thread: serves one connection at a time until g_serverRunning is cleared.
void RunHttpServer();
