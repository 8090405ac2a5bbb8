#include "tasks/task_worker.h"

#include "base/text_convert.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/extraction_turns.h"
#include "tasks/task_creation.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

std::vector<std::wstring> g_openedFolders;

void RecordOpenedFolder(const std::wstring& folder) {
    g_openedFolders.push_back(folder);
}

const std::string kPackZip = MakeStoredZip({
    {"sfx_fire.png", "fire"},
    {"monster_01/", ""},
    {"monster_01/body.ani", "monster"},
    {"level1.map", "map"},
});

class TaskWorker : public testing::Test {
  protected:
    void SetUp() override {
        SetFolderOpenerForTesting(RecordOpenedFolder);
        server_.Serve("/pack.zip", TestResponse{200, kPackZip});
    }
    void TearDown() override { SetFolderOpenerForTesting(nullptr); }

    // Creates the task as a download request would and runs its worker to the end.
    DownloadTask Run(const std::string& path, const std::string& name) {
        const TaskRef ref = AppendTask(MakeDownloadTask(server_.UrlUtf8(path), name, "default"));
        RunTaskWorker(ref);
        DownloadTask task;
        EXPECT_TRUE(CopyTask(ref, &task));
        return task;
    }

    PipelineEnvironment env_;
    TestHttpServer server_;
};

}  // namespace

TEST_F(TaskWorker, DownloadOnlyKeepsTheFileUnderItsTimestampedName) {
    env_.Configure(false, false);
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Completed);
    EXPECT_EQ(task.progress, 100);
    EXPECT_EQ(task.error, "");
    EXPECT_TRUE(task.hasFinishTime);
    EXPECT_EQ(task.filePath.compare(0, env_.downloadDir().size() + 6, env_.downloadDir() + L"\\pack_"), 0);
    EXPECT_TRUE(ReadFileBytes(task.filePath) == kPackZip);
    EXPECT_EQ(task.extractDir, L"");
    EXPECT_FALSE(DirectoryExists(env_.downloadDir() + L"\\pack"));
}

TEST_F(TaskWorker, ExtractOnlyDeletesTheArchiveAfterSuccess) {
    ASSERT_TRUE(env_.InstallSevenZip());
    env_.Configure(true, false);
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.progress, 100);
    EXPECT_FALSE(FileExists(task.filePath));
    EXPECT_EQ(task.extractDir, env_.downloadDir() + L"\\pack");
    EXPECT_EQ(ReadFileBytes(task.extractDir + L"\\monster_01\\body.ani"), "monster");
    EXPECT_FALSE(DirectoryExists(env_.devDir() + L"\\anim"));
}

TEST_F(TaskWorker, CopyWithoutDevelopmentDirectoryHasNoCopyStage) {
    ASSERT_TRUE(env_.InstallSevenZip());
    env_.Configure(true, true);
    env_.SetDevDir(L"");
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.extractDir, env_.downloadDir() + L"\\pack");
    EXPECT_TRUE(FileExists(task.extractDir + L"\\sfx_fire.png"));
    EXPECT_EQ(task.copyDestDir, L"");
}

TEST_F(TaskWorker, CopyWithoutExtractionCopiesTheArchiveUnderTheTaskNameButNeverOverAFile) {
    env_.Configure(false, true);
    DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.progress, 100);
    EXPECT_TRUE(ReadFileBytes(env_.devDir() + L"\\pack\\pack.zip") == kPackZip);
    EXPECT_TRUE(FileExists(task.filePath));
    EXPECT_EQ(ListFolder(env_.devDir() + L"\\pack"), std::vector<std::wstring>{L"pack.zip"});

    WriteFileBytes(env_.devDir() + L"\\pack\\pack.zip", "the user's own copy");
    task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::AlreadyExists) << task.error;
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\pack\\pack.zip"), "the user's own copy");
    EXPECT_EQ(ListFolder(env_.devDir() + L"\\pack"), std::vector<std::wstring>{L"pack.zip"});
}

