// The routes of the local API. Each returns its reply; the server sends it.
#pragma once

#include "api/http_request.h"
#include "api/http_response.h"

#include <string>

// "/api/download": creates a task from the "url", "name" and "cat" parameters.
HttpReply HandleApiDownload(const HttpRequest& request);
// "/api/status", and "/api/config" by any method but POST: the settings and the number of tasks.
HttpReply HandleApiStatus(const HttpRequest& request);
// POST "/api/config": changes the settings from a JSON text.
HttpReply HandleApiConfig(const HttpRequest& request);
// "/api/tasks": every task in index order.
HttpReply HandleApiTasks(const HttpRequest& request);
// "/" and "/index.html": the HTML status page.
HttpReply HandleStatusPage(const HttpRequest& request);

// The JSON texts of the status and tasks routes, exposed for the benchmark and the tests.
std::string BuildStatusJson();
std::string BuildTasksJson();
