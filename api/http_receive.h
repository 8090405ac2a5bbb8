// Reading one request from a connected client, bounded in size and in time, and ending the
// connection. The server's sockets are non-blocking: every wait is a bounded select.
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
    // The client may still be sending: it sent more than its request, or its request never ended
    // and it has not closed its side.
    bool clientMaySendMore = false;
};

// Reads one request from a non-blocking socket.
ReceivedRequest ReceiveHttpRequest(SOCKET socket);

// Ends the connection so that the reply reaches the client even when it sent more than was read:
// closing a socket with unread data resets the connection, which can destroy the reply in flight.
// When the client may still be sending, or unread bytes are waiting, sends FIN and then reads and
// discards for a short, bounded time until the client closes too; otherwise returns at once and
// the caller's close ends the connection in order.
void FinishConnection(SOCKET socket, const ReceivedRequest& received);
