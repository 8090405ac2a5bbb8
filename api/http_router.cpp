#include "api/http_router.h"

#include "api/http_request.h"
#include "api/request_guard.h"
#include "api/route_table.h"

namespace {

constexpr const char* kTextType = "text/plain";

HttpReply Reply(int status, const char* contentType, const char* body) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = contentType;
    reply.body = body;
    return reply;
}

}  // namespace

HttpReply AnswerHttpRequest(const ReceivedRequest& received) {
    if (received.outcome == ReceiveOutcome::TooLarge) {
        return Reply(413, kTextType, "Payload Too Large");
    }
    // A body cut short would be read as a different request (a settings change missing its
    // options would switch them off), so nothing of it is acted on.
    HttpRequest request;
    if (received.outcome != ReceiveOutcome::Complete || !ParseHttpRequest(received.text, &request)) {
        return Reply(400, kTextType, "Bad Request");
    }
    if (!HasAllowedHost(request)) {
        return Reply(403, "application/json", "{\"success\":false,\"message\":\"Forbidden host\"}");
    }
    if (request.method == "OPTIONS") {
        return Reply(200, kTextType, "");
    }
    const Route* route = FindRoute(request);
    if (route && !HasAllowedSender(request, route->changesState)) {
        return Reply(403, "application/json", "{\"success\":false,\"message\":\"Forbidden origin\"}");
    }
    if (!route) {
        return Reply(404, kTextType, "Not Found");
    }
    return route->handler(request);
}

void ServeHttpRequest(ClientSocket& client, const ReceivedRequest& received) {
    const HttpReply reply = AnswerHttpRequest(received);
    SendHttpReply(client, reply);
    if (reply.afterSend) {
        reply.afterSend();
    }
}
