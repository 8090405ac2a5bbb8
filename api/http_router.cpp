#include "api/http_router.h"

#include "api/http_request.h"
#include "api/request_guard.h"
#include "api/route_table.h"
#include "base/debug_trace.h"
#include "base/text_convert.h"

namespace {

constexpr const char* kTextType = "text/plain";

// What a user's report needs to tell a refused client from a broken one: the request line's method
// and path and the headers the refusal was decided on, never the body.
void TraceRefusal(const wchar_t* reason, const HttpRequest& request) {
    const auto first = [](const std::vector<std::string>& values) {
        return values.empty() ? std::string() : values[0];
    };
    DebugTrace(L"API refused (%ls): %ls %ls host=%ls origin=%ls fetch-site=%ls", reason,
               Utf8ToWide(request.method).c_str(), Utf8ToWide(request.path).c_str(),
               Utf8ToWide(first(request.hostHeaders)).c_str(),
               Utf8ToWide(first(request.originHeaders)).c_str(),
               Utf8ToWide(first(request.fetchSiteHeaders)).c_str());
}

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
        TraceRefusal(L"host", request);
        return Reply(403, "application/json", "{\"success\":false,\"message\":\"Forbidden host\"}");
    }
    if (request.method == "OPTIONS") {
        return Reply(200, kTextType, "");
    }
    const Route* route = FindRoute(request);
    if (route && !HasAllowedSender(request, route->changesState)) {
        TraceRefusal(L"origin", request);
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