TEST_F(TaskWorker, PlainCopyThatCannotBeWrittenFailsTheTask) {
    env_.Configure(false, true);
    // A directory where the copy should go: the copy cannot be made.
    CreateDirectoryRecursive(env_.devDir() + L"\\pack\\pack.zip");
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.error, "Failed to copy file to development directory");
    EXPECT_TRUE(ReadFileBytes(task.filePath) == kPackZip);
}

TEST_F(TaskWorker, ClassifiedCopyOfEveryEntryCompletesAndRemovesTheExtraction) {
    ASSERT_TRUE(env_.InstallSevenZip());
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.progress, 100);
    EXPECT_EQ(task.error, "");
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\anim\\effect\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\anim\\monster\\monster_01\\body.ani"), "monster");
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\scene\\map\\level1.map"), "map");
    EXPECT_EQ(task.extractDir, L"");
    EXPECT_EQ(task.leftoverDir, L"");
    EXPECT_FALSE(task.copyDestDir.empty());
    EXPECT_EQ(task.copyFirstItem.compare(0, task.copyDestDir.size(), task.copyDestDir), 0);
    EXPECT_FALSE(DirectoryExists(env_.downloadDir() + L"\\pack"));
    EXPECT_FALSE(FileExists(task.filePath));
    EXPECT_TRUE(g_openedFolders.empty());
}

TEST_F(TaskWorker, UnclassifiedEntriesCompleteWithANoteAndOpenTheirFolder) {
    ASSERT_TRUE(env_.InstallSevenZip());
    server_.Serve("/mixed.zip", TestResponse{200, MakeStoredZip({{"sfx_a.png", "a"}, {"readme.txt", "r"}})});
    const DownloadTask task = Run("/mixed.zip", "mixed");
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.error, "待处理");
    EXPECT_EQ(task.leftoverDir, env_.downloadDir() + L"\\mixed");
    EXPECT_EQ(task.extractDir, env_.downloadDir() + L"\\mixed");
    EXPECT_EQ(ReadFileBytes(task.leftoverDir + L"\\readme.txt"), "r");
    EXPECT_EQ(g_openedFolders, std::vector<std::wstring>{task.leftoverDir});
}

// The copy stage moves everything in the extraction folder, so a user's folder of the task's name
// and another task's extraction must never be it.
TEST_F(TaskWorker, EachTaskExtractsIntoAFolderOfItsOwnAndTheUsersFolderIsNeverSwept) {
    ASSERT_TRUE(env_.InstallSevenZip());
    const std::wstring users = env_.downloadDir() + L"\\pack";
    CreateDirectoryRecursive(users);
    WriteFileBytes(users + L"\\sfx_mine.png", "the user's own");

    const DownloadTask filed = Run("/pack.zip", "pack");
    EXPECT_EQ(filed.status, TaskStatus::Completed) << filed.error;
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\anim\\effect\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(users + L"\\sfx_mine.png"), "the user's own");
    EXPECT_FALSE(FileExists(env_.devDir() + L"\\anim\\effect\\sfx_mine.png"));

    env_.Configure(true, false);
    const DownloadTask first = Run("/pack.zip", "pack");
    const DownloadTask second = Run("/pack.zip", "pack");
    for (const DownloadTask* task : {&first, &second}) {
        EXPECT_EQ(task->status, TaskStatus::Completed) << task->error;
        EXPECT_EQ(task->extractDir.rfind(users + L"_", 0), 0u) << WideToUtf8(task->extractDir);
        EXPECT_EQ(ReadFileBytes(task->extractDir + L"\\sfx_fire.png"), "fire");
    }
    EXPECT_NE(first.extractDir, second.extractDir);
    EXPECT_FALSE(FileExists(users + L"\\sfx_fire.png"));
}

