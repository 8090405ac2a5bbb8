#include "tasks/task_creation.h"

#include "api/text_convert.h"
#include "app/config.h"
#include "tasks/task_name.h"

DownloadTask MakeDownloadTask(const std::string& url, const std::string& name, const std::string& category) {
    DownloadTask task;
    task.url = url;
    task.name = CleanTaskName(name);
    task.category = category;
    task.filePath =
        GetConfig().downloadDir + L"\\" + Utf8ToWide(task.name) + L"_" + MakeTimestamp() + L".zip";
    task.status = TaskStatus::Pending;
    task.progress = 0;
    task.hasFinishTime = false;
    return task;
}

bool HasActiveDuplicateLocked(const std::string& cleanedName, const std::string& url) {
    for (const DownloadTask& task : g_taskTable) {
        const auto status = static_cast<std::uint32_t>(task.status);
        if (status <= static_cast<std::uint32_t>(TaskStatus::Downloading) && task.name == cleanedName &&
            task.url == url) {
            return true;
        }
    }
    return false;
}
