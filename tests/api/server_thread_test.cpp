// RunHttpServer on a thread of this test program, so the table and the settings behind the replies
// can be examined directly.
#include "api/client_socket.h"
#include "api/http_server.h"
#include "base/text_convert.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_runner.h"
#include "tests/support/net_util.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex g_launchMutex;
std::vector<TaskRef> g_launched;

void RecordLaunch(const TaskRef& ref) {
    std::lock_guard<std::mutex> lock(g_launchMutex);
    g_launched.push_back(ref);
}

std::vector<TaskRef> Launched() {
    std::lock_guard<std::mutex> lock(g_launchMutex);
    return g_launched;
}

class InProcessServer : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadConfigForExecutable(dir_ / L"TarnDown.exe");
        port_ = PickFreePort();
        UpdateConfig([&](AppConfig& config) {
            config.port = port_;
            config.downloadDir = dir_ / L"dl";
        });
        SetTaskThreadLauncherForTesting(RecordLaunch);
        g_serverRunning.store(true);
        server_ = std::thread(RunHttpServer);
        ASSERT_TRUE(WaitForPortOpen(port_, 10000));
    }

    void TearDown() override {
        g_serverRunning.exchange(false);
        if (server_.joinable()) {
            server_.join();
        }
        SetTaskThreadLauncherForTesting(nullptr);
        ClearTasks();
    }

    std::string Get(const std::string& target) { return ReplyBody(HttpExchange(port_, SimpleGet(target))); }

    TempDir dir_{L"srv"};
    int port_ = 0;
    std::thread server_;
};

TEST_F(InProcessServer, ThreadEndsWithinASecondOfTheFlag) {
    ASSERT_EQ(Get("/api/tasks"), "{\"tasks\":[]}");
    const DWORD begin = GetTickCount();
    g_serverRunning.exchange(false);
    server_.join();
    EXPECT_LE(GetTickCount() - begin, 1500u);
    EXPECT_FALSE(WaitForPortOpen(port_, 100));
}

// Bytes after a complete request (a stray line end after a body, a pipelined request) must not
// cost the client its reply: closing a socket with unread bytes resets the connection and throws
// away what is still queued to send. The reply is far larger than the socket buffers and the
// client reads slowly, so part of it is still queued when the server is done sending.
TEST_F(InProcessServer, ExtraBytesAfterARequestDoNotCostTheReply) {
    DownloadTask task;
    task.name = std::string(100, 'n');
    for (int i = 0; i < 3000; ++i) {
        AppendTask(task);
    }
    const std::string whole = HttpExchange(port_, SimpleGet("/api/tasks"));
    ASSERT_GT(whole.size(), 400000u);
    for (const std::string& extra : {std::string("\r\n"), std::string(20000, 'x')}) {
        RawSendOptions slowReader;
        slowReader.slowReadPauseMs = 1;
        const RawExchange exchange = ExchangeRaw(port_, {SimpleGet("/api/tasks"), extra}, slowReader);
        EXPECT_TRUE(exchange.closedByServer);
        EXPECT_EQ(exchange.reply.size(), whole.size()) << extra.size();
        EXPECT_TRUE(exchange.reply == whole) << extra.size();
    }
}

// The server blocks in a connection's first read only when the accepted socket carries the
// listener's time limits, so that a silent client is dropped; it asks instead of assuming.
TEST(ClientSocketLimits, AcceptedSocketsCarryTheListenersLimitsOnlyWhenItHasThem) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    for (const bool withLimits : {true, false}) {
        const int port = PickFreePort();
        ListenFailure failure = ListenFailure::None;
        const UniqueSocket listener = CreateListeningSocket(port, &failure);
        ASSERT_TRUE(listener);
        if (withLimits) {
            ASSERT_TRUE(SetListenerTimeouts(listener.get()));
        }
        const UniqueSocket client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port));
        ASSERT_EQ(connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        const UniqueSocket accepted(accept(listener.get(), nullptr, nullptr));
        ASSERT_TRUE(accepted);
        ASSERT_EQ(HasListenerTimeouts(accepted.get()), withLimits);
        if (withLimits) {
            // The first read waits no longer than the first-data wait.
            char byte = 0;
            const DWORD begin = GetTickCount();
            EXPECT_EQ(recv(accepted.get(), &byte, 1, 0), SOCKET_ERROR);
            EXPECT_LE(GetTickCount() - begin, kFirstDataWaitMs + 3000);
        }
    }
    WSACleanup();
}

