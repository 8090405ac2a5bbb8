#include "api/http_response.h"

#include "api/client_socket.h"
#include "api/socket_wait.h"

#include <climits>
#include <utility>

namespace {

constexpr int kMaxSendChunk = INT_MAX;
// A reply up to this size fits whole in the system's buffers of a new connection, so one blocking
// send takes it at once. A larger one is sent without blocking, so that a slowly reading client
// gets the send wait anew whenever it makes room, however long the whole reply takes.
constexpr size_t kMaxBlockingSendBytes = 16384;

}  // namespace

std::string BuildHttpResponse(int statusCode, const std::string& contentType, const std::string& body) {
    std::string reply;
    reply.reserve(body.size() + 256);
    reply += "HTTP/1.1 ";
    reply += std::to_string(statusCode);
    reply += statusCode == 200 ? " OK\r\n" : " Error\r\n";
    reply += "Content-Type: ";
    reply += contentType;
    reply += "; charset=utf-8\r\n";
    reply += "Content-Length: ";
    reply += std::to_string(body.size());
    reply += "\r\n";
    reply += "Access-Control-Allow-Origin: *\r\n";
    reply += "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n";
    reply += "Access-Control-Allow-Headers: Content-Type\r\n";
    reply += "Connection: close\r\n\r\n";
    reply += body;
    return reply;
}

// On a non-blocking socket a send takes what fits in the system's buffer, and when nothing fits the
// server waits, within the send wait, for the client to read. A blocking send is bounded by the
// same wait, which the socket carries.
void SendHttpReply(ClientSocket& client, const HttpReply& reply) {
    const std::string bytes = BuildHttpResponse(reply.status, reply.contentType, reply.body);
    if (bytes.size() > kMaxBlockingSendBytes && !client.MakeNonBlocking()) {
        return;
    }
    const SOCKET socket = client.get();
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t remaining = bytes.size() - sent;
        const int chunk =
            remaining > static_cast<size_t>(kMaxSendChunk) ? kMaxSendChunk : static_cast<int>(remaining);
        const int result = send(socket, bytes.data() + sent, chunk, 0);
        if (result == SOCKET_ERROR && !client.blocking() && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!WaitForSocket(socket, SocketWait::Write, kSendWaitMs)) {
                return;
            }
            continue;
        }
        if (result <= 0) {
            return;
        }
        sent += static_cast<size_t>(result);
    }
}

HttpReply JsonReply(int status, std::string body) {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}
