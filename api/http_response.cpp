#include "api/http_response.h"

#include <climits>

namespace {

constexpr int kMaxSendChunk = INT_MAX;

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

// A blocking send normally takes everything at once; the loop only matters if the system hands
// back a short count. The socket's send timeout bounds each call.
void SendHttpReply(SOCKET socket, const HttpReply& reply) {
    const std::string bytes = BuildHttpResponse(reply.status, reply.contentType, reply.body);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t remaining = bytes.size() - sent;
        const int chunk =
            remaining > static_cast<size_t>(kMaxSendChunk) ? kMaxSendChunk : static_cast<int>(remaining);
        const int result = send(socket, bytes.data() + sent, chunk, 0);
        if (result <= 0) {
            return;
        }
        sent += static_cast<size_t>(result);
    }
}
