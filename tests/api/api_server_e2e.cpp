// The real TarnDown.exe under Wine, spoken to over real sockets, replies compared byte for byte.
#include "base/text_convert.h"
#include "tests/support/message_pump.h"
#include "tests/support/net_util.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kServerStartMs = 30000;
constexpr DWORD kExitWaitMs = 10000;
// How long the workers of tasks with unusable URLs may take to fail them.
constexpr DWORD kWorkersSettleMs = 20000;
const std::string kJson = "application/json";
const std::string kText = "text/plain";

std::string JsonPath(const std::wstring& path) {
    std::string text;
    for (const char ch : WideToUtf8(path)) {
        text += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    }
    return text;
}

std::string StartedBody(int id, const std::string& name) {
    return "{\"success\":true,\"message\":\"Download started\",\"task_id\":" + std::to_string(id) +
           ",\"name\":\"" + name + "\"}";
}

std::string Post(const std::string& target, const std::string& body, const std::string& extraHeaders = "") {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kUpdated = "{\"success\":true,\"message\":\"Configuration updated\"}";
const std::string kForbiddenHost = "{\"success\":false,\"message\":\"Forbidden host\"}";
const std::string kForbiddenOrigin = "{\"success\":false,\"message\":\"Forbidden origin\"}";
const std::string kMissing = "{\"success\":false,\"message\":\"Missing url or name parameter\"}";

class ApiServer : public ::testing::Test {
  protected:
    void StartProgram() {
        port_ = PickFreePort();
        ASSERT_NE(port_, 0);
        settings_.port = port_;
        settings_.downloadDir = program_.directory() + L"\\downloads";
        settings_.devDir = program_.directory() + L"\\\x5F00\x53D1";  // a Chinese folder name
        program_.WriteSettings(settings_);
        ASSERT_TRUE(program_.Start());
        ASSERT_TRUE(WaitForPortOpen(port_, kServerStartMs));
    }

    std::string Get(const std::string& target) { return HttpExchange(port_, SimpleGet(target)); }
    std::string Send(const std::string& request) { return HttpExchange(port_, request); }

    std::string StatusBody(int port, bool autoExtract, bool autoCopy, int taskCount) const {
        return "{\"success\":true,\"port\":" + std::to_string(port) + ",\"downloadDir\":\"" +
               JsonPath(settings_.downloadDir) + "\",\"devDir\":\"" + JsonPath(settings_.devDir) +
               "\",\"autoExtract\":" + (autoExtract ? "true" : "false") +
               ",\"autoCopyToDev\":" + (autoCopy ? "true" : "false") +
               ",\"maxConcurrentDownloads\":3,\"taskCount\":" + std::to_string(taskCount) + "}";
    }

    std::string ConfigFileText() const { return ReadFileBytes(program_.configPath()); }

    TarnProgram program_;
    ProgramSettings settings_;
    int port_ = 0;
};

TEST_F(ApiServer, StatusAndConfigReadRepliesExactly) {
    StartProgram();
    const std::string expected = ExpectedReply(200, kJson, StatusBody(port_, true, true, 0));
    EXPECT_EQ(Get("/api/status"), expected);
    EXPECT_EQ(Get("/api/config"), expected);
    EXPECT_EQ(Get("/api/statusXYZ?x=1"), expected);
    // A request line alone, no header lines, any method.
    EXPECT_EQ(Send("GET /api/status HTTP/1.1\r\n\r\n"), expected);
    EXPECT_EQ(Send("DELETE /api/config HTTP/1.0\r\n\r\n"), expected);
    // A pinned literal, so a fault shared by the program and ExpectedReply still shows.
    const std::string reply = Get("/api/tasks");
    EXPECT_EQ(reply,
              "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 12\r\n"
              "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
              "Access-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n\r\n{\"tasks\":[]}");
}

TEST_F(ApiServer, RoutingErrorsAndPreflight) {
    StartProgram();
    EXPECT_EQ(Get("/nothing"), ExpectedReply(404, kText, "Not Found"));
    EXPECT_EQ(Get("/index.htm"), ExpectedReply(404, kText, "Not Found"));
    EXPECT_EQ(Get("/api"), ExpectedReply(404, kText, "Not Found"));
    EXPECT_EQ(Send("GARBAGE\r\n\r\n"), ExpectedReply(400, kText, "Bad Request"));
    EXPECT_EQ(Send("GET /api/status\r\n\r\n"), ExpectedReply(400, kText, "Bad Request"));
    EXPECT_EQ(Send("OPTIONS /whatever HTTP/1.1\r\nHost: localhost\r\n\r\n"), ExpectedReply(200, kText, ""));
    EXPECT_EQ(Send("OPTIONS /api/download?url=u&name=n HTTP/1.1\r\n\r\n"), ExpectedReply(200, kText, ""));
    // "options" is not the preflight; it is routed like any other method.
    EXPECT_EQ(Send("options /nothing HTTP/1.1\r\n\r\n"), ExpectedReply(404, kText, "Not Found"));
    EXPECT_EQ(Get("/api/download/abc"), ExpectedReply(400, kJson, kMissing));

    const std::string page = Get("/");
    EXPECT_EQ(page.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(page.find("\r\nContent-Type: text/html; charset=utf-8\r\n"), std::string::npos);
    EXPECT_EQ(page, Get("/index.html"));
    EXPECT_EQ(page, Send("POST /index.html HTTP/1.1\r\n\r\n"));
    const std::string body = ReplyBody(page);
    EXPECT_EQ(body.substr(777, 5 + std::to_string(port_).size()), std::to_string(port_) + "</p><");
    EXPECT_EQ(body.find("Recent Tasks"), std::string::npos);
    const std::string tail = "<span>Auto Copy to Dev:</span> Yes</p></div></body></html>";
    ASSERT_GE(body.size(), tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
}

TEST_F(ApiServer, DownloadCreatesTasksAndRefusesActiveDuplicates) {
    // The first download stays in progress (a body that trickles in), so the repeated request
    // meets it while it is still active; the others have URLs the worker rejects at once.
    TestHttpServer held;
    TestResponse trickle{200, std::string(200 * 1024, 'x')};
    trickle.announcedLength = 100 * 1024 * 1024;
    trickle.pieceBytes = 1024;
    trickle.pauseMs = 100;
    held.Serve("/a%20b.zip", trickle);
    const std::string heldUrl = "http://127.0.0.1:" + std::to_string(held.port()) + "/a%2520b.zip";
    StartProgram();
    EXPECT_EQ(Get("/api/download?name=n"), ExpectedReply(400, kJson, kMissing));
    EXPECT_EQ(Get("/api/download?url=u&name="), ExpectedReply(400, kJson, kMissing));
    EXPECT_EQ(Get("/api/tasks"), ExpectedReply(200, kJson, "{\"tasks\":[]}"));

    EXPECT_EQ(Get("/api/download?url=" + heldUrl + "&name=x+y"),
              ExpectedReply(200, kJson, StartedBody(0, "x y")));
    EXPECT_EQ(
        Get("/api/download?url=" + heldUrl + "&name=x+y&cat=c"),
        ExpectedReply(200, kJson, "{\"success\":true,\"message\":\"Task already exists\",\"name\":\"x y\"}"));
    // Same name, other URL: a new task. Names are cleaned into one safe file name.
    EXPECT_EQ(Get("/api/download?url=u2&name=x+y"), ExpectedReply(200, kJson, StartedBody(1, "x y")));
    EXPECT_EQ(Get("/api/download?url=u3&name=..%5Cevil%2Fname"),
              ExpectedReply(200, kJson, StartedBody(2, ".._evil_name")));
    // %zz is a 0 byte and becomes "_"; a % with one character after it at the end stays as it is.
    EXPECT_EQ(Get("/api/download?url=u4&name=a%zzb%4"), ExpectedReply(200, kJson, StartedBody(3, "a_b%4")));
    // A form body overrides the query.
    EXPECT_EQ(Send(Post("/api/download?url=u5&name=y", "name=z")),
              ExpectedReply(200, kJson, StartedBody(4, "z")));

    const std::string expectedTasks =
        "{\"tasks\":[{\"id\":0,\"name\":\"x y\",\"status\":\"downloading\",\"progress\":0,\"error\":\"\"},"
        "{\"id\":1,\"name\":\"x y\",\"status\":\"failed\",\"progress\":0,\"error\":\"Invalid URL format\"},"
        "{\"id\":2,\"name\":\".._evil_name\",\"status\":\"failed\",\"progress\":0,\"error\":\"Invalid URL "
        "format\"},"
        "{\"id\":3,\"name\":\"a_b%4\",\"status\":\"failed\",\"progress\":0,\"error\":\"Invalid URL format\"},"
        "{\"id\":4,\"name\":\"z\",\"status\":\"failed\",\"progress\":0,\"error\":\"Invalid URL format\"}]}";
    std::string tasks;
    for (DWORD start = GetTickCount(); GetTickCount() - start < kWorkersSettleMs; Sleep(50)) {
        tasks = ReplyBody(Get("/api/tasks"));
        if (tasks == expectedTasks) {
            break;
        }
    }
    EXPECT_EQ(tasks, expectedTasks);
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(port_, true, true, 5)));

    const std::string page = ReplyBody(Get("/"));
    EXPECT_NE(page.find("<h3>Recent Tasks</h3><table><tr><th>Name</th><th>Status</th><th>Progress</th></tr>"
                        "<tr><td>x y</td><td>Downloading</td><td>0%</td></tr>"
                        "<tr><td>x y</td><td>Failed</td><td>0%</td></tr>"
                        "<tr><td>.._evil_name</td><td>Failed</td><td>0%</td></tr>"),
              std::string::npos);
    // Nothing was written outside the download directory.
    EXPECT_FALSE(FileExists(program_.directory() + L"\\evil"));
}

// Each download request brings the download window forward from the server thread; that must
// never make a second window (one without a message loop).
TEST_F(ApiServer, DownloadRequestsKeepOneDownloadWindow) {
    StartProgram();
    HWND window = nullptr;
    for (int i = 0; i < 250 && !window; ++i) {
        window = FindProcessWindow(program_.processId(), L"TarnDownloadWnd");
        Sleep(20);
    }
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 3; ++i) {
        const std::string name = "t" + std::to_string(i);
        ASSERT_EQ(Get("/api/download?url=u&name=" + name), ExpectedReply(200, kJson, StartedBody(i, name)));
    }
    // Let anything posted to the window's thread run first.
    SendMessageW(window, WM_NULL, 0, 0);
    int downloadWindows = 0;
    for (HWND candidate : ProcessWindows(program_.processId())) {
        downloadWindows += WindowClassName(candidate) == L"TarnDownloadWnd" ? 1 : 0;
    }
    EXPECT_EQ(downloadWindows, 1);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(ApiServer, BodyAndHeadersArrivingInLaterSegments) {
    StartProgram();
    RawSendOptions paused;
    paused.pauseMs = 300;
    // Body in a second segment.
    RawExchange split = ExchangeRaw(
        port_, {"POST /api/download?name=q HTTP/1.1\r\nContent-Length: 12\r\n\r\n", "url=u&name=b"}, paused);
    EXPECT_EQ(split.reply, ExpectedReply(200, kJson, StartedBody(0, "b")));
    // The header block itself cut in the middle of the Content-Length line.
    split = ExchangeRaw(
        port_, {"POST /api/download HTTP/1.1\r\nConte", "nt-Length: 12\r\n", "\r\nurl=v&name=c"}, paused);
    EXPECT_EQ(split.reply, ExpectedReply(200, kJson, StartedBody(1, "c")));
    // A header name in another capitalisation still makes the server wait for the body.
    split = ExchangeRaw(port_, {"POST /api/download HTTP/1.1\r\nCONTENT-LENGTH: 12\r\n\r\n", "url=w&name=d"},
                        paused);
    EXPECT_EQ(split.reply, ExpectedReply(200, kJson, StartedBody(2, "d")));
}

TEST_F(ApiServer, ShortBodyIsRefusedAndChangesNothing) {
    StartProgram();
    const std::string configBefore = ConfigFileText();
    // The client keeps the connection open: the wait ends at the receive timeout.
    RawExchange open =
        ExchangeRaw(port_, {"POST /api/config HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"port\":9000}"});
    EXPECT_EQ(open.reply, ExpectedReply(400, kText, "Bad Request"));
    EXPECT_GE(open.elapsedMs, 2500u);
    EXPECT_LE(open.elapsedMs, 9000u);
    // The client closes its side early: refused at once.
    RawSendOptions closing;
    closing.closeSendSide = true;
    RawExchange closed = ExchangeRaw(
        port_, {"POST /api/download HTTP/1.1\r\nContent-Length: 50\r\n\r\nurl=u&name=n"}, closing);
    EXPECT_EQ(closed.reply, ExpectedReply(400, kText, "Bad Request"));
    EXPECT_LE(closed.elapsedMs, 2000u);

    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(port_, true, true, 0)));
    EXPECT_EQ(ConfigFileText(), configBefore);
}