TEST_F(InProcessServer, DownloadRecordsTheTaskAndStartsOneWorker) {
    ASSERT_EQ(Get("/api/download?url=http://h/p.zip&name=a/b"),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":0,\"name\":\"a_b\"}");
    ASSERT_EQ(Get("/api/download?url=http://h/p.zip&name=a/b&cat=other"),
              "{\"success\":true,\"message\":\"Task already exists\",\"name\":\"a_b\"}");
    ASSERT_EQ(Get("/api/download?url=http://h/q.zip&name=c&cat=maps"),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":1,\"name\":\"c\"}");

    DownloadTask first;
    DownloadTask second;
    {
        const std::vector<DownloadTask> tasks = SnapshotTasks();
        ASSERT_EQ(tasks.size(), 2u);
        first = tasks[0];
        second = tasks[1];
    }
    EXPECT_EQ(first.url, "http://h/p.zip");
    EXPECT_EQ(first.category, "default");
    EXPECT_EQ(second.category, "maps");
    EXPECT_EQ(first.status, TaskStatus::Pending);
    EXPECT_EQ(first.progress, 0);
    EXPECT_FALSE(first.hasFinishTime);
    const std::wstring prefix = dir_ / L"dl\\a_b_";
    ASSERT_EQ(first.filePath.size(), prefix.size() + 15 + 4);  // YYYYMMDD_HHMMSS.zip
    EXPECT_EQ(first.filePath.substr(0, prefix.size()), prefix);
    EXPECT_EQ(first.filePath.substr(first.filePath.size() - 4), L".zip");

    // One worker per created task, none for the duplicate, each naming its own task.
    const std::vector<TaskRef> launched = Launched();
    ASSERT_EQ(launched.size(), 2u);
    EXPECT_EQ(launched[0].index, 0u);
    EXPECT_EQ(launched[0].serial, first.serial);
    EXPECT_EQ(launched[1].index, 1u);
    EXPECT_EQ(launched[1].serial, second.serial);

    // Once the first task has moved past downloading, the same request makes a new task.
    ASSERT_TRUE(UpdateTaskStatus(launched[0], TaskStatus::Extracting, 10, ""));
    EXPECT_EQ(Get("/api/download?url=http://h/p.zip&name=a/b"),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":2,\"name\":\"a_b\"}");
    ASSERT_TRUE(UpdateTaskStatus(launched[1], TaskStatus::AlreadyExists, 100, ""));
    EXPECT_EQ(
        Get("/api/tasks"),
        "{\"tasks\":[{\"id\":0,\"name\":\"a_b\",\"status\":\"extracting\",\"progress\":10,\"error\":\"\"},"
        "{\"id\":1,\"name\":\"c\",\"status\":\"already_exists\",\"progress\":100,\"error\":\"\"},"
        "{\"id\":2,\"name\":\"a_b\",\"status\":\"pending\",\"progress\":0,\"error\":\"\"}]}");
}

TEST_F(InProcessServer, ConfigurationChangesGoThroughTheSettings) {
    std::string devDirJson;
    for (const char ch : WideToUtf8(dir_ / L"tarn dev")) {
        devDirJson += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    }
    const std::string body = "{\"devDir\":\"" + devDirJson + "\",\"autoExtract\":true,\"port\":9001}";
    ASSERT_EQ(ReplyBody(HttpExchange(port_, "POST /api/config HTTP/1.1\r\nContent-Length: " +
                                                std::to_string(body.size()) + "\r\n\r\n" + body)),
              "{\"success\":true,\"message\":\"Configuration updated\"}");
    const AppConfig config = GetConfig();
    EXPECT_EQ(config.port, 9001);
    EXPECT_EQ(config.devDir, dir_ / L"tarn dev");
    EXPECT_TRUE(DirectoryExists(dir_ / L"tarn dev"));
    EXPECT_EQ(config.downloadDir, dir_ / L"dl");
    EXPECT_TRUE(config.autoExtract);
    EXPECT_FALSE(config.autoCopyToDev);
    EXPECT_FALSE(config.startMinimized);
    // The listening socket stays where it was.
    EXPECT_EQ(Get("/nothing"), "Not Found");
}

}  // namespace

namespace {

void ThrowingLaunch(const TaskRef&) {
    throw std::runtime_error("a fault in one handler");
}

}  // namespace

TEST_F(InProcessServer, AFaultWhileAnsweringOneRequestCostsOnlyThatConnection) {
    SetTaskThreadLauncherForTesting(ThrowingLaunch);
    // The worker starts once the reply is out; the fault comes after it.
    EXPECT_EQ(HttpExchange(port_, SimpleGet("/api/download?url=http://x/a.zip&name=a"))
                  .rfind("HTTP/1.1 200 OK\r\n", 0),
              0u);
    EXPECT_EQ(Get("/api/tasks").find("{\"tasks\":[{\"id\":0,\"name\":\"a\""), 0u) << Get("/api/tasks");
    EXPECT_EQ(ReplyBody(HttpExchange(port_, SimpleGet("/api/status"))).rfind("{\"success\":true", 0), 0u);
}
