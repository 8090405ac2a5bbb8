#include "tasks/task_table.h"

#include "base/text_convert.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_creation.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Stands in for the download window: a message-only window whose queue the test reads.
class NotificationSink {
  public:
    NotificationSink() {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        g_hDownloadWnd.store(window_);
    }
    ~NotificationSink() {
        g_hDownloadWnd.store(nullptr);
        DestroyWindow(window_);
    }
    // wParams of every WM_TASK_UPDATE queued so far, in order.
    std::vector<WPARAM> Drain() {
        std::vector<WPARAM> seen;
        MSG message;
        while (PeekMessageW(&message, window_, WM_TASK_UPDATE, WM_TASK_UPDATE, PM_REMOVE)) {
            EXPECT_EQ(message.lParam, 0);
            seen.push_back(message.wParam);
        }
        return seen;
    }

  private:
    HWND window_ = nullptr;
};

DownloadTask Task(const std::string& name, const std::string& url, TaskStatus status = TaskStatus::Pending) {
    DownloadTask task;
    task.name = name;
    task.url = url;
    task.status = status;
    return task;
}

DownloadTask Snapshot(size_t index) {
    return SnapshotTasks().at(index);
}

// Asks the table's guarded append. The probe it appends when there is no duplicate is completed,
// so it never counts as a duplicate of a later probe.
bool IsDuplicate(const std::string& name, const std::string& url) {
    TaskRef ref;
    return !AppendTaskUnlessDuplicate(Task(name, url, TaskStatus::Completed), &ref);
}

class TaskTable : public ::testing::Test {
  protected:
    void TearDown() override { ClearTasks(); }
};

}  // namespace

TEST_F(TaskTable, OnlyQueuedPendingOrDownloadingTasksWithTheSameNameAndUrlAreDuplicates) {
    const TaskRef ref = AppendTask(Task("pack", "http://h/p.zip", TaskStatus::Queued));
    const struct {
        TaskStatus status;
        bool blocks;
    } cases[] = {{TaskStatus::Queued, true},          {TaskStatus::Pending, true},
                 {TaskStatus::Downloading, true},     {TaskStatus::Extracting, false},
                 {TaskStatus::Copying, false},        {TaskStatus::Completed, false},
                 {TaskStatus::Failed, false},         {TaskStatus::AlreadyExists, false},
                 {static_cast<TaskStatus>(-1), false}};
    for (const auto& c : cases) {
        UpdateTaskStatus(ref, c.status, 0, "");
        EXPECT_EQ(IsDuplicate("pack", "http://h/p.zip"), c.blocks) << static_cast<int>(c.status);
    }
    UpdateTaskStatus(ref, TaskStatus::Downloading, 10, "");
    EXPECT_FALSE(IsDuplicate("Pack", "http://h/p.zip")) << "names compare case-sensitively";
    EXPECT_FALSE(IsDuplicate("pack", "http://h/P.zip")) << "urls compare case-sensitively";
    EXPECT_FALSE(IsDuplicate("pack", "http://h/p.zip ")) << "urls compare exactly";
    EXPECT_FALSE(IsDuplicate("pac", "http://h/p.zip"));
}

TEST_F(TaskTable, NewTaskPathIsTheDownloadDirNameTimestampAndZip) {
    TempDir dir(L"table");
    LoadConfigForExecutable(dir / L"TarnDown.exe");
    UpdateConfig([&](AppConfig& config) { config.downloadDir = dir / L"下载"; });

    const DownloadTask task = MakeDownloadTask("http://h/a", "pack.zip", "maps");
    const std::wstring prefix = dir / L"下载\\pack.zip_";
    ASSERT_EQ(task.filePath.size(), prefix.size() + 15 + 4);
    EXPECT_EQ(task.filePath.compare(0, prefix.size(), prefix), 0);
    const std::wstring stamp = task.filePath.substr(prefix.size(), 15);
    EXPECT_EQ(stamp[8], L'_');
    for (size_t i = 0; i < stamp.size(); ++i) {
        if (i != 8) {
            EXPECT_TRUE(iswdigit(stamp[i])) << i;
        }
    }
    EXPECT_EQ(task.filePath.substr(task.filePath.size() - 4), L".zip")
        << ".zip is appended whatever the name";
    EXPECT_EQ(task.status, TaskStatus::Pending);
    EXPECT_EQ(task.progress, 0);
    EXPECT_FALSE(task.hasFinishTime);
    EXPECT_EQ(task.category, "maps");
    EXPECT_TRUE(task.extractDir.empty() && task.copyDestDir.empty() && task.copyFirstItem.empty() &&
                task.leftoverDir.empty() && task.error.empty());
}

