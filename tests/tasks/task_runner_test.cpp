#include "tasks/task_runner.h"

#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_creation.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_threads{0};

// Real threads, counted while they live.
void CountingLauncher(const TaskRef& ref) {
    ++g_threads;
    std::thread([ref] {
        RunTaskThread(ref);
        --g_threads;
    }).detach();
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > end) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

std::string Body(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return body;
}

TestResponse Slow(const std::string& body, size_t piece, unsigned pauseMs) {
    TestResponse response{200, body};
    response.pieceBytes = piece;
    response.pauseMs = pauseMs;
    response.etag = "\"v1\"";
    response.honourRanges = true;
    return response;
}

DownloadTask Record(const TaskRef& ref) {
    DownloadTask task;
    EXPECT_TRUE(CopyTask(ref, &task));
    return task;
}

size_t CountStatus(const std::vector<TaskRef>& refs, TaskStatus status) {
    size_t count = 0;
    for (const TaskRef& ref : refs) {
        count += Record(ref).status == status ? 1 : 0;
    }
    return count;
}

void SetLimit(int limit) {
    UpdateConfig([limit](AppConfig& config) { config.maxConcurrentDownloads = limit; });
    OnDownloadLimitChanged();
}

class TaskRunner : public testing::Test {
  protected:
    void SetUp() override {
        env_.Configure(false, false);
        SetTaskThreadLauncherForTesting(CountingLauncher);
    }
    void TearDown() override {
        EXPECT_TRUE(WaitUntil([] { return g_threads.load() == 0; }));
        SetTaskThreadLauncherForTesting(nullptr);
        ClearTasks();
    }
    std::vector<TaskRef> Submit(size_t count, const std::string& path) {
        std::vector<TaskRef> refs;
        for (size_t i = 0; i < count; ++i) {
            refs.push_back(SubmitTask(MakeDownloadTask(server_.UrlUtf8(path), "t" + std::to_string(i), "c")));
        }
        return refs;
    }

    PipelineEnvironment env_;
    TestHttpServer server_;
};

}  // namespace

// The first three downloads trickle while 197 wait: three threads, three connections, and every
// waiting task shows Queued at 0. Then all arrive whole, never more than three at once.
TEST_F(TaskRunner, TwoHundredTasksHoldOnlyTheLimitsThreads) {
    const std::string body = Body(4096);
    server_.ServeInTurn("/f.zip", {Slow(body, 512, 150), Slow(body, 512, 150), Slow(body, 512, 150),
                                   TestResponse{200, body}});
    const std::vector<TaskRef> refs = Submit(200, "/f.zip");
    ASSERT_TRUE(WaitUntil([this] { return server_.OpenNow() == 3; }));
    for (int sample = 0; sample < 5; ++sample, Sleep(50)) {
        EXPECT_EQ(g_threads.load(), 3);
        EXPECT_EQ(CountStatus(refs, TaskStatus::Queued), 197u);
    }
    EXPECT_EQ(Record(refs.back()).progress, 0);
    ASSERT_TRUE(WaitUntil([&] { return CountStatus(refs, TaskStatus::Completed) == refs.size(); }));
    EXPECT_EQ(server_.MostOpen(), 3);
    for (const TaskRef& ref : refs) {
        ASSERT_EQ(ReadFileBytes(Record(ref).filePath), body);
    }
}

