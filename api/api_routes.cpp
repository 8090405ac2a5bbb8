#include "api/api_routes.h"

#include "api/json_text.h"
#include "api/status_page.h"
#include "base/text_convert.h"
#include "base/text_util.h"
#include "state/config.h"
#include "state/window_requests.h"
#include "tasks/task_creation.h"
#include "tasks/task_runner.h"

#include <vector>

namespace {

constexpr const char* kHtmlType = "text/html";
constexpr const char* kDefaultCategory = "default";
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
// Bytes a task takes in the tasks text besides its name and error, for one up-front allocation.
constexpr size_t kTaskJsonOverhead = 80;

std::string ParamOrEmpty(const HttpRequest& request, const char* key) {
    const auto found = request.params.find(key);
    return found == request.params.end() ? std::string() : found->second;
}

const char* JsonBool(bool value) {
    return value ? "true" : "false";
}

std::string BuildStatusText(const AppConfig& config, size_t taskCount) {
    std::string text = "{\"success\":true,\"port\":";
    text += std::to_string(config.port);
    text += ",\"downloadDir\":\"";
    text += JsonEscape(WideToUtf8(config.downloadDir));
    text += "\",\"devDir\":\"";
    text += JsonEscape(WideToUtf8(config.devDir));
    text += "\",\"autoExtract\":";
    text += JsonBool(config.autoExtract);
    text += ",\"autoCopyToDev\":";
    text += JsonBool(config.autoCopyToDev);
    text += ",\"maxConcurrentDownloads\":";
    text += std::to_string(config.maxConcurrentDownloads);
    text += ",\"taskCount\":";
    text += std::to_string(taskCount);
    text += "}";
    return text;
}

enum class DirectoryValue { Absent, Usable, Unusable };

// Only "X:\..." through the API: the program touches a directory as soon as it is set, and a share
// ("\\server\share", also as "\\?\UNC\...") would make the system hand the user's network
// credentials to whatever server a request names. "\\?\" and "\\.\" forms are refused with them.
// The window's own boxes still take a share the user picks.
bool IsLocalDirectory(const std::wstring& directory) {
    return IsUsableDirectory(directory) && directory[1] == L':';
}

// A directory value from the posted JSON. Many clients write Windows paths with single
// backslashes ("D:\tools\new"), which JSON reads as escapes (a tab and a newline here) or cannot
// read at all ("\M"): when decoding fails or would give a control character, the value is taken
// exactly as sent. A value ending in a backslash ends the JSON string there (a backslash does not
// protect the quote), so "D:\tools\" and the strict "D:\\tools\\" both mean D:\tools; trailing
// separators are dropped (a drive root keeps its one).
DirectoryValue DirectoryFromJson(const std::string& rawValue, std::wstring* directory) {
    if (rawValue.empty()) {
        return DirectoryValue::Absent;
    }
    std::string text;
    if (!JsonUnescape(rawValue, &text) || HasControlCharacter(text)) {
        text = rawValue;
    }
    *directory = TrimDirectorySeparators(Utf8ToWide(text));
    return IsLocalDirectory(*directory) ? DirectoryValue::Usable : DirectoryValue::Unusable;
}

// Digits only, and few enough that the number cannot overflow.
bool IsWholeNumber(const std::string& text) {
    constexpr size_t kMaxDigits = 9;
    if (text.empty() || text.size() > kMaxDigits) {
        return false;
    }
    for (const char ch : text) {
        if (ch < '0' || ch > '9') {
            return false;
        }
    }
    return true;
}

// The posted limit of parallel downloads: 0 when absent (unchanged); false for anything but a whole
// number within the limits.
bool ReadDownloadLimit(const std::string& json, int* limit) {
    std::string text = GetJsonValue(json, "maxConcurrentDownloads");
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.pop_back();
    }
    *limit = 0;
    if (text.empty()) {
        return true;
    }
    if (!IsWholeNumber(text) || !IsUsableDownloadLimit(ParseLeadingInteger(text))) {
        return false;
    }
    *limit = static_cast<int>(ParseLeadingInteger(text));
    return true;
}

HttpReply InvalidSetting(const char* key) {
    return JsonReply(400, std::string("{\"success\":false,\"message\":\"Invalid ") + key + "\"}");
}

}  // namespace

std::string BuildStatusJson() {
    return BuildStatusText(GetConfig(), TaskCount());
}