TEST_F(TaskTable, TasksMadeWithinOneSecondUnderOneNameNeverShareAFile) {
    const auto append = [](const std::wstring& path) {
        DownloadTask task = Task("pack", "http://h/p.zip", TaskStatus::Pending);
        task.filePath = path;
        DownloadTask added;
        EXPECT_TRUE(CopyTask(AppendTask(task), &added));
        return added.filePath;
    };
    const std::wstring first = L"D:\\dl\\pack_20261208_101612.zip";
    EXPECT_EQ(append(first), first);
    const std::wstring second = append(first);
    const std::wstring third = append(L"d:\\DL\\PACK_20261208_101612.ZIP");
    const std::wstring stem = L"D:\\dl\\pack_20261208_101612_";
    ASSERT_GT(second.size(), stem.size() + 4);
    EXPECT_EQ(second.substr(0, stem.size()), stem);
    EXPECT_EQ(second.substr(second.size() - 4), L".zip");
    EXPECT_EQ(_wcsnicmp(third.c_str(), stem.c_str(), stem.size()), 0) << "names compare without case";
    EXPECT_NE(_wcsicmp(second.c_str(), third.c_str()), 0);
    const std::wstring plain = append(L"D:\\dl.v2\\pack");
    const std::wstring renamed = append(plain);
    EXPECT_EQ(renamed.substr(0, plain.size() + 1), plain + L"_") << "a dot in a folder name is no extension";
    EXPECT_EQ(renamed.find(L'.', plain.size()), std::wstring::npos);
    EXPECT_EQ(append(L"D:\\dl\\other_20261208_101612.zip"), L"D:\\dl\\other_20261208_101612.zip");
}

TEST_F(TaskTable, TimestampIsTheLocalTimeInFileNameForm) {
    SYSTEMTIME before = {};
    GetLocalTime(&before);
    const std::wstring stamp = MakeTimestamp();
    ASSERT_EQ(stamp.size(), 15u);
    wchar_t expectedDate[16] = {};
    swprintf(expectedDate, 16, L"%04d%02d%02d_", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(stamp.substr(0, 9), expectedDate);
}

TEST_F(TaskTable, UpdateKeepsErrorsStampsFinalStatusesAndNotifiesTheWindow) {
    NotificationSink sink;
    AppendTask(Task("a", "u"));
    const TaskRef ref = AppendTask(Task("b", "u"));
    EXPECT_EQ(ref.index, 1u);

    EXPECT_TRUE(UpdateTaskStatus(ref, TaskStatus::Downloading, 40, ""));
    EXPECT_FALSE(Snapshot(1).hasFinishTime);
    EXPECT_TRUE(UpdateTaskStatus(ref, TaskStatus::Failed, 0, "HTTP 404 error"));
    DownloadTask task = Snapshot(1);
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.error, "HTTP 404 error");
    EXPECT_TRUE(task.hasFinishTime);
    const SYSTEMTIME firstStamp = task.finishTime;

    UpdateTaskStatus(ref, TaskStatus::Failed, 0, "");
    EXPECT_EQ(Snapshot(1).error, "HTTP 404 error") << "an empty error keeps the old text";
    UpdateTaskStatus(ref, TaskStatus::Extracting, 5, "");
    task = Snapshot(1);
    EXPECT_TRUE(task.hasFinishTime) << "a running status does not clear the finish time";
    EXPECT_EQ(task.finishTime.wHour, firstStamp.wHour);
    EXPECT_EQ(task.progress, 5);
    EXPECT_EQ(Snapshot(0).status, TaskStatus::Pending) << "other tasks untouched";

    EXPECT_EQ(sink.Drain(), (std::vector<WPARAM>{1, 1, 1, 1}));
    NotifyTaskListChanged();
    EXPECT_EQ(sink.Drain(), (std::vector<WPARAM>{kAllTasksChanged}));
}

TEST_F(TaskTable, UpdatesOutsideTheTableChangeAndPostNothing) {
    NotificationSink sink;
    const TaskRef ref = AppendTask(Task("a", "u"));
    EXPECT_FALSE(UpdateTaskStatus(TaskRef{1, ref.serial}, TaskStatus::Completed, 100, "x"));
    EXPECT_FALSE(
        UpdateTaskStatus(TaskRef{static_cast<size_t>(-1), ref.serial}, TaskStatus::Completed, 100, "x"));
    EXPECT_TRUE(sink.Drain().empty());
    EXPECT_EQ(Snapshot(0).status, TaskStatus::Pending);
}

