// Answers one received request: refusals, the CORS preflight, the routes and the status page.
#pragma once

#include "api/http_receive.h"
#include "api/http_response.h"
#include "base/win32.h"

// The reply to `received`, which must not be NoData.
HttpReply AnswerHttpRequest(const ReceivedRequest& received);

// Sends the one reply for `received`, then runs what must follow it; does not close the socket.
void ServeHttpRequest(ClientSocket& client, const ReceivedRequest& received);