// The table's lock is held only while the snapshot is copied; the text is built from the copy.
std::string BuildTasksJson() {
    const std::vector<TaskRow> tasks = SnapshotTaskRows();
    size_t textBytes = 0;
    for (const TaskRow& task : tasks) {
        textBytes += task.name.size() + task.error.size();
    }
    std::string text;
    text.reserve(16 + textBytes + tasks.size() * kTaskJsonOverhead);
    text += "{\"tasks\":[";
    for (size_t index = 0; index < tasks.size(); ++index) {
        const TaskRow& task = tasks[index];
        if (index > 0) {
            text += ',';
        }
        text += "{\"id\":";
        text += std::to_string(index);
        text += ",\"name\":\"";
        AppendJsonEscaped(text, task.name);
        text += "\",\"status\":\"";
        text += TaskStatusApiWord(task.status);
        text += "\",\"progress\":";
        text += std::to_string(task.progress);
        text += ",\"error\":\"";
        AppendJsonEscaped(text, task.error);
        text += "\"}";
    }
    text += "]}";
    return text;
}

// The duplicate check and the append are one step of the table, so two equal requests cannot both
// start a task. The task list learns of the task and the runner starts or queues it only after the
// reply.
HttpReply HandleApiDownload(const HttpRequest& request) {
    const std::string url = ParamOrEmpty(request, "url");
    const std::string name = ParamOrEmpty(request, "name");
    std::string category = ParamOrEmpty(request, "cat");
    if (url.empty() || name.empty()) {
        return JsonReply(400, "{\"success\":false,\"message\":\"Missing url or name parameter\"}");
    }
    if (category.empty()) {
        category = kDefaultCategory;
    }
    const DownloadTask task = MakeDownloadTask(url, name, category);
    TaskRef ref;
    if (!AddTaskUnlessDuplicate(task, &ref)) {
        return JsonReply(200, "{\"success\":true,\"message\":\"Task already exists\",\"name\":\"" +
                                  JsonEscape(task.name) + "\"}");
    }
    RequestShowDownloadWindow();
    HttpReply reply = JsonReply(
        200, "{\"success\":true,\"message\":\"Download started\",\"task_id\":" + std::to_string(ref.index) +
                 ",\"name\":\"" + JsonEscape(task.name) + "\"}");
    reply.afterSend = [ref]() {
        NotifyTaskListChanged();
        StartTask(ref);
    };
    return reply;
}

HttpReply HandleApiStatus(const HttpRequest&) {
    return JsonReply(200, BuildStatusJson());
}

HttpReply HandleApiConfig(const HttpRequest& request) {
    const std::string& json = request.body.empty() ? request.query : request.body;
    std::wstring downloadDir;
    const DirectoryValue downloadValue = DirectoryFromJson(GetJsonValue(json, "downloadDir"), &downloadDir);
    std::wstring devDir;
    const DirectoryValue devValue = DirectoryFromJson(GetJsonValue(json, "devDir"), &devDir);
    // Nothing of a request is applied when one of its directories cannot be.
    if (downloadValue == DirectoryValue::Unusable) {
        return InvalidSetting("downloadDir");
    }
    if (devValue == DirectoryValue::Unusable) {
        return InvalidSetting("devDir");
    }
    const bool hasDownloadDir = downloadValue == DirectoryValue::Usable;
    const bool hasDevDir = devValue == DirectoryValue::Usable;
    const bool autoExtract = GetJsonBool(json, "autoExtract");
    const bool autoCopyToDev = GetJsonBool(json, "autoCopyToDev");
    int limit = 0;
    if (!ReadDownloadLimit(json, &limit)) {
        return InvalidSetting("maxConcurrentDownloads");
    }
    int port = 0;
    const std::string portText = GetJsonValue(json, "port");
    if (!portText.empty()) {
        const long long value = ParseLeadingInteger(portText);
        if (value >= kMinPort && value <= kMaxPort) {
            port = static_cast<int>(value);
        }
    }

    bool portChanged = false;
    UpdateConfig([&](AppConfig& config) {
        if (hasDownloadDir) {
            config.downloadDir = downloadDir;
        }
        if (hasDevDir) {
            config.devDir = devDir;
        }
        config.autoExtract = autoExtract;
        config.autoCopyToDev = autoCopyToDev;
        if (limit != 0) {
            config.maxConcurrentDownloads = limit;
        }
        if (port != 0 && port != config.port) {
            config.port = port;
            portChanged = true;
        }
    });
    const AppConfig updated = GetConfig();
    CreateDirectoryRecursive(updated.downloadDir);
    CreateDirectoryRecursive(updated.devDir);
    if (limit != 0) {
        OnDownloadLimitChanged();
    }
    if (portChanged) {
        // The listening socket stays on the old port until the next start; the tip shows the new one.
        RequestTrayTipRefresh();
    }
    return JsonReply(200, "{\"success\":true,\"message\":\"Configuration updated\"}");
}

HttpReply HandleApiTasks(const HttpRequest&) {
    return JsonReply(200, BuildTasksJson());
}

HttpReply HandleStatusPage(const HttpRequest&) {
    HttpReply reply;
    reply.contentType = kHtmlType;
    reply.body = BuildStatusPage();
    return reply;
}
