// The one reply format of the local API: a fixed header block with CORS headers, then the body.
#pragma once

#include "app/win32.h"

#include <string>

// The whole reply: status line ("OK" for 200, "Error" for every other code), content type with
// "; charset=utf-8", length, the three CORS headers, "Connection: close", the body.
std::string BuildHttpResponse(int statusCode, const std::string& contentType, const std::string& body);

// Writes BuildHttpResponse(...) to the socket. A failed send is not reported: the server closes the
// connection right after anyway.
void SendHttpResponse(SOCKET socket, int statusCode, const std::string& contentType, const std::string& body);
