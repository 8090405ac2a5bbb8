#include "tasks/task_journal.h"

#include "tasks/task_journal_file.h"
#include "tasks/task_journal_saver.h"
#include "tasks/task_restore.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace {

const JournalDirs kDirs{L"D:\\Downloads", L"D:\\dev"};

DownloadTask SampleTask(int number, TaskStatus status) {
    DownloadTask task;
    task.name = "素材_" + std::to_string(number);
    task.url = "http://127.0.0.1:8080/p" + std::to_string(number) + ".zip?x=\"1\"";
    task.category = "default";
    task.filePath = L"D:\\Downloads\\素材_" + std::to_wstring(number) + L"_20261208_213000.zip";
    task.status = status;
    task.progress = IsFinalStatus(status) ? 100 : 42;
    task.error = status == TaskStatus::Completed ? "待处理" : "";
    if (IsFinalStatus(status)) {
        task.finishTime = SYSTEMTIME{2026, 12, 2, 8, 21, 30, 5, 0};
        task.hasFinishTime = true;
    }
    task.extractDir = L"D:\\Downloads\\素材_" + std::to_wstring(number);
    task.copyDestDir = L"D:\\dev\\anim\\effect";
    task.copyFirstItem = L"D:\\dev\\anim\\effect\\sfx_a.png";
    task.leftoverDir = task.extractDir;
    task.resumeValidator = "\"etag-" + std::to_string(number) + "\"";
    task.resumeTotal = 5000000000ull + number;  // past 32 bits
    task.stage = TaskStage::Extracted;
    return task;
}

// A valid journal of one task with `field` replaced by `value` (raw JSON text).
std::string JournalWith(const std::string& field, const std::string& value) {
    std::string text = FormatTaskJournal({SampleTask(1, TaskStatus::Downloading)});
    const std::string key = "\"" + field + "\": ";
    const size_t at = text.find(key);
    const size_t end = text.find_first_of(",\n", at + key.size() + 1);
    return text.substr(0, at + key.size()) + value + text.substr(end);
}

bool Parses(const std::string& text, std::vector<DownloadTask>* tasks = nullptr) {
    std::vector<DownloadTask> read;
    size_t dropped = 0;
    return ParseTaskJournal(text, kDirs, tasks ? tasks : &read, &dropped);
}

// A pending task whose file is in `dir`, which is its download folder.
DownloadTask TaskIn(const TempDir& dir, const char* name) {
    DownloadTask task;
    task.name = name;
    task.filePath = dir / L"a.zip";
    return task;
}

bool IsUnder(const std::wstring& path, const std::wstring& root) {
    return path.empty() || (path.size() > root.size() + 1 &&
                            CompareStringOrdinal(path.c_str(), static_cast<int>(root.size() + 1),
                                                 (root + L"\\").c_str(), -1, TRUE) == CSTR_EQUAL);
}

}  // namespace

// Read back and written again, a journal is the same text: every field goes both ways, in order,
// and only the oldest finished tasks beyond the thousand are left out.
TEST(TaskJournal, ReadsBackWhatItWritesKeepingUnfinishedTasksAndTheNewestThousandFinished) {
    std::vector<DownloadTask> tasks = {SampleTask(0, TaskStatus::Downloading)};
    for (int i = 1; i <= 1005; ++i) {
        tasks.push_back(SampleTask(i, i % 2 ? TaskStatus::Completed : TaskStatus::Failed));
    }
    tasks.push_back(SampleTask(1006, TaskStatus::Pending));
    tasks[1005].kind = TaskKind::RuntimeInstaller;
    const std::string text = FormatTaskJournal(tasks);
    std::vector<DownloadTask> read;
    ASSERT_TRUE(Parses(text, &read));
    ASSERT_EQ(read.size(), 1002u);
    EXPECT_EQ(read[1].name, tasks[6].name);
    EXPECT_EQ(read[1001].resumeValidator, tasks[1006].resumeValidator);
    EXPECT_EQ(read[1001].resumeTotal, tasks[1006].resumeTotal);
    EXPECT_EQ(FormatTaskJournal(read), text);
}