TEST_F(ApiServer, OversizedRequestsGetAnAnswerAndTheServerGoesOn) {
    StartProgram();
    const std::string bigBody(200000, 'a');
    EXPECT_EQ(Send(Post("/api/download", bigBody)), ExpectedReply(413, kText, "Payload Too Large"));
    // A header block that never ends within the limit.
    EXPECT_EQ(Send("GET /api/status HTTP/1.1\r\nX: " + std::string(140000, 'b')),
              ExpectedReply(413, kText, "Payload Too Large"));
    // Exactly at the limit is still served.
    const std::string head = "POST /api/download HTTP/1.1\r\nContent-Length: ";
    std::string body = "url=u&name=n&pad=";
    const size_t fixed = head.size() + 6 + 4 + body.size();
    body += std::string(131071 - fixed, 'p');
    const std::string atLimit = head + std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_EQ(atLimit.size(), 131071u);
    EXPECT_EQ(Send(atLimit), ExpectedReply(200, kJson, StartedBody(0, "n")));
    EXPECT_EQ(Get("/nothing"), ExpectedReply(404, kText, "Not Found"));
}

TEST_F(ApiServer, ConfigurationRouteRules) {
    StartProgram();
    // Only the port: both options switch off, the file is rewritten, the server stays where it is.
    EXPECT_EQ(Send(Post("/api/config", "{\"port\": 9000}", "Content-Type: application/json\r\n")),
              ExpectedReply(200, kJson, kUpdated));
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(9000, false, false, 0)));
    std::string file = ConfigFileText();
    EXPECT_NE(file.find(Utf16LeBytes(L"Port=9000\r\n")), std::string::npos);
    EXPECT_NE(file.find(Utf16LeBytes(L"AutoExtract=0\r\n")), std::string::npos);
    EXPECT_NE(file.find(Utf16LeBytes(L"AutoCopyToDev=0\r\n")), std::string::npos);
    EXPECT_NE(file.find(Utf16LeBytes(L"DevDir=" + settings_.devDir + L"\r\n")), std::string::npos);

    // Out-of-range ports change nothing else than the options.
    for (const char* port : {"0", "65536", "-1", "\"abc\"", "99999999999999999999"}) {
        EXPECT_EQ(Send(Post("/api/config", std::string("{\"port\":") + port + ",\"autoExtract\":true}")),
                  ExpectedReply(200, kJson, kUpdated))
            << port;
        EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(9000, true, false, 0))) << port;
    }

    // New directories (JSON escapes decoded) are created and written to the file.
    settings_.downloadDir = program_.directory() + L"\\new dl\\\x4E0B\x8F7D";
    settings_.devDir = program_.directory() + L"\\new dev";
    const std::string body = "{\"downloadDir\":\"" + JsonPath(settings_.downloadDir) + "\",\"devDir\":\"" +
                             JsonPath(settings_.devDir) +
                             "\",\"autoExtract\":1,\"autoCopyToDev\":\"true\",\"port\":65535}";
    EXPECT_EQ(Send(Post("/api/config", body)), ExpectedReply(200, kJson, kUpdated));
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(65535, true, true, 0)));
    EXPECT_TRUE(DirectoryExists(settings_.downloadDir));
    EXPECT_TRUE(DirectoryExists(settings_.devDir));
    file = ConfigFileText();
    EXPECT_NE(file.find(Utf16LeBytes(L"DownloadDir=" + settings_.downloadDir + L"\r\n")), std::string::npos);

    // No JSON at all: both options off, everything else kept. JSON in the query when the body is empty.
    EXPECT_EQ(Send(Post("/api/config", "")), ExpectedReply(200, kJson, kUpdated));
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(65535, false, false, 0)));
    EXPECT_EQ(Send("POST /api/config?{\"autoCopyToDev\":true} HTTP/1.1\r\n\r\n"),
              ExpectedReply(200, kJson, kUpdated));
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(65535, false, true, 0)));
}

