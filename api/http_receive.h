// Reading one request from a connected client, bounded in size and in time, and ending the
// connection.
#pragma once

#include "api/client_socket.h"
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

// Reads one request: nothing within the first-data wait gives NoData; once it has begun, each wait
// for more lasts at most a few seconds and the whole request must arrive within a deadline.
ReceivedRequest ReceiveHttpRequest(ClientSocket& client);

// Ends the connection so that the reply reaches the client even when it sent more than was read:
// closing a socket with unread data resets the connection, which can destroy the reply in flight.
// Sends FIN after the reply; then, when the client may still be sending or unread bytes are
// waiting, reads and discards for a short, bounded time until the client closes too. Otherwise it
// returns at once and the caller's close ends the connection in order.
void FinishConnection(ClientSocket& client, const ReceivedRequest& received);
