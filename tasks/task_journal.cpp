#include "tasks/task_journal.h"

#include "base/text_convert.h"
#include "base/win32.h"
#include "tasks/task_name.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using Json = nlohmann::json;

// The format has four levels (journal, task list, task, value); anything deeper is refused before
// the parser sees it.
constexpr int kMaxJournalDepth = 4;
constexpr size_t kTimeTextChars = 19;  // "YYYY-MM-DDTHH:MM:SS"

constexpr const char* kStatusWords[] = {"queued",  "pending",   "downloading", "extracting",
                                        "copying", "completed", "failed",      "already_exists"};
constexpr const char* kKindWords[] = {"asset", "runtime_installer"};
constexpr const char* kStageWords[] = {"none", "downloaded", "extracted", "filed"};

template <size_t N>
bool WordIndex(const Json& value, const char* const (&words)[N], int* index) {
    if (!value.is_string()) {
        return false;
    }
    const std::string& text = value.get_ref<const std::string&>();
    for (size_t i = 0; i < N; ++i) {
        if (text == words[i]) {
            *index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// A validator goes back to the server in a header line, so only printable ASCII may come back.
bool IsHeaderSafe(const std::string& text) {
    for (const char ch : text) {
        if (ch < 0x20 || ch > 0x7E) {
            return false;
        }
    }
    return true;
}

std::string FormatTime(const SYSTEMTIME& time) {
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond);
    return text;
}

// Only a real date of the calendar passes (the round trip through a file time refuses 30 February).
bool ParseTime(const std::string& text, SYSTEMTIME* time) {
    if (text.size() != kTimeTextChars) {
        return false;
    }
    unsigned fields[6] = {};
    const size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const size_t widths[6] = {4, 2, 2, 2, 2, 2};
    for (int field = 0; field < 6; ++field) {
        for (size_t i = starts[field]; i < starts[field] + widths[field]; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            fields[field] = fields[field] * 10 + static_cast<unsigned>(text[i] - '0');
        }
    }
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return false;
    }
    SYSTEMTIME parsed = {};
    parsed.wYear = static_cast<WORD>(fields[0]);
    parsed.wMonth = static_cast<WORD>(fields[1]);
    parsed.wDay = static_cast<WORD>(fields[2]);
    parsed.wHour = static_cast<WORD>(fields[3]);
    parsed.wMinute = static_cast<WORD>(fields[4]);
    parsed.wSecond = static_cast<WORD>(fields[5]);
    FILETIME fileTime = {};
    if (!SystemTimeToFileTime(&parsed, &fileTime) || !FileTimeToSystemTime(&fileTime, time)) {
        return false;
    }
    return true;
}

// Absolute paths as the program builds them ("X:\..." or "\\server\share\..."; no device paths): no
// control or reserved character, a colon only after the drive letter, and no "." or ".." part that
// could lead out of the folder they start with.
bool IsPathShapeValid(const std::wstring& path) {
    const bool drive = path.size() >= 3 &&
                       ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' &&
                       path[2] != L'?' && path[2] != L'.';
    if (path.size() > kMaxJournalPathChars || !(drive || share)) {
        return false;
    }
    size_t partStart = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        const wchar_t ch = i < path.size() ? path[i] : L'\\';
        if (ch < 0x20 || ch == 0x7F || ch == L'<' || ch == L'>' || ch == L'"' || ch == L'|' || ch == L'?' ||
            ch == L'*' || (ch == L':' && i != 1)) {
            return false;
        }
        if (ch == L'\\' || ch == L'/') {
            const std::wstring part = path.substr(partStart, i - partStart);
            if (part == L"." || part == L"..") {
                return false;
            }
            partStart = i + 1;
        }
    }
    return true;
}