// Clients write Windows paths with single backslashes, which JSON reads as escapes ("\t", "\n") or
// cannot read ("\M"); a value that cannot be applied is refused by name and nothing is applied.
TEST_F(ApiServer, DirectoriesAreTakenAsClientsWriteThemOrRefusedByName) {
    StartProgram();
    const std::string base = WideToUtf8(program_.directory());
    EXPECT_EQ(Send(Post("/api/config", "{\"downloadDir\":\"" + base + "\\tools\\new\",\"devDir\":\"" + base +
                                           "\\Music\\\",\"autoExtract\":true}")),
              ExpectedReply(200, kJson, kUpdated));
    settings_.downloadDir = program_.directory() + L"\\tools\\new";
    settings_.devDir = program_.directory() + L"\\Music";
    const std::string status = ExpectedReply(200, kJson, StatusBody(port_, true, false, 0));
    EXPECT_EQ(Get("/api/status"), status);
    EXPECT_TRUE(DirectoryExists(settings_.downloadDir));

    const std::string fileBefore = ConfigFileText();
    const std::string tail = ",\"autoCopyToDev\":true,\"port\":9000}";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"{\"downloadDir\":\"relative\\\\dir\"" + tail, "downloadDir"},
        {"{\"downloadDir\":\"D\"" + tail, "downloadDir"},
        {"{\"downloadDir\":\"D:\"" + tail, "downloadDir"},
        {"{\"devDir\":\"\\\\\\\\server\"" + tail, "devDir"},
        // Shares and device paths, which the system would reach out to at once.
        {"{\"devDir\":\"\\\\\\\\server\\\\share\"" + tail, "devDir"},
        {"{\"downloadDir\":\"\\\\\\\\10.0.0.5\\\\c$\\\\x\"" + tail, "downloadDir"},
        {"{\"downloadDir\":\"\\\\\\\\?\\\\C:\\\\x\"" + tail, "downloadDir"},
        {"{\"devDir\":\"\\\\\\\\.\\\\C:\\\\x\"" + tail, "devDir"},
        {"{\"devDir\":\"\\\\\\\\?\\\\UNC\\\\server\\\\share\"" + tail, "devDir"},
        {"{\"devDir\":\"C:\\\\" + std::string(300, 'x') + "\"" + tail, "devDir"},
        // Raw line breaks would add lines, and keys, to the settings file.
        {"{\"devDir\":\"C:\\\\x\r\nPort=1\"" + tail, "devDir"},
        // One usable directory does not make a request with an unusable one half-applied.
        {"{\"downloadDir\":\"" + base + "\\\\elsewhere\",\"devDir\":\"dev\"" + tail, "devDir"},
    };
    for (const auto& [body, key] : refused) {
        EXPECT_EQ(Send(Post("/api/config", body)),
                  ExpectedReply(400, kJson, "{\"success\":false,\"message\":\"Invalid " + key + "\"}"))
            << body;
    }
    EXPECT_EQ(Get("/api/status"), status);
    EXPECT_EQ(ConfigFileText(), fileBefore);
}

