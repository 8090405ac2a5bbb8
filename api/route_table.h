// The one list of the API's routes. Routing and the request guard both read it, so a route's
// handler and whether it changes state cannot drift apart.
#pragma once

#include "api/http_request.h"
#include "api/http_response.h"

struct Route {
    const char* path;
    // True: the request path only has to begin with `path` (so /api/statusXYZ is the status route);
    // false: it must equal it.
    bool prefixMatch;
    // The method the route takes; null takes any.
    const char* method;
    // Creates tasks or changes settings, so a web page of another site may not call it.
    bool changesState;
    HttpReply (*handler)(const HttpRequest& request);
};

// The route that answers `request`: the first in the table that matches; null when none does.
const Route* FindRoute(const HttpRequest& request);