// Lowered to 1, no new download starts until one runs; raised to 6, waiting ones start at once.
TEST_F(TaskRunner, FiftyDownloadsFollowTheLimitAsItMoves) {
    const std::string body = Body(8192);
    server_.Serve("/f.zip", Slow(body, 1024, 15));
    const std::vector<TaskRef> refs = Submit(50, "/f.zip");
    ASSERT_TRUE(WaitUntil([&] { return CountStatus(refs, TaskStatus::Completed) >= 10; }));
    EXPECT_EQ(server_.MostOpen(), 3);

    SetLimit(1);
    ASSERT_TRUE(WaitUntil([] { return g_threads.load() <= 1; }));
    server_.ResetMostOpen();
    const size_t done = CountStatus(refs, TaskStatus::Completed);
    ASSERT_TRUE(WaitUntil([&] { return CountStatus(refs, TaskStatus::Completed) >= done + 5; }));
    EXPECT_EQ(server_.MostOpen(), 1);

    SetLimit(6);
    ASSERT_TRUE(WaitUntil([this] { return server_.OpenNow() == 6; }, 2000));
    ASSERT_TRUE(WaitUntil([&] { return CountStatus(refs, TaskStatus::Completed) == refs.size(); }));
    EXPECT_EQ(server_.MostOpen(), 6);
    for (const TaskRef& ref : refs) {
        ASSERT_EQ(ReadFileBytes(Record(ref).filePath), body);
    }
}

// A cancelled trickle closes its connection within a second and keeps the bytes it received; a
// retry asks for the rest and the file ends byte-identical.
TEST_F(TaskRunner, CancelStopsWithinASecondAndRetryResumes) {
    const std::string body = Body(256 * 1024);
    server_.Serve("/f.zip", Slow(body, 4096, 50));
    const TaskRef ref = Submit(1, "/f.zip")[0];
    ASSERT_TRUE(WaitUntil([&] { return Record(ref).progress >= 30; }));
    const ULONGLONG asked = GetTickCount64();
    ASSERT_EQ(CancelTask(ref.index), CancelOutcome::Cancelled);
    ASSERT_TRUE(WaitUntil([this] { return server_.OpenNow() == 0; }, 1000));
    EXPECT_LT(GetTickCount64() - asked, 1000u);
    ASSERT_TRUE(WaitUntil([&] { return Record(ref).status == TaskStatus::Failed; }));
    EXPECT_EQ(Record(ref).error, "已取消");
    const std::string kept = ReadFileBytes(Record(ref).filePath);
    ASSERT_GE(kept.size(), 64u * 1024);
    EXPECT_EQ(kept, body.substr(0, kept.size()));
    EXPECT_EQ(CancelTask(ref.index), CancelOutcome::NotCancellable);
    EXPECT_EQ(CancelTask(ref.index + 1), CancelOutcome::NoSuchTask);

    server_.Serve("/f.zip", Slow(body, 0, 0));
    TaskRef again;
    ASSERT_EQ(PrepareRetry(ref.index, &again), RetryOutcome::Started);
    StartTask(again);
    ASSERT_TRUE(WaitUntil([&] { return Record(again).status == TaskStatus::Completed; }));
    EXPECT_EQ(ReadFileBytes(Record(again).filePath), body);
    EXPECT_NE(server_.Requests().back().find("Range: bytes=" + std::to_string(kept.size()) + "-"),
              std::string::npos);
}

// Two connections cut mid-body, then a whole answer: three connections, the later two resuming,
// and the wait between them shows Queued with the error and a time for the next try.
TEST_F(TaskRunner, ADroppedConnectionIsTriedAgainAndResumes) {
    const std::string body = Body(300 * 1024);
    TestResponse cut = Slow(body, 0, 0);
    cut.resetAfterBytes = 100 * 1024;
    server_.ServeInTurn("/f.zip", {cut, cut, Slow(body, 0, 0)});
    const TaskRef ref = Submit(1, "/f.zip")[0];
    ASSERT_TRUE(WaitUntil([&] { return Record(ref).hasNextTry; }));
    const DownloadTask waiting = Record(ref);
    EXPECT_EQ(waiting.status, TaskStatus::Queued);
    EXPECT_EQ(waiting.progress, 0);
    EXPECT_TRUE(waiting.error == "Connection lost during download" ||
                waiting.error.rfind("Incomplete download: received ", 0) == 0)
        << waiting.error;
    ASSERT_TRUE(WaitUntil([&] { return IsFinalStatus(Record(ref).status); }));
    EXPECT_EQ(Record(ref).status, TaskStatus::Completed) << Record(ref).error;
    EXPECT_EQ(ReadFileBytes(Record(ref).filePath), body);
    const std::vector<std::string> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[1].find("Range: bytes="), std::string::npos);
    EXPECT_NE(requests[2].find("Range: bytes="), std::string::npos);
}