// A settings file written in the ANSI code page (by hand, or by an older program) keeps every line
// and takes a directory that code page cannot hold, across a restart.
TEST_F(ApiServer, AnAnsiSettingsFileTakesAChineseDirectoryAcrossARestart) {
    port_ = PickFreePort();
    ASSERT_NE(port_, 0);
    const std::string base = WideToUtf8(program_.directory());
    ASSERT_TRUE(WriteFileBytes(
        program_.configPath(),
        "; written by hand\r\n[Settings]\r\nPort=" + std::to_string(port_) + "\r\nDownloadDir=" + base +
            "\\downloads\r\nDevDir=" + base +
            "\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\nNote=kept\r\n[Other]\r\nKey=value\r\n"));
    ASSERT_TRUE(program_.Start());
    ASSERT_TRUE(WaitForPortOpen(port_, kServerStartMs));
    settings_.downloadDir = program_.directory() + L"\\downloads";
    settings_.devDir = program_.directory() + L"\\\x5F00\x53D1";
    EXPECT_EQ(Send(Post("/api/config", "{\"devDir\":\"" + JsonPath(settings_.devDir) +
                                           "\",\"autoExtract\":true,\"autoCopyToDev\":true}")),
              ExpectedReply(200, kJson, kUpdated));
    ASSERT_TRUE(program_.RequestExit());
    DWORD exitCode = 0;
    ASSERT_TRUE(program_.WaitForExit(kExitWaitMs, &exitCode));

    ASSERT_TRUE(program_.Start());
    ASSERT_TRUE(WaitForPortOpen(port_, kServerStartMs));
    EXPECT_EQ(Get("/api/status"), ExpectedReply(200, kJson, StatusBody(port_, true, true, 0)));
    const std::string file = ConfigFileText();
    EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");
    for (const wchar_t* line :
         {L"; written by hand\r\n", L"Note=kept\r\n", L"[Other]\r\n", L"Key=value\r\n"}) {
        EXPECT_NE(file.find(Utf16LeBytes(line)), std::string::npos) << WideToUtf8(line);
    }
}

