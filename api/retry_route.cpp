#include "api/retry_route.h"

#include "api/json_text.h"
#include "tasks/task_runner.h"

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

bool ParseRequestTaskId(const HttpRequest& request, size_t* index) {
    const std::string& json = request.body.empty() ? request.query : request.body;
    return ParseTaskId(GetJsonValue(json, "task_id"), index);
}

HttpReply InvalidTaskId() {
    return JsonReply(400, "{\"success\":false,\"message\":\"Missing or invalid task_id\"}");
}

HttpReply NoSuchTask() {
    return JsonReply(404, "{\"success\":false,\"message\":\"Task not found\"}");
}

}  // namespace

// The reset happens before the reply, so a second request is refused at once; the runner starts
// or queues the task after the reply, as a new download's.
HttpReply HandleApiRetry(const HttpRequest& request) {
    size_t index = 0;
    if (!ParseRequestTaskId(request, &index)) {
        return InvalidTaskId();
    }
    TaskRef ref;
    switch (PrepareRetry(index, &ref)) {
        case RetryOutcome::NoSuchTask:
            return NoSuchTask();
        case RetryOutcome::NotFailed:
            return JsonReply(409, "{\"success\":false,\"message\":\"Only a failed task can be retried\"}");
        case RetryOutcome::NotRetryable:
            return JsonReply(409, "{\"success\":false,\"message\":\"This task cannot be retried\"}");
        case RetryOutcome::Started:
            break;
    }
    HttpReply reply = JsonReply(
        200, "{\"success\":true,\"message\":\"Retry started\",\"task_id\":" + std::to_string(index) + "}");
    reply.afterSend = [ref]() { StartTask(ref); };
    return reply;
}

// The download stops after the reply at the latest within a second; the task shows it as failed
// with "已取消".
HttpReply HandleApiCancel(const HttpRequest& request) {
    size_t index = 0;
    if (!ParseRequestTaskId(request, &index)) {
        return InvalidTaskId();
    }
    switch (CancelTask(index)) {
        case CancelOutcome::NoSuchTask:
            return NoSuchTask();
        case CancelOutcome::NotCancellable:
            return JsonReply(
                409,
                "{\"success\":false,\"message\":\"Only a waiting or downloading task can be cancelled\"}");
        case CancelOutcome::Cancelled:
            break;
    }
    return JsonReply(
        200, "{\"success\":true,\"message\":\"Task cancelled\",\"task_id\":" + std::to_string(index) + "}");
}