TEST_F(TaskWorker, AnEntryAlreadyInPlaceMakesTheTaskAlreadyExists) {
    ASSERT_TRUE(env_.InstallSevenZip());
    CreateDirectoryRecursive(env_.devDir() + L"\\scene\\map");
    WriteFileBytes(env_.devDir() + L"\\scene\\map\\level1.map", "the user's map");
    server_.Serve(
        "/mixed.zip",
        TestResponse{200, MakeStoredZip({{"level1.map", "new"}, {"sfx_b.png", "b"}, {"notes.txt", "n"}})});
    const DownloadTask task = Run("/mixed.zip", "mixed");
    EXPECT_EQ(task.status, TaskStatus::AlreadyExists);
    EXPECT_EQ(task.progress, 100);
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\scene\\map\\level1.map"), "the user's map");
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\anim\\effect\\sfx_b.png"), "b");
    EXPECT_TRUE(g_openedFolders.empty());
}

TEST_F(TaskWorker, FailedDownloadStopsThePipeline) {
    ASSERT_TRUE(env_.InstallSevenZip());
    DownloadTask task = Run("/missing.zip", "missing");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.progress, 0);
    EXPECT_EQ(task.error, "HTTP 404 error");
    EXPECT_TRUE(task.hasFinishTime);
    EXPECT_FALSE(DirectoryExists(env_.downloadDir() + L"\\missing"));

    TestResponse shortBody{200, kPackZip};
    shortBody.announcedLength = static_cast<std::int64_t>(kPackZip.size()) + 100;
    server_.Serve("/short.zip", shortBody);
    task = Run("/short.zip", "short");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_NE(task.error, "");
    EXPECT_FALSE(DirectoryExists(env_.downloadDir() + L"\\short"));
}

TEST_F(TaskWorker, MissingExtractorFailsAndKeepsTheArchive) {
    env_.HidePowerShell();
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.progress, 0);
    EXPECT_EQ(task.error, "Failed to create extraction process");
    EXPECT_TRUE(ReadFileBytes(task.filePath) == kPackZip);
    EXPECT_EQ(task.extractDir, L"");
    EXPECT_FALSE(DirectoryExists(env_.devDir() + L"\\anim"));
}

TEST_F(TaskWorker, ExtractorThatWritesNothingFailsAndKeepsTheArchive) {
    // No 7za.exe: Wine's stand-in powershell.exe runs, extracts nothing and exits with 0.
    const DownloadTask task = Run("/pack.zip", "pack");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.error, "Extraction produced no files");
    EXPECT_TRUE(ReadFileBytes(task.filePath) == kPackZip);
    EXPECT_FALSE(DirectoryExists(env_.devDir() + L"\\anim"));
}

TEST_F(TaskWorker, DamagedArchiveFailsKeepsItAndSkipsTheCopy) {
    ASSERT_TRUE(env_.InstallSevenZip());
    std::string damaged = kPackZip;
    damaged.resize(damaged.size() - 30);
    server_.Serve("/damaged.zip", TestResponse{200, damaged});
    const DownloadTask task = Run("/damaged.zip", "damaged");
    EXPECT_EQ(task.status, TaskStatus::Failed);
    EXPECT_EQ(task.error.rfind("Extraction failed with exit code ", 0), 0u) << task.error;
    EXPECT_TRUE(ReadFileBytes(task.filePath) == damaged);
    EXPECT_EQ(task.extractDir, L"");
    EXPECT_EQ(task.copyDestDir, L"");
    EXPECT_FALSE(DirectoryExists(env_.devDir() + L"\\anim"));
}

TEST_F(TaskWorker, HostileTaskNameAndDirectoriesGoThroughEveryStage) {
    ASSERT_TRUE(env_.InstallSevenZip());
    const std::wstring downloads = env_.root() + L"\\down load's $x; & 目录";
    const std::wstring dev = env_.root() + L"\\dev ‘y’ & $(z); 开发";
    env_.SetDownloadDir(downloads);
    env_.SetDevDir(dev);
    const std::string name = "it's $HOME; & ‘x’ `n (中文) ü";
    const DownloadTask task = Run("/pack.zip", name);
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.name, name);
    EXPECT_EQ(ReadFileBytes(dev + L"\\anim\\monster\\monster_01\\body.ani"), "monster");
    EXPECT_FALSE(DirectoryExists(downloads + L"\\" + Utf8ToWide(name)));
}