TEST_F(ApiServer, ForeignHostIsRefusedOnEveryRoute) {
    StartProgram();
    const std::string refused = ExpectedReply(403, kJson, kForbiddenHost);
    for (const char* host : {"evil.example", "127.0.0.1.evil.example", "evil.example:", "localhostx", ""}) {
        const std::string headers = std::string("Host: ") + host + "\r\n";
        EXPECT_EQ(Send("GET /api/status HTTP/1.1\r\n" + headers + "\r\n"), refused) << host;
        EXPECT_EQ(Send("OPTIONS /api/config HTTP/1.1\r\n" + headers + "\r\n"), refused) << host;
        EXPECT_EQ(Send("GET / HTTP/1.1\r\n" + headers + "\r\n"), refused) << host;
    }
    EXPECT_EQ(
        Send("GET /api/download?url=u&name=n HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n\r\n"),
        refused);
    EXPECT_EQ(ReplyBody(Get("/api/tasks")), "{\"tasks\":[]}");

    const std::string port = std::to_string(port_);
    for (const std::string& host :
         {"127.0.0.1:" + port, "localhost:" + port, std::string("LOCALHOST"), "[::1]:" + port}) {
        EXPECT_EQ(Send("GET /api/tasks HTTP/1.1\r\nHost: " + host + "\r\n\r\n"),
                  ExpectedReply(200, kJson, "{\"tasks\":[]}"))
            << host;
    }
}