TEST(TaskJournal, DamagedJournalsAreRefusedWhole) {
    const std::string good = FormatTaskJournal({SampleTask(1, TaskStatus::Downloading)});
    ASSERT_TRUE(Parses(good));
    const std::string cases[] = {
        "",
        good.substr(0, good.size() / 2),
        std::string(good.size(), '\0'),
        "garbage",
        "[]",
        "{\"version\": 2, \"tasks\": []}",
        "{\"version\": \"1\", \"tasks\": []}",
        "{\"version\": 1, \"tasks\": {}}",
        "{\"version\": 1, \"tasks\": [[[[[[1]]]]]]}",
        "{\"version\": 1, \"tasks\": [" + std::string(1 << 20, '[') + "]}",
        std::string(10 * 1024 * 1024, 'x'),
        JournalWith("status", "\"resting\""),
        JournalWith("status", "3"),
        JournalWith("kind", "\"virus\""),
        JournalWith("stage", "\"halfway\""),
        JournalWith("progress", "101"),
        JournalWith("progress", "-1"),
        JournalWith("progress", "4.5"),
        JournalWith("progress", "99999999999999999999"),
        JournalWith("finished", "\"2026-02-30T10:00:00\""),
        JournalWith("finished", "\"2026-12-08 21:30:05\""),
        JournalWith("file", "\"Downloads\\\\a.zip\""),
        JournalWith("file", "\"\""),
        JournalWith("file", "\"D:\\\\Downloads\\\\..\\\\..\\\\Windows\\\\a.zip\""),
        JournalWith("file", "\"D:\\\\Downloads\\\\a.zip:stream\""),
        JournalWith("extractDir", "\"D:\\\\Downloads\\\\a\\u0001b\""),
        JournalWith("extractDir", "\"D:\\\\Downloads\\\\" + std::string(1100, 'a') + "\""),
        JournalWith("name", "\"..\\\\x\""),
        JournalWith("name", "\"\""),
        JournalWith("name", "1"),
        JournalWith("url", "\"" + std::string(kMaxJournalUrlBytes + 1, 'u') + "\""),
        JournalWith("error", "\"" + std::string(kMaxJournalTextBytes + 1, 'e') + "\""),
        JournalWith("validator", "\"\\\"x\\\"\\r\\nX-Injected: 1\""),
        JournalWith("validator", "null"),
        JournalWith("total", "-1"),
        JournalWith("total", "9007199254740993"),
        JournalWith("name", "\"\xC3\""),
    };
    int index = 0;
    for (const std::string& text : cases) {
        EXPECT_FALSE(Parses(text)) << "case " << index++;
    }
    // Well-formed but outside the folders (a download folder changed since): that task only is left out.
    DownloadTask outside = SampleTask(2, TaskStatus::Completed);
    outside.copyFirstItem = L"C:\\Windows\\x";
    std::vector<DownloadTask> read;
    ASSERT_TRUE(Parses(FormatTaskJournal({SampleTask(1, TaskStatus::Pending), outside}), &read));
    EXPECT_EQ(read.size(), 1u);
}

// Mutations of a valid journal: no crash, no hang, and nothing accepted that points outside the
// folders or holds a value the program could not have written.
TEST(TaskJournal, TenThousandMutatedJournalsNeverYieldATaskOutsideTheRules) {
    const std::string good =
        FormatTaskJournal({SampleTask(1, TaskStatus::Downloading), SampleTask(2, TaskStatus::Completed),
                           SampleTask(3, TaskStatus::Failed)});
    const std::string alphabet = "{}[]\",:\\/.0123456789-eE truenullfalse\x01\xC3\xA9\xFF";
    std::mt19937 random(22);
    size_t accepted = 0;
    for (int round = 0; round < 10000; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int edit = 0; edit < edits && !text.empty(); ++edit) {
            const size_t at = random() % text.size();
            const char ch = alphabet[random() % alphabet.size()];
            const unsigned kind = random() % 4;
            if (kind < 2) {
                text.insert(at, kind, ch).at(at) = ch;  // replace, or insert one
            } else {
                text.replace(at, kind == 2 ? 1 + random() % 8 : 0,
                             text.substr(random() % text.size(), (kind - 2) * (random() % 64)));
            }
        }
        std::vector<DownloadTask> read;
        accepted += Parses(text, &read) ? 1 : 0;
        for (const DownloadTask& task : read) {
            ASSERT_TRUE(static_cast<unsigned>(task.status) <= 7u && static_cast<unsigned>(task.stage) <= 3u &&
                        static_cast<unsigned>(task.progress) <= 100u &&
                        task.error.size() <= kMaxJournalTextBytes)
                << round;
            ASSERT_TRUE(
                IsUnder(task.filePath, kDirs.downloadDir) && IsUnder(task.extractDir, kDirs.downloadDir) &&
                IsUnder(task.leftoverDir, kDirs.downloadDir) && IsUnder(task.copyDestDir, kDirs.devDir) &&
                IsUnder(task.copyFirstItem, kDirs.devDir) && !task.filePath.empty())
                << round;
            ASSERT_EQ((task.filePath + L"\\").find(L"\\..\\"), std::wstring::npos) << round;
            ASSERT_EQ(task.resumeValidator.find_first_of("\r\n"), std::string::npos) << round;
        }
    }
    // Some mutations (inside a text) leave a valid journal; the checks above must have run.
    EXPECT_GT(accepted, 0u);
}

