// Refusals that keep web pages the user visits from using the loopback API: a foreign Host header
// (DNS rebinding: any site can point a name at 127.0.0.1), a foreign Origin header (a page's simple
// cross-site POST needs no preflight, and a page's fetch may read the settings and the task list)
// and, on the routes that change state, a browser's mark of another site without an allowed origin
// (an <img src> or a plain link carries no Origin header at all), and the program's own downloads.
#pragma once

#include "api/http_request.h"

#include <string>

// True for a Host value naming 127.0.0.1, localhost or [::1], with or without a port.
bool IsLoopbackHostValue(const std::string& host);

// True for the asset-library site's own origin (http or https) and for loopback origins.
bool IsAllowedOriginValue(const std::string& origin);

// True when the request may be served: it has no Host header, or every one names the loopback.
bool HasAllowedHost(const HttpRequest& request);

// True for requests that create tasks or change settings.
bool IsStateChangingRequest(const HttpRequest& request);

// True when the request carries no Origin header, or every one is allowed.
bool HasAllowedOrigin(const HttpRequest& request);

// True when the page (or program) that sent the request may use a route: every Origin is allowed,
// and on a route that changes state, a request with a Sec-Fetch-Site header (any value: a browser
// sent it) also carries an Origin, and no request carries the program's own download User-Agent.
bool HasAllowedSender(const HttpRequest& request, bool changesState);
