#include "api/api_routes.h"

#include "api/http_response.h"
#include "api/json_text.h"
#include "api/text_convert.h"
#include "app/config.h"
#include "app/tray_window.h"
#include "tasks/task_creation.h"
#include "tasks/task_name.h"
#include "tasks/task_table.h"
#include "ui/download_window.h"

#include <mutex>

namespace {

constexpr const char* kJsonType = "application/json";
constexpr const char* kDefaultCategory = "default";
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
// The settings file is read back into a buffer of MAX_PATH characters; a longer directory would
// come back cut short at the next start.
constexpr size_t kMaxDirectoryChars = 259;
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
    text += ",\"taskCount\":";
    text += std::to_string(taskCount);
    text += "}";
    return text;
}

// A directory value from the posted JSON, decoded, as a path; false when it must not be applied.
// Control characters would break the line structure of the settings file (a value could add keys
// of its own), and an over-long value would be read back truncated.
bool DirectoryFromJson(const std::string& rawValue, std::wstring* directory) {
    if (rawValue.empty()) {
        return false;
    }
    const std::wstring path = Utf8ToWide(JsonUnescape(rawValue));
    if (path.empty() || path.size() > kMaxDirectoryChars) {
        return false;
    }
    for (const wchar_t ch : path) {
        if (ch < 0x20 || ch == 0x7F) {
            return false;
        }
    }
    *directory = path;
    return true;
}

}  // namespace

std::string BuildStatusJson() {
    return BuildStatusText(GetConfig(), TaskCount());
}

// Takes g_taskMutex while the text is built; the reply is sent after it is released, so a client
// that does not read cannot stall the workers and the window behind the lock.
std::string BuildTasksJson() {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    std::string text;
    text.reserve(16 + g_taskTable.size() * kTaskJsonOverhead);
    text += "{\"tasks\":[";
    for (size_t index = 0; index < g_taskTable.size(); ++index) {
        const DownloadTask& task = g_taskTable[index];
        if (index > 0) {
            text += ',';
        }
        text += "{\"id\":";
        text += std::to_string(index);
        text += ",\"name\":\"";
        text += JsonEscape(task.name);
        text += "\",\"status\":\"";
        text += TaskStatusApiWord(task.status);
        text += "\",\"progress\":";
        text += std::to_string(task.progress);
        text += ",\"error\":\"";
        text += JsonEscape(task.error);
        text += "\"}";
    }
    text += "]}";
    return text;
}

// Takes g_taskMutex for the duplicate check. The short duplicate reply is sent before the lock is
// released, so that no second request can slip a task in between check and answer; everything else
// happens outside the lock.
void HandleApiDownload(SOCKET socket, const HttpRequest& request) {
    const std::string url = ParamOrEmpty(request, "url");
    const std::string name = ParamOrEmpty(request, "name");
    std::string category = ParamOrEmpty(request, "cat");
    if (url.empty() || name.empty()) {
        SendHttpResponse(socket, 400, kJsonType,
                         "{\"success\":false,\"message\":\"Missing url or name parameter\"}");
        return;
    }
    const std::string cleanedName = CleanTaskName(name);
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        if (HasActiveDuplicateLocked(cleanedName, url)) {
            SendHttpResponse(socket, 200, kJsonType,
                             "{\"success\":true,\"message\":\"Task already exists\",\"name\":\"" +
                                 JsonEscape(cleanedName) + "\"}");
            return;
        }
    }
    if (category.empty()) {
        category = kDefaultCategory;
    }
    const DownloadTask task = MakeDownloadTask(url, name, category);
    const std::string taskName = task.name;
    const TaskRef ref = AppendTask(task);
    ShowDownloadWindow();
    SendHttpResponse(socket, 200, kJsonType,
                     "{\"success\":true,\"message\":\"Download started\",\"task_id\":" +
                         std::to_string(ref.index) + ",\"name\":\"" + JsonEscape(taskName) + "\"}");
    NotifyTaskListChanged();
    // The worker runs the download pipeline; until that pipeline is built it leaves the task pending.
    StartTaskWorker(ref);
}

void HandleApiStatus(SOCKET socket) {
    SendHttpResponse(socket, 200, kJsonType, BuildStatusJson());
}

void HandleApiConfig(SOCKET socket, const HttpRequest& request) {
    if (request.method != "POST") {
        HandleApiStatus(socket);
        return;
    }
    const std::string& json = request.body.empty() ? request.query : request.body;
    std::wstring downloadDir;
    const bool hasDownloadDir = DirectoryFromJson(GetJsonValue(json, "downloadDir"), &downloadDir);
    std::wstring devDir;
    const bool hasDevDir = DirectoryFromJson(GetJsonValue(json, "devDir"), &devDir);
    const bool autoExtract = GetJsonBool(json, "autoExtract");
    const bool autoCopyToDev = GetJsonBool(json, "autoCopyToDev");
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
        if (port != 0 && port != config.port) {
            config.port = port;
            portChanged = true;
        }
    });
    const AppConfig updated = GetConfig();
    CreateDirectoryRecursive(updated.downloadDir);
    CreateDirectoryRecursive(updated.devDir);
    if (portChanged) {
        // The listening socket stays on the old port until the next start; the tip shows the new one.
        RefreshTrayTip();
    }
    SendHttpResponse(socket, 200, kJsonType, "{\"success\":true,\"message\":\"Configuration updated\"}");
}

void HandleApiTasks(SOCKET socket) {
    SendHttpResponse(socket, 200, kJsonType, BuildTasksJson());
}
