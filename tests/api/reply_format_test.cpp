#include "api/http_response.h"
#include "api/request_guard.h"
#include "api/status_page.h"
#include "state/config.h"
#include "tasks/task_table.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

TEST(BuildHttpResponse, WholeReplyByteForByte) {
    EXPECT_EQ(BuildHttpResponse(200, "application/json", "{}"),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: application/json; charset=utf-8\r\n"
              "Content-Length: 2\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
              "Access-Control-Allow-Headers: Content-Type\r\n"
              "Connection: close\r\n"
              "\r\n"
              "{}");
    const std::string empty = BuildHttpResponse(400, "text/plain", "");
    EXPECT_EQ(empty.substr(0, 25), "HTTP/1.1 400 Error\r\nConte");
    EXPECT_NE(empty.find("\r\nContent-Length: 0\r\n"), std::string::npos);
    EXPECT_EQ(empty.substr(empty.size() - 4), "\r\n\r\n");
    // The length counts bytes, not characters.
    EXPECT_NE(BuildHttpResponse(200, "text/html", "\xE4\xB8\xAD").find("Content-Length: 3\r\n"),
              std::string::npos);
}

TEST(HtmlEscape, OnlyMarkupCharacters) {
    EXPECT_EQ(HtmlEscape("<b>&amp;</b>"), "&lt;b&gt;&amp;amp;&lt;/b&gt;");
    EXPECT_EQ(HtmlEscape("'\"\xE4\xB8\xAD"), "'\"\xE4\xB8\xAD");
}

TEST(RequestGuard, HostValues) {
    for (const char* good :
         {"127.0.0.1", "127.0.0.1:61206", "localhost", "LocalHost:1", "[::1]", "[::1]:80"}) {
        EXPECT_TRUE(IsLoopbackHostValue(good)) << good;
    }
    for (const char* bad :
         {"", "evil.example", "127.0.0.1.evil.example", "localhost.evil.example", "127.0.0.2",
          "localhost:", "localhost:123456", "localhost:80x", "::1", "[::1]evil", "0.0.0.0"}) {
        EXPECT_FALSE(IsLoopbackHostValue(bad)) << bad;
    }
}

TEST(RequestGuard, OriginValues) {
    for (const char* good :
         {"http://assets.tarn.example", "https://assets.tarn.example", "HTTP://Assets.Tarn.Example",
          "http://127.0.0.1:61206", "http://localhost", "https://[::1]:8443"}) {
        EXPECT_TRUE(IsAllowedOriginValue(good)) << good;
    }
    for (const char* bad :
         {"", "null", "http://evil.example", "http://assets.tarn.example.evil.example",
          "http://evil.assets.tarn.example", "ftp://assets.tarn.example", "assets.tarn.example",
          "http://assets.tarn.example/", "http://localhost.evil", "file://"}) {
        EXPECT_FALSE(IsAllowedOriginValue(bad)) << bad;
    }
}

TEST(RequestGuard, WhichRequestsChangeState) {
    HttpRequest request;
    request.method = "GET";
    request.path = "/api/download/abc";
    EXPECT_TRUE(IsStateChangingRequest(request));
    request.path = "/api/config";
    EXPECT_FALSE(IsStateChangingRequest(request));
    request.method = "POST";
    EXPECT_TRUE(IsStateChangingRequest(request));
    request.path = "/api/status";
    EXPECT_FALSE(IsStateChangingRequest(request));
    request.originHeaders = {"http://localhost", "http://evil.example"};
    EXPECT_FALSE(HasAllowedOrigin(request));
    request.originHeaders.pop_back();
    EXPECT_TRUE(HasAllowedOrigin(request));
}

class StatusPage : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadConfigForExecutable(dir_ / L"TarnDown.exe");
        UpdateConfig([&](AppConfig& config) {
            config.port = 4242;
            config.downloadDir = L"C:\\a&b<c>";
            config.devDir = L"C:\\\x4E2D";
            config.autoExtract = false;
            config.autoCopyToDev = true;
        });
    }
    TempDir dir_{L"page"};
};

TEST_F(StatusPage, FixedHeadAndNoTableWithoutTasks) {
    const std::string page = BuildStatusPage();
    const std::string head = page.substr(0, 777);
    EXPECT_EQ(head.substr(head.size() - 19), "<span>Port:</span> ");
    EXPECT_EQ(page.substr(777),
              "4242</p><p class='info'><span>Download Dir:</span> C:\\a&amp;b&lt;c&gt;</p>"
              "<p class='info'><span>Dev Dir:</span> C:\\\xE4\xB8\xAD</p>"
              "<p class='info'><span>Auto Extract:</span> No</p>"
              "<p class='info'><span>Auto Copy to Dev:</span> Yes</p></div></body></html>");
    EXPECT_EQ(page.find("Recent Tasks"), std::string::npos);
    EXPECT_NE(head.find("body{font-family:Segoe UI,Arial,sans-serif;margin:40px;background:#f5f5f5}.card{"),
              std::string::npos);
}

TEST_F(StatusPage, RowsInCreationOrderWithEscapedNames) {
    const char* names[] = {"first", "a<script>", "third"};
    std::vector<TaskRef> refs;
    for (const char* name : names) {
        DownloadTask task;
        task.name = name;
        refs.push_back(AppendTask(task));
    }
    UpdateTaskStatus(refs[1], TaskStatus::Downloading, 45, "");
    UpdateTaskStatus(refs[2], TaskStatus::AlreadyExists, 100, "");
    const std::string page = BuildStatusPage();
    const std::string tail =
        "<h3>Recent Tasks</h3><table><tr><th>Name</th><th>Status</th><th>Progress</th></tr>"
        "<tr><td>first</td><td>Pending</td><td>0%</td></tr>"
        "<tr><td>a&lt;script&gt;</td><td>Downloading</td><td>45%</td></tr>"
        "<tr><td>third</td><td>Already Exists</td><td>100%</td></tr>"
        "</table></div></body></html>";
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    ClearTasks();
}
