#include "tasks/task_creation.h"

#include "base/text_convert.h"
#include "state/config.h"
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
