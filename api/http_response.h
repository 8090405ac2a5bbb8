// The one reply format of the local API: a fixed header block with CORS headers, then the body.
#pragma once

#include "api/client_socket.h"
#include "base/win32.h"

#include <functional>
#include <string>

// A route's answer, sent by the server in one place after the handler returned.
struct HttpReply {
    int status = 200;
    const char* contentType = "application/json";
    std::string body;
    // Work that must follow the reply on the wire (the download route starts its worker only once
    // the client has its task id); run after the send, whatever its outcome.
    std::function<void()> afterSend;
};

// A JSON reply with the given status and body.
HttpReply JsonReply(int status, std::string body);

// The whole reply: status line ("OK" for 200, "Error" for every other code), content type with
// "; charset=utf-8", length, the three CORS headers, "Connection: close", the body.
std::string BuildHttpResponse(int statusCode, const std::string& contentType, const std::string& body);

// Writes BuildHttpResponse(...) of the reply to the socket. A failed send is not reported: the
// server closes the connection right after anyway.
void SendHttpReply(ClientSocket& client, const HttpReply& reply);