TEST(TaskJournalFile, ReplacesWholeKeepsThePreviousAndFallsBackToIt) {
    TempDir dir;
    const std::wstring path = dir / L"TarnDown.tasks";
    const JournalDirs dirs{dir.path(), dir / L"dev"};
    const DownloadTask first = TaskIn(dir, "first");
    const DownloadTask second = TaskIn(dir, "second");
    ASSERT_TRUE(WriteTaskJournalFile(path, FormatTaskJournal({first})));
    ASSERT_TRUE(WriteTaskJournalFile(path, FormatTaskJournal({first, second})));
    EXPECT_FALSE(FileExists(path + L".tmp"));
    EXPECT_EQ(ReadFileBytes(path + L".bak"), FormatTaskJournal({first}));
    EXPECT_EQ(LoadTaskJournal(path, dirs).tasks.size(), 2u);

    // A journal cut short by a power cut: the backup is read and the cut file kept aside.
    const std::string cut = ReadFileBytes(path).substr(0, 40);
    ASSERT_TRUE(WriteFileBytes(path, cut));
    JournalLoad load = LoadTaskJournal(path, dirs);
    EXPECT_TRUE(load.fromBackup);
    ASSERT_EQ(load.tasks.size(), 1u);
    EXPECT_EQ(load.setAsidePath.compare(0, path.size() + 12, path + L".unreadable-"), 0);
    EXPECT_EQ(ReadFileBytes(load.setAsidePath), cut);
    EXPECT_FALSE(FileExists(path));

    // Gone between the two moves of a save: the backup again.
    EXPECT_EQ(LoadTaskJournal(path, dirs).tasks.size(), 1u);

    // Neither readable: an empty list, and both files still there for the user.
    ASSERT_TRUE(WriteFileBytes(path, std::string(64, '\0')));
    ASSERT_TRUE(WriteFileBytes(path + L".bak", "{"));
    load = LoadTaskJournal(path, dirs);
    EXPECT_TRUE(load.tasks.empty());
    EXPECT_FALSE(load.fromBackup);
    EXPECT_EQ(ReadFileBytes(load.setAsidePath), std::string(64, '\0'));
    EXPECT_EQ(ReadFileBytes(path + L".bak"), "{");
}

TEST(TaskRestore, DownloadsContinueAndInterruptedLaterStagesEndFailed) {
    const struct {
        TaskStatus status;
        TaskKind kind;
        bool resumes;
        TaskStatus after;
        const char* error;
    } cases[] = {
        {TaskStatus::Downloading, TaskKind::Asset, true, TaskStatus::Pending, ""},
        {TaskStatus::Extracting, TaskKind::Asset, false, TaskStatus::Failed, kInterruptedExtractionText},
        {TaskStatus::Copying, TaskKind::Asset, false, TaskStatus::Failed, kInterruptedFilingText},
        {TaskStatus::Completed, TaskKind::Asset, false, TaskStatus::Completed, "待处理"},
        {TaskStatus::Downloading, TaskKind::RuntimeInstaller, false, TaskStatus::Failed,
         kInterruptedInstallerText},
    };
    for (const auto& c : cases) {
        DownloadTask task = SampleTask(1, c.status);
        task.kind = c.kind;
        EXPECT_EQ(PrepareRestoredTask(&task), c.resumes) << static_cast<int>(c.status);
        EXPECT_EQ(task.status, c.after) << static_cast<int>(c.status);
        EXPECT_EQ(task.error, c.error) << static_cast<int>(c.status);
        EXPECT_EQ(task.hasFinishTime, IsFinalStatus(c.after));
    }
}

// The saver gathers progress, writes final statuses at once, and a kept change is on disk when
// KeepTaskChanges returns.
TEST(TaskJournalSaver, WritesFinalChangesAtOnceAndKeptChangesBeforeReturning) {
    TempDir dir;
    const std::wstring path = dir / L"TarnDown.tasks";
    const JournalDirs dirs{dir.path(), dir / L"dev"};
    ClearTasks();
    const TaskRef ref = AppendTask(TaskIn(dir, "saved"));
    ASSERT_TRUE(StartTaskJournalSaver(path, true));
    UpdateTaskFields(ref, [](DownloadTask& record) { record.stage = TaskStage::Downloaded; });
    KeepTaskChanges();
    JournalLoad load = LoadTaskJournal(path, dirs);
    ASSERT_EQ(load.tasks.size(), 1u);
    EXPECT_EQ(load.tasks[0].stage, TaskStage::Downloaded);

    const unsigned long long before = TaskJournalSaveCount();
    for (int percent = 1; percent <= 50; ++percent) {
        UpdateTaskStatus(ref, TaskStatus::Downloading, percent, std::string());
    }
    UpdateTaskStatus(ref, TaskStatus::Failed, 0, "x");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (LoadTaskJournal(path, dirs).tasks[0].status != TaskStatus::Failed &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(LoadTaskJournal(path, dirs).tasks[0].status, TaskStatus::Failed);
    // Fifty progress reports and a final status within a second: gathered, not fifty-one writes.
    EXPECT_LE(TaskJournalSaveCount() - before, 3u);

    ClearTasks();
    StopTaskJournalSaver();
    EXPECT_TRUE(LoadTaskJournal(path, dirs).tasks.empty());
    EXPECT_FALSE(LoadTaskJournal(path, dirs).fromBackup);
}