// A 429 waits for its Retry-After; a 404 is tried once. The end of the batch reaches the tray
// window with one success and one failure.
TEST_F(TaskRunner, RetryAfterIsWaitedForAndA404IsFinal) {
    TestResponse busy{429, ""};
    busy.headers = "Retry-After: 3\r\n";
    server_.ServeInTurn("/busy.zip", {busy, TestResponse{200, "late"}});
    const HWND tray =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    g_hTrayWnd = tray;
    TakeFinishedCounts();
    const TaskRef busyRef = Submit(1, "/busy.zip")[0];
    const TaskRef missing = Submit(1, "/missing.zip")[0];
    ASSERT_TRUE(WaitUntil([&] { return Record(busyRef).hasNextTry; }));
    const ULONGLONG refused = GetTickCount64();
    ASSERT_TRUE(WaitUntil([&] { return IsFinalStatus(Record(busyRef).status); }));
    EXPECT_GE(GetTickCount64() - refused, 2900u);
    EXPECT_EQ(Record(busyRef).status, TaskStatus::Completed);
    EXPECT_EQ(Record(missing).status, TaskStatus::Failed);
    EXPECT_EQ(Record(missing).error, "HTTP 404 error");
    size_t missingAsked = 0;
    for (const std::string& request : server_.Requests()) {
        missingAsked += request.find("GET /missing.zip") == 0 ? 1 : 0;
    }
    EXPECT_EQ(missingAsked, 1u);
    ASSERT_TRUE(WaitUntil([] { return g_threads.load() == 0; }));
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, tray, WM_DOWNLOADS_DONE, WM_DOWNLOADS_DONE, PM_REMOVE));
    g_hTrayWnd = nullptr;
    DestroyWindow(tray);
    const FinishedCounts counts = TakeFinishedCounts();
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(counts.failed, 1);
}

TEST(AutomaticRetryDelay, BackoffRetryAfterAndTheCasesWithoutRetry) {
    EXPECT_EQ(AutomaticRetryDelayMs(true, 0, 0, true), 2000u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 0, 1, true), 8000u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 0, 2, true), 30000u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 0, 3, true), 0u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 5, 2, true), 5000u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 4000000, 0, true), 120000u);
    EXPECT_EQ(AutomaticRetryDelayMs(false, 5, 0, true), 0u);
    EXPECT_EQ(AutomaticRetryDelayMs(true, 5, 0, false), 0u);
}

namespace {
void FailingLauncher(const TaskRef&) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
void Throwing(const TaskRef&) {
    throw std::runtime_error("boom");
}
const TaskRoutine kThrowingRoutine = {Throwing, "routine failed"};
}  // namespace

// A thread that cannot start fails its task; so does a routine that throws, with its own text.
TEST_F(TaskRunner, NoThreadOrAThrowingRoutineFailsTheTask) {
    SetTaskThreadLauncherForTesting(FailingLauncher);
    const TaskRef noThread = Submit(1, "/f.zip")[0];
    EXPECT_EQ(Record(noThread).status, TaskStatus::Failed);
    EXPECT_EQ(Record(noThread).error, "Failed to start worker thread");
    EXPECT_TRUE(Record(noThread).hasFinishTime);

    SetTaskThreadLauncherForTesting(CountingLauncher);
    DownloadTask task;
    task.kind = TaskKind::RuntimeInstaller;
    const TaskRef thrown = SubmitTask(task, &kThrowingRoutine);
    ASSERT_TRUE(WaitUntil([&] { return Record(thrown).status == TaskStatus::Failed; }));
    EXPECT_EQ(Record(thrown).error, "routine failed");
}
