// The API's routes for one task by its id, as the task list's menu offers them: retry runs a failed
// task again in place, cancel stops a waiting or running download.
#pragma once

#include "api/http_request.h"
#include "api/http_response.h"

// POST "/api/retry" with {"task_id":N}.
HttpReply HandleApiRetry(const HttpRequest& request);

// POST "/api/cancel" with {"task_id":N}.
HttpReply HandleApiCancel(const HttpRequest& request);
