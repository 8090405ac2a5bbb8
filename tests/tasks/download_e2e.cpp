#include "tests/support/net_util.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kTaskTimeoutMs = 60000;
constexpr DWORD kPollMs = 100;

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' ||
            ch == '_' || ch == '.') {
            out.push_back(static_cast<char>(ch));
        } else {
            out += '%';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
    }
    return out;
}

std::string Get(int port, const std::string& target) {
    return ReplyBody(HttpExchange(port, SimpleGet(target)));
}

// The /api/tasks text once no task is queued, pending or in a stage any more.
std::string WaitForTasksToSettle(int port) {
    const DWORD start = GetTickCount();
    std::string tasks;
    while (GetTickCount() - start < kTaskTimeoutMs) {
        tasks = Get(port, "/api/tasks");
        if (tasks.find("\"status\":\"") != std::string::npos &&
            tasks.find("\"pending\"") == std::string::npos && tasks.find("\"queued\"") == std::string::npos &&
            tasks.find("\"downloading\"") == std::string::npos &&
            tasks.find("\"extracting\"") == std::string::npos &&
            tasks.find("\"copying\"") == std::string::npos) {
            return tasks;
        }
        Sleep(kPollMs);
    }
    return tasks;
}

}  // namespace

TEST(DownloadE2e, ApiDownloadFilesTheAssetsAndARepeatFindsThemInPlace) {
    TestHttpServer server;
    server.Serve("/packs/pack%20one.zip", TestResponse{200, MakeStoredZip({{"sfx_fire.png", "fire"},
                                                                           {"monster_01/", ""},
                                                                           {"monster_01/body.ani", "monster"},
                                                                           {"level1.map", "map"}})});
    TarnProgram program;
    ProgramSettings settings;
    settings.port = PickFreePort();
    program.WriteSettings(settings);
    ASSERT_TRUE(CopyTestSevenZip(program.directory() + L"\\7za.exe"));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForPortOpen(settings.port, kStartTimeoutMs));
    const std::string target = "/api/download?url=" + PercentEncode(server.UrlUtf8("/packs/pack%20one.zip")) +
                               "&name=" + PercentEncode("礼包 it's") + "&cat=anim";

    EXPECT_EQ(Get(settings.port, target),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":0,\"name\":\"礼包 it's\"}");
    EXPECT_EQ(WaitForTasksToSettle(settings.port),
              "{\"tasks\":[{\"id\":0,\"name\":\"礼包 "
              "it's\",\"status\":\"completed\",\"progress\":100,\"error\":\"\"}]}");
    const std::wstring dev = program.directory() + L"\\dev";
    EXPECT_EQ(ReadFileBytes(dev + L"\\anim\\effect\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(dev + L"\\anim\\monster\\monster_01\\body.ani"), "monster");
    EXPECT_EQ(ReadFileBytes(dev + L"\\scene\\map\\level1.map"), "map");
    EXPECT_FALSE(DirectoryExists(program.directory() + L"\\downloads\\礼包 it's"));

    // The same request once the first task has finished makes a second task, whose entries all
    // exist already.
    EXPECT_EQ(Get(settings.port, target),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":1,\"name\":\"礼包 it's\"}");
    const std::string tasks = WaitForTasksToSettle(settings.port);
    EXPECT_NE(tasks.find("{\"id\":1,\"name\":\"礼包 it's\",\"status\":\"already_exists\",\"progress\":100,"
                         "\"error\":\"\"}"),
              std::string::npos)
        << tasks;
    EXPECT_EQ(ReadFileBytes(dev + L"\\anim\\effect\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(program.directory() + L"\\downloads\\礼包 it's\\sfx_fire.png"), "fire");

    EXPECT_EQ(Get(settings.port,
                  "/api/download?url=" + PercentEncode(server.UrlUtf8("/missing.zip")) + "&name=gone"),
              "{\"success\":true,\"message\":\"Download started\",\"task_id\":2,\"name\":\"gone\"}");
    EXPECT_NE(WaitForTasksToSettle(settings.port)
                  .find("{\"id\":2,\"name\":\"gone\",\"status\":\"failed\",\"progress\":0,\"error\":\"HTTP "
                        "404 error\"}"),
              std::string::npos);
    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.Requests()[0].substr(0, server.Requests()[0].find("\r\n")),
              "GET /packs/pack%20one.zip HTTP/1.1");
}

// Helper programs are started from their installed places. A powershell.exe in the program's own
// folder (which a bare name would find first) must never run; a 7z.exe there is 7-Zip's own.
TEST(DownloadE2e, ExtractorsAreStartedFromTheirInstalledPlacesOnlyAndAFull7ZipIsFound) {
    TestHttpServer server;
    server.Serve("/pack.zip", TestResponse{200, MakeStoredZip({{"sfx_fire.png", "fire"}})});
    TarnProgram program;
    ProgramSettings settings;
    settings.port = PickFreePort();
    settings.autoCopyToDev = false;
    program.WriteSettings(settings);
    const std::wstring folder = program.directory();
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\fake_extractor.exe").c_str(),
                          (folder + L"\\powershell.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\fake_extractor.txt", "0 0\n"));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForPortOpen(settings.port, kStartTimeoutMs));

    Get(settings.port, "/api/download?url=" + PercentEncode(server.UrlUtf8("/pack.zip")) + "&name=planted");
    const std::string tasks = WaitForTasksToSettle(settings.port);
    EXPECT_EQ(ReadFileBytes(folder + L"\\fake_extractor_args.txt"), "") << tasks;
    // Wine's own PowerShell ran instead: it extracts nothing, so the archive is kept.
    EXPECT_EQ(tasks,
              "{\"tasks\":[{\"id\":0,\"name\":\"planted\",\"status\":\"failed\",\"progress\":0,"
              "\"error\":\"Extraction produced no files\"}]}");

    // A full 7-Zip's 7z.exe beside the program (no 7za.exe) extracts, with the same command line.
    ASSERT_TRUE(CopyTestSevenZip(folder + L"\\7z.exe"));
    Get(settings.port, "/api/download?url=" + PercentEncode(server.UrlUtf8("/pack.zip")) + "&name=full7zip");
    EXPECT_NE(
        WaitForTasksToSettle(settings.port)
            .find(
                "{\"id\":1,\"name\":\"full7zip\",\"status\":\"completed\",\"progress\":100,\"error\":\"\"}"),
        std::string::npos);
    EXPECT_EQ(ReadFileBytes(folder + L"\\downloads\\full7zip\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(folder + L"\\fake_extractor_args.txt"), "");
}

namespace {

std::string PostRetry(int port, const std::string& body, const std::string& extraHeaders = std::string()) {
    return HttpExchange(port, "POST /api/retry HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                                  "Content-Type: application/json\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body);
}

// The one file in `folder` (the task's timestamped download), or an empty name.
std::wstring OnlyFileIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW((folder + L"\\*.zip").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    const std::wstring name = found.cFileName;
    const bool more = FindNextFileW(search, &found) != FALSE;
    FindClose(search);
    return more ? std::wstring() : folder + L"\\" + name;
}

}  // namespace

TEST(DownloadE2e, ApiRetryResumesACutDownloadInPlaceAndRefusesWhatItMayNotRetry) {
    TestHttpServer server;
    std::string body(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>((i * 7919) >> 5);
    }
    TestResponse cut{200, body};
    cut.etag = "\"pack-1\"";
    cut.honourRanges = true;
    cut.pieceBytes = 64 * 1024;
    cut.pauseMs = 2;
    cut.resetAfterBytes = static_cast<std::int64_t>(body.size() / 2);
    server.Serve("/big.zip", cut);
    TarnProgram program;
    ProgramSettings settings;
    settings.port = PickFreePort();
    settings.autoExtract = false;
    settings.autoCopyToDev = false;
    program.WriteSettings(settings);
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForPortOpen(settings.port, kStartTimeoutMs));
    const int port = settings.port;
    const std::string json = "application/json";

    EXPECT_EQ(PostRetry(port, "{\"task_id\":0}"),
              ExpectedReply(404, json, "{\"success\":false,\"message\":\"Task not found\"}"));
    Get(port, "/api/download?url=" + PercentEncode(server.UrlUtf8("/big.zip")) + "&name=big");
    const std::string failed = WaitForTasksToSettle(port);
    EXPECT_NE(failed.find("{\"id\":0,\"name\":\"big\",\"status\":\"failed\",\"progress\":0,\"error\":\""),
              std::string::npos)
        << failed;
    const std::wstring file = OnlyFileIn(program.directory() + L"\\downloads");
    ASSERT_FALSE(file.empty());
    const size_t partial = ReadFileBytes(file).size();
    ASSERT_GT(partial, 0u);
    ASSERT_LT(partial, body.size());

    // Refused: a page of another site, a cross-site request, ids that name no task.
    const std::string forbidden =
        ExpectedReply(403, json, "{\"success\":false,\"message\":\"Forbidden origin\"}");
    EXPECT_EQ(PostRetry(port, "{\"task_id\":0}", "Origin: http://evil.example\r\n"), forbidden);
    EXPECT_EQ(PostRetry(port, "{\"task_id\":0}", "Sec-Fetch-Site: cross-site\r\n"), forbidden);
    const std::string invalid =
        ExpectedReply(400, json, "{\"success\":false,\"message\":\"Missing or invalid task_id\"}");
    for (const char* request : {"{}", "{\"task_id\":-1}", "{\"task_id\":0x0}", "{\"task_id\":99999999999}"}) {
        EXPECT_EQ(PostRetry(port, request), invalid) << request;
    }
    EXPECT_EQ(WaitForTasksToSettle(port), failed);

    TestResponse whole{200, body};
    whole.etag = "\"pack-1\"";
    whole.honourRanges = true;
    server.Serve("/big.zip", whole);
    EXPECT_EQ(PostRetry(port, "{\"task_id\": 0 }"),
              ExpectedReply(200, json, "{\"success\":true,\"message\":\"Retry started\",\"task_id\":0}"));
    EXPECT_EQ(
        WaitForTasksToSettle(port),
        "{\"tasks\":[{\"id\":0,\"name\":\"big\",\"status\":\"completed\",\"progress\":100,\"error\":\"\"}]}");
    EXPECT_EQ(OnlyFileIn(program.directory() + L"\\downloads"), file);
    EXPECT_TRUE(ReadFileBytes(file) == body);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE((requests[1] + "\r\n").find("\r\nRange: bytes=" + std::to_string(partial) + "-\r\n"),
              std::string::npos)
        << requests[1];
    EXPECT_NE((requests[1] + "\r\n").find("\r\nIf-Range: \"pack-1\"\r\n"), std::string::npos) << requests[1];
    EXPECT_EQ(
        PostRetry(port, "{\"task_id\":0}"),
        ExpectedReply(409, json, "{\"success\":false,\"message\":\"Only a failed task can be retried\"}"));
}
