// Answers one received request: refusals, the CORS preflight, the routes and the status page.
#pragma once

#include "api/http_receive.h"
#include "app/win32.h"

// Sends exactly one reply for `received` (which must not be NoData); does not close the socket.
void ServeHttpRequest(SOCKET socket, const ReceivedRequest& received);
