#include "api/retry_route.h"

#include "api/json_text.h"
#include "tasks/task_table.h"

#include <string>

namespace {

// More digits than any table index can have; a longer number is no task of this table.
constexpr size_t kMaxTaskIdDigits = 9;

// The task id must be a plain decimal number: "1x", "-1", "1.5" or "" name no task.
bool ParseTaskId(std::string text, size_t* index) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.pop_back();
    }
    if (text.empty() || text.size() > kMaxTaskIdDigits) {
        return false;
    }
    size_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') {
            return false;
        }
        value = value * 10 + static_cast<size_t>(ch - '0');
    }
    *index = value;
    return true;
}

}  // namespace

// The reset happens before the reply, so a second request is refused at once; the worker starts
// after the reply, as a new download's does.
HttpReply HandleApiRetry(const HttpRequest& request) {
    const std::string& json = request.body.empty() ? request.query : request.body;
    size_t index = 0;
    if (!ParseTaskId(GetJsonValue(json, "task_id"), &index)) {
        return JsonReply(400, "{\"success\":false,\"message\":\"Missing or invalid task_id\"}");
    }
    TaskRef ref;
    switch (PrepareTaskRetry(index, &ref)) {
        case RetryOutcome::NoSuchTask:
            return JsonReply(404, "{\"success\":false,\"message\":\"Task not found\"}");
        case RetryOutcome::NotFailed:
            return JsonReply(409, "{\"success\":false,\"message\":\"Only a failed task can be retried\"}");
        case RetryOutcome::NotRetryable:
            return JsonReply(409, "{\"success\":false,\"message\":\"This task cannot be retried\"}");
        case RetryOutcome::Started:
            break;
    }
    HttpReply reply = JsonReply(
        200, "{\"success\":true,\"message\":\"Retry started\",\"task_id\":" + std::to_string(index) + "}");
    reply.afterSend = [ref]() { StartTaskWorker(ref); };
    return reply;
}