TEST_F(TaskTable, AClearedTasksWorkerNeverChangesTheTaskThatReusesItsIndex) {
    const TaskRef old = AppendTask(Task("old", "u1"));
    ClearTasks();
    EXPECT_EQ(TaskCount(), 0u);
    const TaskRef fresh = AppendTask(Task("new", "u2"));
    EXPECT_EQ(fresh.index, 0u) << "indexes start again at 0";
    EXPECT_NE(fresh.serial, old.serial);

    EXPECT_FALSE(UpdateTaskStatus(old, TaskStatus::Failed, 0, "stale"));
    EXPECT_FALSE(UpdateTaskFields(old, [](DownloadTask& t) { t.extractDir = L"stale"; }));
    DownloadTask copy;
    EXPECT_FALSE(CopyTask(old, &copy));
    const DownloadTask task = Snapshot(0);
    EXPECT_EQ(task.status, TaskStatus::Pending);
    EXPECT_TRUE(task.error.empty());
    EXPECT_TRUE(task.extractDir.empty());
    ASSERT_TRUE(CopyTask(fresh, &copy));
    EXPECT_EQ(copy.name, "new");

    // A cleared task's worker still writes its file: the path is nobody else's until it ends.
    DownloadTask named = Task("pack", "u3");
    named.filePath = L"C:\\dl\\pack_20261208_101010.zip";
    std::wstring second;
    {
        const PathReservation running(AppendTask(named));
        ClearTasks();
        second = Snapshot(AppendTask(named).index).filePath;
        EXPECT_NE(second, named.filePath);
        ClearTasks();
    }
    EXPECT_EQ(Snapshot(AppendTask(named).index).filePath, named.filePath);
}

