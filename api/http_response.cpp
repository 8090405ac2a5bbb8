#include "api/http_response.h"

#include "api/socket_wait.h"

#include <climits>
#include <utility>

namespace {

constexpr int kMaxSendChunk = INT_MAX;
// A client that does not read its reply cannot hold the server longer than this per wait for room
// to send.
constexpr DWORD kSendTimeoutMs = 5000;

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

// The socket is non-blocking: a send takes what fits in the system's buffer, and when nothing fits
// the server waits, within the send timeout, for the client to read.
void SendHttpReply(SOCKET socket, const HttpReply& reply) {
    const std::string bytes = BuildHttpResponse(reply.status, reply.contentType, reply.body);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t remaining = bytes.size() - sent;
        const int chunk =
            remaining > static_cast<size_t>(kMaxSendChunk) ? kMaxSendChunk : static_cast<int>(remaining);
        const int result = send(socket, bytes.data() + sent, chunk, 0);
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!WaitForSocket(socket, SocketWait::Write, kSendTimeoutMs)) {
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
