#include "api/status_page.h"

#include "base/text_convert.h"
#include "state/config.h"
#include "tasks/task_table.h"

#include <vector>

namespace {

constexpr const char* kPageHead =
    "<!DOCTYPE html><html><head><meta charset='utf-8'><title>Download Assistant</title><style>"
    "body{font-family:Segoe UI,Arial,sans-serif;margin:40px;background:#f5f5f5}"
    ".card{background:#fff;padding:30px;border-radius:8px;box-shadow:0 2px 10px rgba(0,0,0,0.1);"
    "max-width:500px;margin:auto}"
    "h1{color:#333;margin-top:0}"
    ".info{color:#666;line-height:1.8}"
    ".info span{font-weight:bold;color:#333}"
    "table{width:100%;border-collapse:collapse;margin-top:20px}"
    "th,td{padding:8px 12px;text-align:left;border-bottom:1px solid #eee}"
    "th{background:#f9f9f9;color:#666;font-weight:normal}"
    ".running{color:#27ae60;font-weight:bold}"
    "</style></head><body><div class='card'><h1>Download Assistant</h1>"
    "<p class='info'><span>Status:</span> <span class='running'>Running</span></p>"
    "<p class='info'><span>Port:</span> ";

// Bytes a task row takes besides its name, so the page can be reserved in one allocation.
constexpr size_t kRowOverhead = 64;

const char* YesNo(bool value) {
    return value ? "Yes" : "No";
}

}  // namespace

void AppendHtmlEscaped(std::string& out, const std::string& text) {
    // Runs of bytes that need no escape are appended whole.
    size_t plainStart = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const char* entity = nullptr;
        switch (text[pos]) {
            case '&':
                entity = "&amp;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            default:
                continue;
        }
        out.append(text, plainStart, pos - plainStart);
        out += entity;
        plainStart = pos + 1;
    }
    out.append(text, plainStart, std::string::npos);
}

std::string HtmlEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    AppendHtmlEscaped(escaped, text);
    return escaped;
}

// The rows and the settings each come from their own consistent snapshot.
std::string BuildStatusPage() {
    const AppConfig config = GetConfig();
    std::string page = kPageHead;
    page += std::to_string(config.port);
    page += "</p><p class='info'><span>Download Dir:</span> ";
    page += HtmlEscape(WideToUtf8(config.downloadDir));
    page += "</p><p class='info'><span>Dev Dir:</span> ";
    page += HtmlEscape(WideToUtf8(config.devDir));
    page += "</p><p class='info'><span>Auto Extract:</span> ";
    page += YesNo(config.autoExtract);
    page += "</p><p class='info'><span>Auto Copy to Dev:</span> ";
    page += YesNo(config.autoCopyToDev);
    page += "</p>";
    const std::vector<TaskRow> tasks = SnapshotTaskRows();
    if (!tasks.empty()) {
        size_t nameBytes = 0;
        for (const TaskRow& task : tasks) {
            nameBytes += task.name.size();
        }
        page.reserve(page.size() + nameBytes + tasks.size() * kRowOverhead);
        page += "<h3>Recent Tasks</h3><table><tr><th>Name</th><th>Status</th><th>Progress</th></tr>";
        for (const TaskRow& task : tasks) {
            page += "<tr><td>";
            AppendHtmlEscaped(page, task.name);
            page += "</td><td>";
            page += TaskStatusPageWord(task.status);
            page += "</td><td>";
            page += std::to_string(task.progress);
            page += "%</td></tr>";
        }
        page += "</table>";
    }
    page += "</div></body></html>";
    return page;
}
