#include "api/api_routes.h"
#include "api/http_server.h"
#include "tasks/task_table.h"

#include <gtest/gtest.h>

#include "tests/support/net_util.h"

TEST(BuildTasksJson, EveryTaskInIndexOrderWithEscapedTexts) {
    EXPECT_EQ(BuildTasksJson(), "{\"tasks\":[]}");
    const TaskStatus statuses[] = {TaskStatus::Queued, TaskStatus::Failed, TaskStatus::AlreadyExists,
                                   static_cast<TaskStatus>(42)};
    for (const TaskStatus status : statuses) {
        DownloadTask task;
        task.name = "n\"" + std::to_string(static_cast<int>(status));
        task.status = status;
        task.progress = -1;
        task.error = status == TaskStatus::Failed ? "bad\\path\n" : "";
        AppendTask(task);
    }
    EXPECT_EQ(
        BuildTasksJson(),
        "{\"tasks\":["
        "{\"id\":0,\"name\":\"n\\\"0\",\"status\":\"queued\",\"progress\":-1,\"error\":\"\"},"
        "{\"id\":1,\"name\":\"n\\\"6\",\"status\":\"failed\",\"progress\":-1,\"error\":\"bad\\\\path\\n\"},"
        "{\"id\":2,\"name\":\"n\\\"7\",\"status\":\"already_exists\",\"progress\":-1,\"error\":\"\"},"
        "{\"id\":3,\"name\":\"n\\\"42\",\"status\":\"pending\",\"progress\":-1,\"error\":\"\"}]}");
    ClearTasks();
}

struct WinsockForTest {
    WinsockForTest() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockForTest() { WSACleanup(); }
};

TEST(CreateListeningSocket, NoOtherSocketCanShareThePort) {
    WinsockForTest winsock;
    const int port = PickFreePort();
    ListenFailure failure = ListenFailure::Socket;
    const UniqueSocket listener = CreateListeningSocket(port, &failure);
    ASSERT_TRUE(listener.valid());
    EXPECT_EQ(failure, ListenFailure::None);

    BOOL exclusive = FALSE;
    int size = sizeof(exclusive);
    ASSERT_EQ(getsockopt(listener.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive),
                         &size),
              0);
    EXPECT_TRUE(exclusive);

    // Another program asking to share the address must be turned away.
    UniqueSocket intruder(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const BOOL reuse = TRUE;
    setsockopt(intruder.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof(reuse));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    EXPECT_NE(bind(intruder.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    ListenFailure second = ListenFailure::None;
    EXPECT_FALSE(CreateListeningSocket(port, &second).valid());
    EXPECT_EQ(second, ListenFailure::Bind);
}

TEST(CreateListeningSocket, PortsOutsideTheRangeFailLikeATakenPort) {
    WinsockForTest winsock;
    const int port = PickFreePort();
    for (const int setting : {0, -1, 65536 + port, 65536}) {
        ListenFailure failure = ListenFailure::None;
        EXPECT_FALSE(CreateListeningSocket(setting, &failure).valid()) << setting;
        EXPECT_EQ(failure, ListenFailure::Bind) << setting;
    }
}