TEST_F(ApiServer, ForeignSitesCannotChangeStateOrReadIt) {
    StartProgram();
    const std::string configBefore = ConfigFileText();
    const std::string refused = ExpectedReply(403, kJson, kForbiddenOrigin);
    const std::string status = ExpectedReply(200, kJson, StatusBody(port_, true, true, 0));
    for (const char* origin : {"http://evil.example", "null", "http://assets.tarn.example.evil.example"}) {
        const std::string header = std::string("Origin: ") + origin + "\r\n";
        EXPECT_EQ(Send(Post("/api/config", "{\"port\":9000}", header)), refused) << origin;
        EXPECT_EQ(Send("GET /api/download?url=u&name=n HTTP/1.1\r\n" + header + "\r\n"), refused) << origin;
        EXPECT_EQ(Send(Post("/api/download", "url=u&name=n", header)), refused) << origin;
        // A page's fetch could read the user's directories and every task's name and error.
        for (const char* target : {"/api/status", "/api/config", "/api/tasks", "/"}) {
            EXPECT_EQ(Send(std::string("GET ") + target + " HTTP/1.1\r\n" + header + "\r\n"), refused)
                << origin << target;
        }
        EXPECT_EQ(Send("OPTIONS /api/config HTTP/1.1\r\n" + header + "\r\n"), ExpectedReply(200, kText, ""));
    }
    // What a browser sends for <img src> or a link on another site: no Origin, only its mark.
    for (const char* referer : {"", "Referer: http://evil.example/page\r\n",
                                "Referer: http://assets.tarn.example.evil.example/\r\n"}) {
        for (const char* site : {"cross-site", "same-site", "Cross-Site"}) {
            const std::string headers = std::string("Sec-Fetch-Site: ") + site + "\r\n" + referer;
            EXPECT_EQ(Send("GET /api/download?url=u&name=n HTTP/1.1\r\n" + headers + "\r\n"), refused)
                << headers;
            EXPECT_EQ(Send(Post("/api/config", "{\"port\":9000}", headers)), refused) << headers;
            EXPECT_EQ(Send("GET /api/status HTTP/1.1\r\n" + headers + "\r\n"), status) << headers;
        }
    }
    EXPECT_EQ(ConfigFileText(), configBefore);
    EXPECT_EQ(ReplyBody(Get("/api/tasks")), "{\"tasks\":[]}");

    EXPECT_EQ(Send("GET /api/download?url=u&name=a HTTP/1.1\r\nOrigin: http://assets.tarn.example\r\n"
                   "Sec-Fetch-Site: cross-site\r\n\r\n"),
              ExpectedReply(200, kJson, StartedBody(0, "a")));
    EXPECT_EQ(Send("GET /api/download?url=u&name=b HTTP/1.1\r\nOrigin: https://assets.tarn.example\r\n\r\n"),
              ExpectedReply(200, kJson, StartedBody(1, "b")));
    // A browser's request carries Fetch Metadata: without an Origin it changes nothing, whatever
    // its Referer says and whether a page or a mail program's link sent it. Nor does the program's
    // own download, which a redirect or a name for the loopback could lead here.
    const std::string statusWithTwo = ExpectedReply(200, kJson, StatusBody(port_, true, true, 2));
    for (const char* headers :
         {"Sec-Fetch-Site: cross-site\r\nReferer: https://assets.tarn.example/packs?id=3\r\n",
          "Sec-Fetch-Site: none\r\n", "Sec-Fetch-Site: same-origin\r\n", "User-Agent: TarnDownloader/1.0\r\n",
          "Origin: http://assets.tarn.example\r\nUser-Agent: TarnDownloader/1.0\r\n"}) {
        EXPECT_EQ(Send(std::string("GET /api/download?url=u&name=c HTTP/1.1\r\n") + headers + "\r\n"),
                  refused)
            << headers;
        EXPECT_EQ(Send(Post("/api/config", "{\"autoExtract\":false}", headers)), refused) << headers;
        EXPECT_EQ(Send(std::string("GET /api/status HTTP/1.1\r\n") + headers + "\r\n"), statusWithTwo)
            << headers;
    }
    EXPECT_EQ(Send("GET /api/download?url=u&name=c HTTP/1.1\r\nUser-Agent: curl/8.5.0\r\n\r\n"),
              ExpectedReply(200, kJson, StartedBody(2, "c")));
    const std::string self = "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\n";
    EXPECT_EQ(Send(Post("/api/config", "{\"autoExtract\":true}", self + "Sec-Fetch-Site: same-origin\r\n")),
              ExpectedReply(200, kJson, kUpdated));
    EXPECT_EQ(Send("GET /api/status HTTP/1.1\r\n" + self + "\r\n"),
              ExpectedReply(200, kJson, StatusBody(port_, true, false, 3)));
}

