#include "api/route_table.h"

#include "api/api_routes.h"
#include "api/retry_route.h"
#include "base/text_util.h"

namespace {

constexpr Route kRoutes[] = {
    {"/api/download", true, nullptr, true, HandleApiDownload},
    {"/api/status", true, nullptr, false, HandleApiStatus},
    {"/api/config", true, "POST", true, HandleApiConfig},
    // Any other method on the settings route reads them.
    {"/api/config", true, nullptr, false, HandleApiStatus},
    {"/api/tasks", true, nullptr, false, HandleApiTasks},
    {"/api/retry", false, "POST", true, HandleApiRetry},
    {"/api/cancel", false, "POST", true, HandleApiCancel},
    {"/", false, nullptr, false, HandleStatusPage},
    {"/index.html", false, nullptr, false, HandleStatusPage},
};

bool Matches(const Route& route, const HttpRequest& request) {
    const bool pathMatches =
        route.prefixMatch ? StartsWith(request.path, route.path) : request.path == route.path;
    return pathMatches && (!route.method || request.method == route.method);
}

}  // namespace

const Route* FindRoute(const HttpRequest& request) {
    for (const Route& route : kRoutes) {
        if (Matches(route, request)) {
            return &route;
        }
    }
    return nullptr;
}