// A task that an exit interrupted after its download, or after its extraction, is retried from what
// it recorded: the server no longer has the file and no extractor is there, so a second download or
// extraction would fail the task.
TEST_F(TaskWorker, ARetryGoesOnFromTheStageTheTaskRecordedAndDoesNotRepeatIt) {
    ASSERT_TRUE(env_.InstallSevenZip());
    DownloadTask downloaded = MakeDownloadTask(server_.UrlUtf8("/gone.zip"), "pack", "default");
    ASSERT_TRUE(WriteFileBytes(downloaded.filePath, kPackZip));
    downloaded.stage = TaskStage::Downloaded;
    downloaded.status = TaskStatus::Failed;
    const TaskRef first = AppendTask(downloaded);
    TaskRef retried;
    ASSERT_EQ(PrepareTaskRetry(first.index, &retried), RetryOutcome::Started);
    RunTaskWorker(retried);
    DownloadTask task;
    ASSERT_TRUE(CopyTask(retried, &task));
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.stage, TaskStage::Filed);
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\scene\\map\\level1.map"), "map");

    ASSERT_TRUE(DeleteFileW((env_.exeDir() + L"\\7za.exe").c_str()));
    DownloadTask extracted = MakeDownloadTask(server_.UrlUtf8("/gone.zip"), "other", "default");
    extracted.extractDir = env_.downloadDir() + L"\\other";
    ASSERT_TRUE(CreateDirectoryW(extracted.extractDir.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(extracted.extractDir + L"\\sfx_other.png", "other"));
    extracted.stage = TaskStage::Extracted;
    extracted.status = TaskStatus::Failed;
    const TaskRef second = AppendTask(extracted);
    ASSERT_EQ(PrepareTaskRetry(second.index, &retried), RetryOutcome::Started);
    RunTaskWorker(retried);
    ASSERT_TRUE(CopyTask(retried, &task));
    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(ReadFileBytes(env_.devDir() + L"\\anim\\effect\\sfx_other.png"), "other");
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(TaskWorker, ClearedTaskIsNeverTouched) {
    const TaskRef ref = AppendTask(MakeDownloadTask(server_.UrlUtf8("/pack.zip"), "gone", "default"));
    DownloadTask original;
    ASSERT_TRUE(CopyTask(ref, &original));
    ClearTasks();
    const TaskRef newer = AppendTask(MakeDownloadTask(server_.UrlUtf8("/pack.zip"), "newer", "default"));
    ASSERT_EQ(newer.index, ref.index);

    RunTaskWorker(ref);

    DownloadTask task;
    ASSERT_TRUE(CopyTask(newer, &task));
    EXPECT_EQ(task.status, TaskStatus::Pending);
    EXPECT_FALSE(FileExists(original.filePath));
    EXPECT_TRUE(server_.Requests().empty());
}

// Watches the task from another thread while the worker runs: statuses only move forward, the
// download's percentages only rise, and each stage starts at 0.
TEST_F(TaskWorker, StatusesAndProgressSeenFromOutsideOnlyMoveForward) {
    ASSERT_TRUE(env_.InstallFakeExtractor(2500, 0));
    env_.Configure(true, false);
    TestResponse slow{200, std::string(640 * 1024, 'z')};
    slow.pieceBytes = 64 * 1024;
    slow.pauseMs = 60;
    server_.Serve("/slow.zip", slow);
    const TaskRef ref = AppendTask(MakeDownloadTask(server_.UrlUtf8("/slow.zip"), "slow", "default"));

    std::thread worker([ref] { RunTaskWorker(ref); });
    std::vector<std::pair<TaskStatus, int>> seen;
    DownloadTask task;
    for (;;) {
        ASSERT_TRUE(CopyTask(ref, &task));
        if (seen.empty() || seen.back() != std::make_pair(task.status, task.progress)) {
            seen.emplace_back(task.status, task.progress);
        }
        if (task.status == TaskStatus::Completed || task.status == TaskStatus::Failed) {
            break;
        }
        Sleep(2);
    }
    worker.join();

    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    EXPECT_EQ(task.progress, 100);
    bool sawDownloading = false, sawExtracting = false;
    for (size_t i = 0; i < seen.size(); ++i) {
        sawDownloading = sawDownloading || seen[i].first == TaskStatus::Downloading;
        sawExtracting = sawExtracting || seen[i].first == TaskStatus::Extracting;
        if (i == 0) {
            continue;
        }
        ASSERT_GE(static_cast<int>(seen[i].first), static_cast<int>(seen[i - 1].first)) << i;
        if (seen[i].first == seen[i - 1].first) {
            EXPECT_GT(seen[i].second, seen[i - 1].second) << i;
        } else if (seen[i].first != TaskStatus::Completed) {
            EXPECT_LE(seen[i].second, 1) << i;  // a new stage starts at 0 (1 if a report came in between)
        }
    }
    EXPECT_TRUE(sawDownloading);
    EXPECT_TRUE(sawExtracting);
    EXPECT_GE(seen.size(), 6u);
}

// One more task than extractions may run at once: the last to reach extraction waits for a turn,
// showing Extracting at 0, and starts only when one of the others has ended. An extractor's
// estimate reaches 1 only after it ran for two seconds, so no more than the limit may ever show
// Extracting above 0 at the same time.
TEST_F(TaskWorker, ExtractionsBeyondTheProcessorCountWaitAtZero) {
    ASSERT_TRUE(env_.InstallFakeExtractor(4000, 0));
    env_.Configure(true, false);
    const size_t limit = ExtractionTurnLimit();
    std::vector<TaskRef> refs;
    std::vector<std::thread> workers;
    for (size_t i = 0; i <= limit; ++i) {
        refs.push_back(AppendTask(
            MakeDownloadTask(server_.UrlUtf8("/pack.zip"), "turn" + std::to_string(i), "default")));
        workers.emplace_back([ref = refs.back()] { RunTaskWorker(ref); });
    }
    size_t mostRunning = 0;
    bool sawOneWaiting = false;
    for (size_t finished = 0; finished < refs.size(); Sleep(10)) {
        size_t running = 0, waiting = 0;
        finished = 0;
        for (const TaskRef& ref : refs) {
            DownloadTask task;
            ASSERT_TRUE(CopyTask(ref, &task));
            running += task.status == TaskStatus::Extracting && task.progress > 0 ? 1 : 0;
            waiting += task.status == TaskStatus::Extracting && task.progress == 0 ? 1 : 0;
            finished += task.status == TaskStatus::Completed || task.status == TaskStatus::Failed ? 1 : 0;
        }
        mostRunning = std::max(mostRunning, running);
        sawOneWaiting = sawOneWaiting || (running == limit && waiting == 1);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (const TaskRef& ref : refs) {
        DownloadTask task;
        ASSERT_TRUE(CopyTask(ref, &task));
        EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    }
    EXPECT_EQ(mostRunning, limit);
    EXPECT_TRUE(sawOneWaiting);
}

// Each report takes the table lock and posts to the window, so a large download must not post
// once per 64 KiB buffer but once per new percentage.
TEST_F(TaskWorker, LargeDownloadPostsOncePerPercentNotPerBuffer) {
    env_.Configure(false, false);
    server_.Serve("/big.zip", TestResponse{200, std::string(32 * 1024 * 1024, 'b')});
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    g_hDownloadWnd = window;

    const DownloadTask task = Run("/big.zip", "big");
    g_hDownloadWnd = nullptr;

    EXPECT_EQ(task.status, TaskStatus::Completed) << task.error;
    int posts = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_TASK_UPDATE, WM_TASK_UPDATE, PM_REMOVE)) {
        ++posts;
    }
    DestroyWindow(window);
    // Downloading 0, then 1..100 once each (512 buffers), then Completed.
    EXPECT_EQ(posts, 102);
}
