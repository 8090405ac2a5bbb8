#include "api/http_router.h"

#include "api/api_routes.h"
#include "api/http_request.h"
#include "api/http_response.h"
#include "api/request_guard.h"
#include "api/status_page.h"

namespace {

constexpr const char* kTextType = "text/plain";
constexpr const char* kJsonType = "application/json";
constexpr const char* kHtmlType = "text/html";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Plain prefix tests, first match wins: /api/statusXYZ still reaches the status route.
void RouteRequest(SOCKET socket, const HttpRequest& request) {
    const std::string& path = request.path;
    if (StartsWith(path, "/api/download")) {
        HandleApiDownload(socket, request);
    } else if (StartsWith(path, "/api/status")) {
        HandleApiStatus(socket);
    } else if (StartsWith(path, "/api/config")) {
        HandleApiConfig(socket, request);
    } else if (StartsWith(path, "/api/tasks")) {
        HandleApiTasks(socket);
    } else if (path == "/" || path == "/index.html") {
        SendHttpResponse(socket, 200, kHtmlType, BuildStatusPage());
    } else {
        SendHttpResponse(socket, 404, kTextType, "Not Found");
    }
}

}  // namespace

void ServeHttpRequest(SOCKET socket, const ReceivedRequest& received) {
    if (received.outcome == ReceiveOutcome::TooLarge) {
        SendHttpResponse(socket, 413, kTextType, "Payload Too Large");
        return;
    }
    // A body cut short would be read as a different request (a settings change missing its
    // options would switch them off), so nothing of it is acted on.
    HttpRequest request;
    if (received.outcome != ReceiveOutcome::Complete || !ParseHttpRequest(received.text, &request)) {
        SendHttpResponse(socket, 400, kTextType, "Bad Request");
        return;
    }
    if (!HasAllowedHost(request)) {
        SendHttpResponse(socket, 403, kJsonType, "{\"success\":false,\"message\":\"Forbidden host\"}");
        return;
    }
    if (request.method == "OPTIONS") {
        SendHttpResponse(socket, 200, kTextType, "");
        return;
    }
    if (IsStateChangingRequest(request) && !HasAllowedOrigin(request)) {
        SendHttpResponse(socket, 403, kJsonType, "{\"success\":false,\"message\":\"Forbidden origin\"}");
        return;
    }
    RouteRequest(socket, request);
}
