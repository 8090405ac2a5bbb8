// Reading one request from a connected client, bounded in size and in time.
#pragma once

#include "base/win32.h"

#include <string>

// The whole request must fit in this many bytes; anything longer is refused.
constexpr size_t kMaxRequestBytes = 131071;

enum class ReceiveOutcome {
    NoData,      // nothing arrived in time, or the client closed at once: close without a reply
    Complete,    // the header block and the announced body arrived (or the headers never ended)
    Incomplete,  // the body stayed shorter than its Content-Length: never act on part of it
    TooLarge,    // the request does not fit in kMaxRequestBytes
};

struct ReceivedRequest {
    ReceiveOutcome outcome = ReceiveOutcome::NoData;
    std::string text;  // what arrived, cut at its first 0 byte
};

// Sets the connection's receive and send timeouts and reads one request.
ReceivedRequest ReceiveHttpRequest(SOCKET socket);

// Ends the connection so that the reply reaches the client even when it sent more than was read:
// closing a socket with unread data resets the connection, which can destroy the reply in flight.
// Sends FIN, then reads and discards for a short, bounded time until the client closes too.
void FinishConnection(SOCKET socket);
