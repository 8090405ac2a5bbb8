// The four JSON routes of the local API. Each sends exactly one reply and leaves the socket open;
// the server closes it.
#pragma once

#include "api/http_request.h"
#include "app/win32.h"

// "/api/download": creates a task from the "url", "name" and "cat" parameters.
void HandleApiDownload(SOCKET socket, const HttpRequest& request);
// "/api/status": the settings and the number of tasks.
void HandleApiStatus(SOCKET socket);
// "/api/config": POST changes the settings from a JSON text; any other method is the status reply.
void HandleApiConfig(SOCKET socket, const HttpRequest& request);
// "/api/tasks": every task in index order.
void HandleApiTasks(SOCKET socket);

// The JSON texts of the status and tasks routes, exposed for the benchmark and the tests.
std::string BuildStatusJson();
std::string BuildTasksJson();