// True when `path` lies strictly inside the directory `root` (compared as Windows does, without
// regard to case).
bool IsInside(const std::wstring& path, const std::wstring& root) {
    if (root.empty()) {
        return false;
    }
    std::wstring prefix = root;
    if (prefix.back() != L'\\' && prefix.back() != L'/') {
        prefix += L'\\';
    }
    return path.size() > prefix.size() &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

Json TaskToJson(const DownloadTask& task) {
    Json entry;
    entry["name"] = task.name;
    entry["url"] = CutUtf8(task.url, kMaxJournalUrlBytes);
    entry["category"] = CutUtf8(task.category, kMaxJournalTextBytes);
    entry["kind"] = kKindWords[task.kind == TaskKind::RuntimeInstaller ? 1 : 0];
    // The installer's file is the temporary folder's; its record comes back without it.
    entry["file"] = task.kind == TaskKind::Asset ? WideToUtf8(task.filePath) : std::string();
    const auto status = static_cast<size_t>(task.status);
    entry["status"] = status < 8 ? kStatusWords[status] : "pending";
    entry["progress"] = task.progress >= 0 && task.progress <= 100 ? task.progress : 0;
    entry["error"] = CutUtf8(task.error, kMaxJournalTextBytes);
    entry["finished"] = task.hasFinishTime ? Json(FormatTime(task.finishTime)) : Json(nullptr);
    const auto stage = static_cast<size_t>(task.stage);
    entry["stage"] = stage < 4 ? kStageWords[stage] : "none";
    entry["extractDir"] = WideToUtf8(task.extractDir);
    entry["copyDestDir"] = WideToUtf8(task.copyDestDir);
    entry["copyFirstItem"] = WideToUtf8(task.copyFirstItem);
    entry["leftoverDir"] = WideToUtf8(task.leftoverDir);
    const bool validatorFits =
        task.resumeValidator.size() <= kMaxJournalValidatorBytes && IsHeaderSafe(task.resumeValidator);
    entry["validator"] = validatorFits ? task.resumeValidator : std::string();
    entry["total"] = validatorFits ? task.resumeTotal : 0;
    return entry;
}

// A path the task's folder rule allows; `required` paths may not be empty.
bool ReadPath(const Json& entry, const char* key, bool required, std::wstring* path) {
    const auto found = entry.find(key);
    if (found == entry.end() || !found->is_string()) {
        return false;
    }
    *path = Utf8ToWide(found->get_ref<const std::string&>());
    return path->empty() ? !required : IsPathShapeValid(*path);
}

bool ReadText(const Json& entry, const char* key, size_t limit, std::string* text) {
    const auto found = entry.find(key);
    if (found == entry.end() || !found->is_string() || found->get_ref<const std::string&>().size() > limit) {
        return false;
    }
    *text = found->get_ref<const std::string&>();
    return true;
}

bool ReadWord(const Json& entry, const char* key, const char* const (&words)[8], int* index) {
    const auto found = entry.find(key);
    return found != entry.end() && WordIndex(*found, words, index);
}

bool ReadFinishTime(const Json& entry, DownloadTask* task) {
    const auto found = entry.find("finished");
    if (found == entry.end()) {
        return false;
    }
    if (found->is_null()) {
        task->hasFinishTime = false;
        return true;
    }
    task->hasFinishTime = true;
    return found->is_string() && ParseTime(found->get_ref<const std::string&>(), &task->finishTime);
}

bool ReadProgress(const Json& entry, DownloadTask* task) {
    const auto found = entry.find("progress");
    if (found == entry.end() || !found->is_number_integer()) {
        return false;
    }
    const auto progress = found->get<std::int64_t>();
    task->progress = static_cast<std::int32_t>(progress);
    return progress >= 0 && progress <= 100;
}

// The resumed body's whole length; JSON integers beyond 2^53 do not survive every reader.
bool ReadTotal(const Json& entry, DownloadTask* task) {
    const auto found = entry.find("total");
    if (found == entry.end() || !found->is_number_unsigned()) {
        return false;
    }
    task->resumeTotal = found->get<std::uint64_t>();
    return task->resumeTotal <= kMaxJournalTotal;
}

bool JsonToTask(const Json& entry, DownloadTask* task) {
    if (!entry.is_object()) {
        return false;
    }
    int status = 0;
    int kind = 0;
    int stage = 0;
    if (!ReadText(entry, "name", kMaxTaskNameChars * 3, &task->name) || task->name.empty() ||
        CleanTaskName(task->name) != task->name || !ReadText(entry, "url", kMaxJournalUrlBytes, &task->url) ||
        !ReadText(entry, "category", kMaxJournalTextBytes, &task->category) ||
        !ReadText(entry, "error", kMaxJournalTextBytes, &task->error) ||
        !ReadText(entry, "validator", kMaxJournalValidatorBytes, &task->resumeValidator) ||
        !IsHeaderSafe(task->resumeValidator) || !ReadWord(entry, "status", kStatusWords, &status) ||
        !WordIndex(entry.value("kind", Json()), kKindWords, &kind) ||
        !WordIndex(entry.value("stage", Json()), kStageWords, &stage) || !ReadProgress(entry, task) ||
        !ReadFinishTime(entry, task) || !ReadTotal(entry, task)) {
        return false;
    }
    task->status = static_cast<TaskStatus>(status);
    task->kind = static_cast<TaskKind>(kind);
    task->stage = static_cast<TaskStage>(stage);
    const bool asset = task->kind == TaskKind::Asset;
    return ReadPath(entry, "file", asset, &task->filePath) &&
           ReadPath(entry, "extractDir", false, &task->extractDir) &&
           ReadPath(entry, "copyDestDir", false, &task->copyDestDir) &&
           ReadPath(entry, "copyFirstItem", false, &task->copyFirstItem) &&
           ReadPath(entry, "leftoverDir", false, &task->leftoverDir) && (asset || task->filePath.empty());
}

bool IsWithinDirs(const DownloadTask& task, const JournalDirs& dirs) {
    const auto inside = [](const std::wstring& path, const std::wstring& root) {
        return path.empty() || IsInside(path, root);
    };
    return inside(task.filePath, dirs.downloadDir) && inside(task.extractDir, dirs.downloadDir) &&
           inside(task.leftoverDir, dirs.downloadDir) && inside(task.copyDestDir, dirs.devDir) &&
           inside(task.copyFirstItem, dirs.devDir);
}

// The nesting depth of the text's arrays and objects, strings skipped; stops counting past the
// limit, so a line of ten million brackets costs one pass and no recursion.
bool IsNestingShallow(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (inString) {
            if (ch == '\\') {
                ++i;
            } else if (ch == '"') {
                inString = false;
            }
        } else if (ch == '"') {
            inString = true;
        } else if (ch == '[' || ch == '{') {
            if (++depth > kMaxJournalDepth) {
                return false;
            }
        } else if (ch == ']' || ch == '}') {
            --depth;
        }
    }
    return true;
}

}  // namespace

