// The API's retry route: runs a failed task again in place, as the task list's menu does.
#pragma once

#include "api/http_request.h"
#include "api/http_response.h"

// POST "/api/retry" with {"task_id":N}.
HttpReply HandleApiRetry(const HttpRequest& request);