TEST_F(TaskTable, RetryResetsAFailedTaskInPlaceUnderANewSerialAndOnlyOnce) {
    NotificationSink sink;
    AppendTask(Task("done", "u0", TaskStatus::Completed));
    DownloadTask failed = Task("pack", "u1", TaskStatus::Failed);
    failed.filePath = L"D:\\Downloads\\pack_20260101_000000.zip";
    failed.error = "Connection lost during download";
    failed.hasFinishTime = true;
    failed.finishTime.wHour = 12;
    failed.extractDir = L"D:\\Downloads\\pack";
    failed.resumeValidator = "\"v1\"";
    const TaskRef earlier = AppendTask(failed);
    sink.Drain();

    TaskRef ref;
    EXPECT_EQ(PrepareTaskRetry(0, &ref), RetryOutcome::NotFailed);
    EXPECT_EQ(PrepareTaskRetry(2, &ref), RetryOutcome::NoSuchTask);
    EXPECT_EQ(PrepareTaskRetry(static_cast<size_t>(-1), &ref), RetryOutcome::NoSuchTask);
    DownloadTask installer = Task("WebView2_Installer", "u2", TaskStatus::Failed);
    installer.kind = TaskKind::RuntimeInstaller;
    AppendTask(installer);
    sink.Drain();
    EXPECT_EQ(PrepareTaskRetry(2, &ref), RetryOutcome::NotRetryable);
    EXPECT_EQ(Snapshot(2).status, TaskStatus::Failed);
    EXPECT_TRUE(sink.Drain().empty());

    // Many retries of one failed task at once: exactly one gets it.
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    std::vector<TaskRef> refs(8);
    for (size_t i = 0; i < refs.size(); ++i) {
        threads.emplace_back([&, i]() {
            if (PrepareTaskRetry(1, &refs[i]) == RetryOutcome::Started) {
                ref = refs[i];
                ++started;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(sink.Drain(), std::vector<WPARAM>{1});
    EXPECT_EQ(ref.index, 1u);
    EXPECT_NE(ref.serial, earlier.serial);

    const DownloadTask task = Snapshot(1);
    EXPECT_EQ(task.status, TaskStatus::Pending);
    EXPECT_EQ(task.progress, 0);
    EXPECT_EQ(task.error, "");
    EXPECT_FALSE(task.hasFinishTime);
    EXPECT_EQ(task.finishTime.wHour, 0);
    EXPECT_EQ(task.extractDir, L"");
    EXPECT_EQ(task.filePath, failed.filePath);
    EXPECT_EQ(task.resumeValidator, "\"v1\"");
    EXPECT_EQ(TaskCount(), 3u);
    // The earlier attempt's reference no longer reaches the task; the retry's does.
    EXPECT_FALSE(UpdateTaskStatus(earlier, TaskStatus::Failed, 0, "stale"));
    EXPECT_TRUE(UpdateTaskStatus(ref, TaskStatus::Downloading, 0, std::string()));
    TaskRef again;
    EXPECT_EQ(PrepareTaskRetry(1, &again), RetryOutcome::NotFailed);

    // Cleared while the retry runs: the retry's worker cannot reach the task that takes its row.
    ClearTasks();
    AppendTask(Task("a", "u"));
    const TaskRef newer = AppendTask(Task("b", "u"));
    EXPECT_EQ(newer.index, ref.index);
    EXPECT_FALSE(UpdateTaskStatus(ref, TaskStatus::Failed, 0, "stale"));
    EXPECT_EQ(Snapshot(1).status, TaskStatus::Pending);
}

TEST_F(TaskTable, StatusWordsForEveryView) {
    const struct {
        int value;
        const char* api;
        const wchar_t* list;
        const char* page;
    } words[] = {{0, "queued", L"排队中", "Queued"},
                 {1, "pending", L"等待中", "Pending"},
                 {2, "downloading", L"下载中", "Downloading"},
                 {3, "extracting", L"解压中", "Extracting"},
                 {4, "copying", L"复制中", "Copying"},
                 {5, "completed", L"已完成", "Completed"},
                 {6, "failed", L"失败", "Failed"},
                 {7, "already_exists", L"已存在", "Already Exists"},
                 {8, "pending", L"等待中", "Pending"},
                 {-1, "pending", L"等待中", "Pending"}};
    for (const auto& w : words) {
        const auto status = static_cast<TaskStatus>(w.value);
        EXPECT_STREQ(TaskStatusApiWord(status), w.api) << w.value;
        EXPECT_STREQ(TaskStatusListWord(status), w.list) << w.value;
        EXPECT_STREQ(TaskStatusPageWord(status), w.page) << w.value;
    }
}

// Many workers report while tasks are appended and the table is cleared under them. Every update
// must land on its own task or nowhere: each task's error text names the task it belongs to.
TEST_F(TaskTable, ConcurrentAppendsUpdatesAndClearsNeverCrossTasks) {
    constexpr int kThreads = 6;
    constexpr int kTasksPerThread = 2000;
    constexpr int kUpdatesPerTask = 4;
    std::atomic<bool> stop{false};
    std::atomic<int> applied{0};
    std::atomic<int> mismatches{0};

    std::thread clearer([&] {
        while (!stop.load()) {
            ClearTasks();
            std::this_thread::yield();
        }
    });
    std::thread checker([&] {
        while (!stop.load()) {
            for (const DownloadTask& task : SnapshotTasks()) {
                if (!task.error.empty() && task.error != task.name) {
                    ++mismatches;
                }
            }
        }
        std::this_thread::yield();
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kTasksPerThread; ++i) {
                const std::string name = std::to_string(t) + "-" + std::to_string(i);
                const TaskRef ref = AppendTask(Task(name, "u"));
                std::this_thread::yield();
                for (int u = 0; u < kUpdatesPerTask; ++u) {
                    if (UpdateTaskStatus(ref, TaskStatus::Downloading, u, name)) {
                        ++applied;
                    }
                    UpdateTaskFields(ref, [&](DownloadTask& task) { task.extractDir = Utf8ToWide(name); });
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    stop = true;
    clearer.join();
    checker.join();

    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(applied.load(), 0);
    for (const DownloadTask& task : SnapshotTasks()) {
        if (!task.extractDir.empty()) {
            EXPECT_EQ(task.extractDir, Utf8ToWide(task.name));
        }
    }
}

TEST_F(TaskTable, ConcurrentUpdatesAreNeverLost) {
    constexpr int kThreads = 8;
    constexpr int kUpdates = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t] {
            const std::string name = "task" + std::to_string(t);
            const TaskRef ref = AppendTask(Task(name, "u"));
            for (int u = 1; u <= kUpdates; ++u) {
                UpdateTaskStatus(ref, TaskStatus::Downloading, u, u == kUpdates ? name : "");
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const std::vector<DownloadTask> tasks = SnapshotTasks();
    ASSERT_EQ(tasks.size(), static_cast<size_t>(kThreads));
    for (const DownloadTask& task : tasks) {
        EXPECT_EQ(task.progress, kUpdates) << task.name;
        EXPECT_EQ(task.error, task.name);
    }
}