std::string FormatTaskJournal(const std::vector<DownloadTask>& tasks) {
    size_t finished = 0;
    for (const DownloadTask& task : tasks) {
        finished += IsFinalStatus(task.status) ? 1 : 0;
    }
    size_t finishedToSkip = finished > kMaxJournalFinishedTasks ? finished - kMaxJournalFinishedTasks : 0;
    Json list = Json::array();
    for (const DownloadTask& task : tasks) {
        if (IsFinalStatus(task.status) && finishedToSkip > 0) {
            --finishedToSkip;
            continue;
        }
        // Paths the program builds stay far below the limit; one that does not is not written
        // rather than making the whole journal unreadable.
        if (task.filePath.size() > kMaxJournalPathChars || list.size() >= kMaxJournalTasks) {
            continue;
        }
        list.push_back(TaskToJson(task));
    }
    Json journal;
    journal["version"] = kTaskJournalVersion;
    journal["tasks"] = std::move(list);
    return journal.dump(1, '\t', false, Json::error_handler_t::replace) + "\n";
}

bool ParseTaskJournal(const std::string& text, const JournalDirs& dirs, std::vector<DownloadTask>* tasks,
                      size_t* dropped) {
    tasks->clear();
    *dropped = 0;
    if (text.size() > kMaxJournalBytes || !IsNestingShallow(text)) {
        return false;
    }
    const Json journal = Json::parse(text, nullptr, false);
    if (journal.is_discarded() || !journal.is_object()) {
        return false;
    }
    const auto version = journal.find("version");
    const auto list = journal.find("tasks");
    if (version == journal.end() || !version->is_number_integer() ||
        version->get<std::int64_t>() != kTaskJournalVersion || list == journal.end() || !list->is_array() ||
        list->size() > kMaxJournalTasks) {
        return false;
    }
    std::vector<DownloadTask> read;
    read.reserve(list->size());
    for (const Json& entry : *list) {
        DownloadTask task;
        if (!JsonToTask(entry, &task)) {
            tasks->clear();
            return false;
        }
        if (!IsWithinDirs(task, dirs)) {
            ++*dropped;
            continue;
        }
        read.push_back(std::move(task));
    }
    *tasks = std::move(read);
    return true;
}