TEST_F(ApiServer, SurvivesThousandsOfHostileRequests) {
    StartProgram();
    std::mt19937 random(20261208);
    const std::vector<std::string> seeds = {
        SimpleGet("/api/status"),
        SimpleGet("/api/tasks?x=%zz%"),
        "OPTIONS * HTTP/1.1\r\n\r\n",
        Post("/api/download?url=u", "name=%%%&url=%41"),
        SimpleGet("/"),
        "GET /api/download?url=a&name=" + std::string(3000, '%') + " HTTP/1.1\r\n\r\n",
        "POST /api/tasks HTTP/1.1\r\nContent-Length: -7\r\nContent-Length: 99999999999999999999\r\n\r\nxx",
        "GET /\xff\xfe\x00\x01 HTTP/1.1\r\n\r\n"};
    const int kRequests = 2500;
    int answered = 0;
    for (int i = 0; i < kRequests; ++i) {
        std::string request = seeds[random() % seeds.size()];
        const int mode = static_cast<int>(random() % 4);
        if (mode == 0) {
            request.assign(random() % 400, '\0');
            for (char& ch : request) {
                ch = static_cast<char>(random() % 256);
            }
        } else if (mode == 1) {
            for (int flips = static_cast<int>(random() % 8); flips >= 0 && !request.empty(); --flips) {
                request[random() % request.size()] = static_cast<char>(random() % 256);
            }
        } else if (mode == 2 && !request.empty()) {
            request.resize(random() % request.size());
        }
        RawSendOptions options;
        options.closeSendSide = true;
        options.readTimeoutMs = 15000;
        const RawExchange exchange = ExchangeRaw(port_, {request}, options);
        ASSERT_TRUE(exchange.connected) << "request " << i;
        ASSERT_TRUE(exchange.closedByServer) << "request " << i;
        if (!exchange.reply.empty()) {
            ASSERT_EQ(exchange.reply.substr(0, 9), "HTTP/1.1 ") << "request " << i;
            ++answered;
        }
    }
    EXPECT_GT(answered, kRequests / 2);
    EXPECT_EQ(Get("/nothing"), ExpectedReply(404, kText, "Not Found"));
    EXPECT_EQ(Send("OPTIONS / HTTP/1.1\r\n\r\n"), ExpectedReply(200, kText, ""));
    DWORD exitCode = 0;
    EXPECT_FALSE(program_.WaitForExit(0, &exitCode));
}

