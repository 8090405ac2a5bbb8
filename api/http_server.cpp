#include "api/http_server.h"

#include "app/debug_trace.h"

// The HTTP API is not built yet; the server thread ends at once.
void RunHttpServer() {
    DebugTrace(L"RunHttpServer: no HTTP API in this build");
}