TEST_F(ApiServer, TricklingClientCannotHoldTheServer) {
    StartProgram();
    struct WinsockSession {
        WinsockSession() {
            WSADATA data;
            WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~WinsockSession() { WSACleanup(); }
    } winsock;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port_));
    // First a client that connects and never sends: it is dropped after the first-data wait.
    UniqueSocket silent(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(connect(silent.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    UniqueSocket slow(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(connect(slow.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const std::string start = "GET /api/tasks HTTP/1.1\r\n";
    send(slow.get(), start.data(), static_cast<int>(start.size()), 0);
    const DWORD begin = GetTickCount();
    // One header byte every second, never ending the header block, until the server answers.
    std::string reply;
    while (GetTickCount() - begin < 30000) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(slow.get(), &readSet);
        timeval wait = {1, 0};
        if (select(0, &readSet, nullptr, nullptr, &wait) == 1) {
            char buffer[4096];
            const int count = recv(slow.get(), buffer, sizeof(buffer), 0);
            if (count <= 0) {
                break;
            }
            reply.append(buffer, static_cast<size_t>(count));
            continue;
        }
        send(slow.get(), "X", 1, 0);
    }
    const DWORD elapsed = GetTickCount() - begin;
    EXPECT_EQ(reply, ExpectedReply(200, kJson, "{\"tasks\":[]}"));
    // The trickle's deadline starts once the silent client was dropped.
    EXPECT_GE(elapsed, 8000u);
    EXPECT_LE(elapsed, 16000u);
    char byte = 0;
    EXPECT_EQ(recv(silent.get(), &byte, 1, 0), 0);
    EXPECT_EQ(Get("/nothing"), ExpectedReply(404, kText, "Not Found"));
}

// How fast the server thread notices the cleared flag is measured in process (server_thread_test);
// here the whole program must end cleanly and free the port. Its exit time is dominated by Wine
// under Xvfb without a window manager, which waits about 2 s for each visible window it hides.
TEST_F(ApiServer, ExitEndsTheServerAndFreesThePort) {
    StartProgram();
    ASSERT_EQ(Get("/nothing"), ExpectedReply(404, kText, "Not Found"));
    ASSERT_TRUE(program_.RequestExit());
    DWORD exitCode = 1;
    ASSERT_TRUE(program_.WaitForExit(kExitWaitMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(WaitForPortOpen(port_, 200));
}

// The start-up error box ("启动失败") the program shows, or null.
HWND FindErrorBox(DWORD processId) {
    for (HWND window : ProcessWindows(processId)) {
        if (WindowText(window) == L"\x542F\x52A8\x5931\x8D25") {
            return window;
        }
    }
    return nullptr;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (_wcsicmp(className, L"Static") == 0) {
        wchar_t text[256] = {};
        GetWindowTextW(child, text, 256);
        reinterpret_cast<std::wstring*>(param)->append(text);
    }
    return TRUE;
}

TEST(ApiServerStart, PortInUseIsReportedAndExitStillWorks) {
    struct WinsockSession {
        WinsockSession() {
            WSADATA data;
            WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~WinsockSession() { WSACleanup(); }
    } winsock;
    const int port = PickFreePort();
    UniqueSocket occupant(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    ASSERT_EQ(bind(occupant.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(occupant.get(), 1), 0);

    TarnProgram program;
    ProgramSettings settings;
    settings.port = port;
    program.WriteSettings(settings);
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForTrayWindow(kServerStartMs));
    HWND errorBox = nullptr;
    for (int i = 0; i < 300 && !errorBox; ++i) {
        Sleep(50);
        errorBox = FindErrorBox(program.processId());
    }
    ASSERT_NE(errorBox, nullptr);
    // The box exists, with its caption, before its text is set: wait for what is read.
    std::wstring text;
    for (int i = 0; i < 300 && text.empty(); ++i) {
        if (IsWindowVisible(errorBox)) {
            EnumChildWindows(errorBox, CollectStaticText, reinterpret_cast<LPARAM>(&text));
        }
        if (text.empty()) {
            Sleep(50);
        }
    }
    EXPECT_EQ(text,
              L"\x7AEF\x53E3 " + std::to_wstring(port) +
                  L" \x5DF2\x88AB\x5360\x7528\n\x8BF7\x4FEE\x6539\x914D\x7F6E\x6216\x5173\x95ED\x51B2\x7A81"
                  L"\x7A0B\x5E8F");
    // The box is still open: the exit must not wait for it.
    ASSERT_TRUE(program.RequestExit());
    DWORD exitCode = 1;
    EXPECT_TRUE(program.WaitForExit(kExitWaitMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
