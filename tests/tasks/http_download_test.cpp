#include "tasks/http_download.h"

#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Download {
    bool ok = false;
    std::string error;
    std::vector<int> progress;
};

Download Fetch(const std::wstring& url, const std::wstring& path) {
    Download result;
    std::atomic<bool> never{false};
    DownloadResume resume;
    resume.cancel = &never;
    result.ok = DownloadFile(
        url, path, [&result](int percent) { result.progress.push_back(percent); }, result.error, &resume);
    return result;
}

// What the progress reports must be for a body of `size` bytes with a Content-Length: one after
// every full 64 KiB buffer written, then one for the rest.
std::vector<int> ExpectedProgress(std::uint64_t size) {
    std::vector<int> expected;
    for (std::uint64_t done = kDownloadBufferBytes; done <= size; done += kDownloadBufferBytes) {
        expected.push_back(static_cast<int>(done * 100 / size));
    }
    if (size % kDownloadBufferBytes != 0 || size == 0) {
        expected.push_back(100);
    }
    return expected;
}

}  // namespace

TEST(HttpDownload, BodyWithLengthArrivesExactlyWithOneReportPerFullBuffer) {
    TestHttpServer server;
    const std::string body = RandomBytes(1024 * 1024 + 1234, 1);
    server.Serve("/pack.zip?v=2&x=%20", TestResponse{200, body});
    TempDir dir;
    // The directory of the file does not exist yet.
    const std::wstring path = dir / L"new dir\\子目录\\pack.zip";

    const Download result = Fetch(server.Url("/pack.zip?v=2&x=%20"), path);

    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(ReadFileBytes(path) == body);
    EXPECT_EQ(result.progress, ExpectedProgress(body.size()));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /pack.zip?v=2&x=%20 HTTP/1.1");
    EXPECT_NE(requests[0].find("User-Agent: TarnDownloader/1.0\r\n"), std::string::npos) << requests[0];
}

TEST(HttpDownload, ProgressSequencesForExactBufferMultiplesSlowAndEmptyBodies) {
    TestHttpServer server;
    const std::string exact = RandomBytes(4 * kDownloadBufferBytes, 2);
    server.Serve("/exact", TestResponse{200, exact});
    TestResponse slow{200, RandomBytes(300 * 1024, 3)};
    slow.pieceBytes = 7000;  // pieces that never line up with the buffer
    slow.pauseMs = 5;
    server.Serve("/slow", slow);
    server.Serve("/empty", TestResponse{200, ""});
    TempDir dir;

    Download result = Fetch(server.Url("/exact"), dir / L"exact.bin");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.progress, (std::vector<int>{25, 50, 75, 100}));

    result = Fetch(server.Url("/slow"), dir / L"slow.bin");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(ReadFileBytes(dir / L"slow.bin") == slow.body);
    EXPECT_EQ(result.progress, ExpectedProgress(slow.body.size()));

    result = Fetch(server.Url("/empty"), dir / L"empty.bin");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.progress, std::vector<int>{100});
    EXPECT_TRUE(FileExists(dir / L"empty.bin"));
}

TEST(HttpDownload, BodyWithoutLengthReportsOnlyOneHundredAtTheEnd) {
    TestHttpServer server;
    TestResponse response{200, RandomBytes(500 * 1024, 4)};
    response.announcedLength = -2;
    server.Serve("/nolength", response);
    TempDir dir;

    const Download result = Fetch(server.Url("/nolength"), dir / L"a.zip");

    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(ReadFileBytes(dir / L"a.zip") == response.body);
    EXPECT_EQ(result.progress, std::vector<int>{100});
}

TEST(HttpDownload, StatusesOutsideTwoHundredsFailWithTheirCodeAndLeaveAnEmptyFile) {
    TestHttpServer server;
    server.Serve("/broken", TestResponse{500, "server trouble"});
    // A redirect WinHTTP hands back instead of following, and replies that carry no file.
    server.Serve("/moved", TestResponse{300, "<html>choose one</html>"});
    server.Serve("/odd", TestResponse{399, "body of a 399"});
    server.Serve("/empty", TestResponse{204, ""});
    server.Serve("/partial", TestResponse{299, "body of a 299"});
    TempDir dir;

    Download result = Fetch(server.Url("/missing.zip"), dir / L"missing.zip");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "HTTP 404 error");
    EXPECT_TRUE(FileExists(dir / L"missing.zip"));
    EXPECT_EQ(ReadFileBytes(dir / L"missing.zip"), "");
    EXPECT_TRUE(result.progress.empty());

    for (const auto& [path, code] : std::vector<std::pair<std::string, int>>{
             {"/broken", 500}, {"/moved", 300}, {"/odd", 399}, {"/empty", 204}}) {
        const std::wstring file = dir / (std::wstring(path.begin() + 1, path.end()) + L".zip");
        result = Fetch(server.Url(path), file);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_EQ(result.error, "HTTP " + std::to_string(code) + " error");
        EXPECT_EQ(ReadFileBytes(file), "") << path;
        EXPECT_TRUE(result.progress.empty()) << path;
    }

    result = Fetch(server.Url("/partial"), dir / L"partial.zip");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(ReadFileBytes(dir / L"partial.zip"), "body of a 299");
}

TEST(HttpDownload, BodyShorterThanItsLengthIsAFailure) {
    TestHttpServer server;
    TestResponse response{200, RandomBytes(200 * 1024, 5)};
    response.announcedLength = 300 * 1024;
    server.Serve("/short", response);
    TempDir dir;

    const Download result = Fetch(server.Url("/short"), dir / L"short.zip");

    EXPECT_FALSE(result.ok);
    // Wine's WinHTTP may notice the early close itself; either way it is not a success.
    EXPECT_TRUE(result.error == "Incomplete download: received 204800 of 307200 bytes" ||
                result.error == "Connection lost during download")
        << result.error;
    for (int percent : result.progress) {
        EXPECT_LT(percent, 100);
    }
}

TEST(HttpDownload, ConnectionResetMidBodyIsAFailure) {
    TestHttpServer server;
    TestResponse response{200, RandomBytes(256 * 1024, 6)};
    response.announcedLength = 1024 * 1024;
    response.pieceBytes = 64 * 1024;
    response.pauseMs = 20;
    response.resetAfterBody = true;
    server.Serve("/cut", response);
    TempDir dir;

    const Download result = Fetch(server.Url("/cut"), dir / L"cut.zip");

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.rfind("Incomplete download: received ", 0) == 0 ||
                result.error == "Connection lost during download")
        << result.error;
}

TEST(HttpDownload, LengthsBeyondFourGibibytesAreCountedIn64Bits) {
    TestHttpServer server;
    TestResponse response{200, RandomBytes(64 * 1024, 7)};
    response.announcedLength = 5LL * 1024 * 1024 * 1024;
    server.Serve("/huge", response);
    TempDir dir;

    const Download result = Fetch(server.Url("/huge"), dir / L"huge.zip");

    EXPECT_FALSE(result.ok);
    // A 32-bit count would have read the length as 1 GiB.
    EXPECT_TRUE(result.error == "Incomplete download: received 65536 of 5368709120 bytes" ||
                result.error == "Connection lost during download")
        << result.error;
    for (int percent : result.progress) {
        EXPECT_EQ(percent, 0);
    }
}

TEST(HttpDownload, PercentOfVeryLargeBodiesOnlyRises) {
    const std::uint64_t size = 6ULL * 1024 * 1024 * 1024 + 12346;
    int last = -1;
    for (std::uint64_t done = 0; done < size; done += 37ULL * 1024 * 1024) {
        const int percent = DownloadPercent(done, size);
        EXPECT_GE(percent, last);
        EXPECT_LT(percent, 100);
        last = percent;
    }
    EXPECT_EQ(DownloadPercent(size / 2, size), 50);
    EXPECT_EQ(DownloadPercent(size - 1, size), 99);
    EXPECT_EQ(DownloadPercent(size, size), 100);
    EXPECT_EQ(DownloadPercent(UINT64_MAX - 1, UINT64_MAX), 99);
    EXPECT_EQ(DownloadPercent(UINT64_MAX / 2, UINT64_MAX), 50);
}

TEST(HttpDownload, WriteFailureOnAFullDiskIsAFailure) {
    // Wine maps Z: to the Linux root; writes to /dev/full fail with "no space left".
    const std::wstring fullDevice = L"Z:\\dev\\full";
    {
        UniqueFile probe(CreateFileW(fullDevice.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            GTEST_SKIP() << "no /dev/full under Z:";
        }
    }
    TestHttpServer server;
    server.Serve("/a.zip", TestResponse{200, RandomBytes(200 * 1024, 8)});

    const Download result = Fetch(server.Url("/a.zip"), fullDevice);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Not enough disk space");
    EXPECT_TRUE(result.progress.empty());
}

TEST(HttpDownload, LocalAndConnectionFailuresHaveTheirTexts) {
    TempDir dir;
    Download result = Fetch(L"127.0.0.1/a.zip", dir / L"nourl.zip");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Invalid URL format");
    EXPECT_FALSE(FileExists(dir / L"nourl.zip"));

    // A file someone else holds open without sharing cannot be created.
    TestHttpServer server;
    server.Serve("/a.zip", TestResponse{200, "data"});
    UniqueFile held(CreateFileW((dir / L"held.zip").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());
    result = Fetch(server.Url("/a.zip"), dir / L"held.zip");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Failed to create local file");
    EXPECT_TRUE(server.Requests().empty());

    // Nothing listens on a port just released.
    int closedPort = 0;
    {
        TestHttpServer gone;
        closedPort = gone.port();
    }
    result = Fetch(L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/a.zip", dir / L"refused.zip");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Request send failed");
    EXPECT_TRUE(FileExists(dir / L"refused.zip"));
}

namespace {

// The first attempt at `path`: the server sends about half of `body` and resets the connection.
// Returns the bytes the attempt left in `file`, which must be a prefix of the body.
size_t CutFirstAttempt(TestHttpServer& server, const std::string& path, const std::string& body,
                       const std::string& etag, const std::wstring& file, DownloadResume* resume) {
    TestResponse cut{200, body};
    cut.etag = etag;
    cut.honourRanges = true;
    cut.pieceBytes = 64 * 1024;
    cut.pauseMs = 5;
    cut.resetAfterBytes = static_cast<std::int64_t>(body.size() / 2);
    server.Serve(path, cut);
    std::string error;
    EXPECT_FALSE(DownloadFile(server.Url(path), file, nullptr, error, resume));
    const std::string partial = ReadFileBytes(file);
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), body.size());
    EXPECT_TRUE(body.compare(0, partial.size(), partial) == 0);
    return partial.size();
}

bool HasHeader(const std::string& requestHead, const std::string& line) {
    return (requestHead + "\r\n").find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace

TEST(HttpDownload, ACutDownloadResumesFromTheFilesSizeAndEndsByteIdentical) {
    TestHttpServer server;
    const std::string body = RandomBytes(1024 * 1024 + 777, 9);
    TempDir dir;
    const std::wstring file = dir / L"pack.zip";
    DownloadResume resume;
    const size_t partial = CutFirstAttempt(server, "/pack.zip", body, "\"v1\"", file, &resume);
    EXPECT_EQ(resume.validator, "\"v1\"");
    TestResponse whole{200, body};
    whole.etag = "\"v1\"";
    whole.honourRanges = true;
    server.Serve("/pack.zip", whole);

    Download result;
    result.ok = DownloadFile(
        server.Url("/pack.zip"), file, [&result](int percent) { result.progress.push_back(percent); },
        result.error, &resume);

    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(ReadFileBytes(file) == body);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("Range"), std::string::npos) << requests[0];
    EXPECT_TRUE(HasHeader(requests[1], "Range: bytes=" + std::to_string(partial) + "-")) << requests[1];
    EXPECT_TRUE(HasHeader(requests[1], "If-Range: \"v1\"")) << requests[1];
    // The percentage starts at the share already on disk and only rises.
    ASSERT_FALSE(result.progress.empty());
    EXPECT_EQ(result.progress.front(), DownloadPercent(partial, body.size()));
    for (size_t i = 1; i < result.progress.size(); ++i) {
        EXPECT_GE(result.progress[i], result.progress[i - 1]);
    }
    EXPECT_EQ(result.progress.back(), 100);
    EXPECT_EQ(resume.validator, "\"v1\"");
}

TEST(HttpDownload, AChangedFileOrAServerWithoutRangesGivesTheWholeBodyAgain) {
    TestHttpServer server;
    TempDir dir;
    const std::string first = RandomBytes(700 * 1024, 10);

    // The file changed on the server: its new ETag fails the If-Range, so the whole new body comes
    // with 200 and replaces the old half instead of being spliced onto it.
    DownloadResume resume;
    CutFirstAttempt(server, "/changed.zip", first, "\"v1\"", dir / L"changed.zip", &resume);
    TestResponse changed{200, RandomBytes(500 * 1024, 11)};
    changed.etag = "\"v2\"";
    changed.honourRanges = true;
    server.Serve("/changed.zip", changed);
    std::string error;
    ASSERT_TRUE(DownloadFile(server.Url("/changed.zip"), dir / L"changed.zip", nullptr, error, &resume))
        << error;
    EXPECT_TRUE(ReadFileBytes(dir / L"changed.zip") == changed.body);
    EXPECT_TRUE(HasHeader(server.Requests().back(), "If-Range: \"v1\"")) << server.Requests().back();
    EXPECT_EQ(resume.validator, "\"v2\"");

    // A server that ignores the range answers 200 with everything: the file starts over.
    DownloadResume plain;
    CutFirstAttempt(server, "/plain.zip", first, "\"p\"", dir / L"plain.zip", &plain);
    TestResponse noRanges{200, first};
    noRanges.etag = "\"p\"";
    server.Serve("/plain.zip", noRanges);
    ASSERT_TRUE(DownloadFile(server.Url("/plain.zip"), dir / L"plain.zip", nullptr, error, &plain)) << error;
    EXPECT_TRUE(ReadFileBytes(dir / L"plain.zip") == first);
}

TEST(HttpDownload, RepliesThatDoNotContinueTheFileLeaveItAsItWas) {
    TestHttpServer server;
    TempDir dir;
    const std::wstring file = dir / L"kept.zip";
    ASSERT_TRUE(WriteFileBytes(file, "0123456789"));
    TestResponse wrongStart{206, "0123456789abcdef"};
    wrongStart.headers = "Content-Range: bytes 0-15/16\r\n";
    TestResponse wrongEnd{206, "abc"};
    wrongEnd.headers = "Content-Range: bytes 10-12/16\r\n";
    TestResponse garbled{206, "abcdef"};
    garbled.headers = "Content-Range: bytes 10-15/1x\r\n";
    const std::vector<std::pair<TestResponse, std::string>> cases = {
        {wrongStart, "Server sent a range that does not continue the file"},
        {wrongEnd, "Server sent a range that does not continue the file"},
        {garbled, "Server sent a range that does not continue the file"},
        {TestResponse{500, "trouble"}, "HTTP 500 error"},
        {TestResponse{416, ""}, "HTTP 416 error"},
    };
    for (const auto& [response, text] : cases) {
        server.Serve("/kept.zip", response);
        DownloadResume resume{"\"k\"", 16};
        std::string error;
        EXPECT_FALSE(DownloadFile(server.Url("/kept.zip"), file, nullptr, error, &resume)) << text;
        EXPECT_EQ(error, text);
        EXPECT_EQ(ReadFileBytes(file), "0123456789") << text;
        EXPECT_EQ(resume.validator, "\"k\"");
    }

    // A file that is already whole: the server says the range starts past the end.
    TestResponse whole{200, "0123456789"};
    whole.etag = "\"k\"";
    whole.honourRanges = true;
    server.Serve("/kept.zip", whole);
    std::vector<int> progress;
    DownloadResume resume{"\"k\"", 10};
    std::string error;
    EXPECT_TRUE(DownloadFile(
        server.Url("/kept.zip"), file, [&progress](int percent) { progress.push_back(percent); }, error,
        &resume))
        << error;
    EXPECT_EQ(ReadFileBytes(file), "0123456789");
    EXPECT_EQ(progress, std::vector<int>{100});
}

TEST(HttpDownload, ARangeOfAnotherBodyIsNeverSplicedTheFileStartsOver) {
    const std::string first = RandomBytes(600 * 1024, 12);
    // Servers that answer the range whatever the If-Range says: with another ETag, with a total of
    // "*", with no validator at all, and with the same ETag but another length.
    const std::vector<std::pair<std::string, std::string>> bodiesAndTags = {
        {RandomBytes(first.size(), 13), "\"B\""}, {first, "\"A\""}, {first, ""}, {first + "tail", "\"A\""}};
    std::vector<TestResponse> cases;
    for (const auto& [body, etag] : bodiesAndTags) {
        TestResponse response{200, body};
        response.etag = etag;
        response.honourRanges = true;
        response.ignoreIfRange = true;
        cases.push_back(response);
    }
    cases[1].rangeTotal = "*";
    TestHttpServer server;
    TempDir dir;
    for (size_t i = 0; i <= cases.size(); ++i) {
        const std::string path = "/case" + std::to_string(i) + ".zip";
        const std::wstring file = dir / (L"case" + std::to_wstring(i) + L".zip");
        DownloadResume resume;
        const size_t partial = CutFirstAttempt(server, path, first, "\"A\"", file, &resume);
        EXPECT_EQ(resume.total, first.size());
        // The last case: a 416 says the cut file is whole, but it is shorter than the body first seen.
        TestResponse response = i < cases.size() ? cases[i] : TestResponse{200, first.substr(0, partial)};
        if (i == cases.size()) {
            response.etag = "\"A\"";
            response.honourRanges = true;
        }
        server.Serve(path, response);
        std::string error;
        EXPECT_TRUE(DownloadFile(server.Url(path), file, nullptr, error, &resume)) << i << error;
        EXPECT_TRUE(ReadFileBytes(file) == response.body) << i;
        std::vector<std::string> requests = server.Requests();
        ASSERT_GE(requests.size(), 2u);
        requests.erase(requests.begin(), requests.end() - 2);
        EXPECT_TRUE(HasHeader(requests[0], "Range: bytes=" + std::to_string(partial) + "-")) << i;
        EXPECT_EQ(requests[1].find("Range"), std::string::npos) << i << requests[1];
        EXPECT_EQ(resume.total, response.body.size()) << i;
    }
}

namespace {

// Settings loaded from a scratch file: the API on `apiPort`, and any further lines.
struct ScratchSettings {
    TempDir dir{L"cfg"};
    ScratchSettings(int apiPort, const std::string& extra) {
        const std::string folder = WideToUtf8(dir.path());
        EXPECT_TRUE(WriteFileBytes(dir / L"TarnDown.ini", "[Settings]\r\nPort=" + std::to_string(apiPort) +
                                                              "\r\nDownloadDir=" + folder +
                                                              "\r\nDevDir=" + folder + "\r\n" + extra));
        LoadConfigForExecutable(dir / L"TarnDown.exe");
    }
};

}  // namespace

TEST(DownloadRedirect, LoopbackAndUnspecifiedHostsInEveryForm) {
    for (const wchar_t* host :
         {L"127.0.0.1", L"127.1", L"127.255.0.9", L"0x7f.1", L"0177.0.0.1", L"2130706433", L"0.0.0.0", L"0",
          L"LOCALHOST", L"localhost.", L"a.localhost", L"[::1]", L"[::]", L"[0:0:0:0:0:0:0:1]",
          L"[::ffff:127.0.0.1]", L"user@127.0.0.1"}) {
        EXPECT_TRUE(IsLoopbackOrUnspecifiedHost(host)) << WideToUtf8(host);
    }
    for (const wchar_t* host :
         {L"128.0.0.1", L"10.0.0.1", L"1.2.3.4.5", L"127.0.0.1.example.com", L"example.com",
          L"localhost.example.com", L"[::2]", L"[fe80::1]", L"0x1ff.0.0.1", L"", L"08.0.0.1"}) {
        EXPECT_FALSE(IsLoopbackOrUnspecifiedHost(host)) << WideToUtf8(host);
    }
}

TEST(HttpDownload, RedirectsAreFollowedHopByHopButNeverToThisProgramsApi) {
    TestHttpServer api;  // stands for the program's own API: no download may ever ask it anything
    const ScratchSettings settings(api.port(), "");
    TestHttpServer server;
    const std::string body = RandomBytes(100 * 1024, 14);
    const std::string port = std::to_string(server.port());
    server.Serve("/file.zip", TestResponse{200, body});
    server.Serve("/r1", RedirectTo(server.UrlUtf8("/dir/r2")));
    server.Serve("/dir/r2", RedirectTo("r3?x=1", 301));
    server.Serve("/dir/r3?x=1", RedirectTo("//127.0.0.1:" + port + "/r4", 307));
    server.Serve("/r4", RedirectTo("/file.zip#part", 308));
    for (int hop = 0; hop < 11; ++hop) {
        server.Serve("/hop" + std::to_string(hop), RedirectTo("/hop" + std::to_string(hop + 1), 303));
    }
    server.Serve("/hop11", TestResponse{200, body});
    server.Serve("/tarn", RedirectTo("tarndownload://download?url=http%3A%2F%2Fx%2Fa.zip"));
    const std::string apiPort = std::to_string(api.port());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/r1", ""},
        {"/hop1", ""},
        {"/hop0", "Too many redirects"},
        {"/tarn", "Invalid redirect address"},
    };
    TempDir dir;
    for (const auto& [path, error] : cases) {
        const Download result = Fetch(server.Url(path), dir / L"f.zip");
        EXPECT_EQ(result.ok, error.empty()) << path;
        EXPECT_EQ(result.error, error) << path;
        EXPECT_TRUE(!result.ok || ReadFileBytes(dir / L"f.zip") == body) << path;
    }
    for (const std::string& request : server.Requests()) {
        EXPECT_NE(request.find("User-Agent: TarnDownloader/1.0\r\n"), std::string::npos) << request;
    }
    // The eleventh redirect is read but not followed.
    EXPECT_EQ(server.Requests().size(), 5u + 11u + 11u + 1u);

    for (const std::string host :
         {"127.0.0.1", "localhost", "0x7f.1", "2130706433", "127.8.8.8", "0.0.0.0"}) {
        const std::string address = "http://" + host + ":" + apiPort + "/api/download?url=x&name=y";
        server.Serve("/to-api", RedirectTo(address));
        EXPECT_EQ(Fetch(server.Url("/to-api"), dir / L"api.zip").error, kOwnApiText) << host;
        EXPECT_EQ(Fetch(Utf8ToWide(address), dir / L"api.zip").error, kOwnApiText) << host;
    }
    EXPECT_TRUE(api.Requests().empty());
}

TEST(HttpDownload, StalledEndlessAndOversizedBodiesFailWithTheirTexts) {
    const ScratchSettings settings(kDefaultPort, "MaxDownloadBytes=100000\r\n");
    SetDownloadStallWindowForTesting(1500);
    TestHttpServer server;
    TestResponse crawling{200, RandomBytes(700, 15)};  // 100 bytes every 0.7 s: under 1 KiB per window
    crawling.pieceBytes = 100;
    crawling.pauseMs = 700;
    TestResponse atCap{200, RandomBytes(100000, 16)};
    atCap.announcedLength = -2;
    TestResponse pastCap{200, RandomBytes(100001, 17)};
    pastCap.announcedLength = -2;
    server.Serve("/crawl", crawling);
    server.Serve("/at-cap", atCap);
    server.Serve("/past-cap", pastCap);
    server.Serve("/long", TestResponse{200, RandomBytes(300000, 18)});  // a length says where it ends
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/crawl", "Download stalled"}, {"/at-cap", ""}, {"/past-cap", "Download too large"}, {"/long", ""}};
    TempDir dir;
    for (const auto& [path, error] : cases) {
        const Download result = Fetch(server.Url(path), dir / Utf8ToWide(path.substr(1)));
        EXPECT_EQ(result.error, error) << path;
        EXPECT_EQ(result.ok, error.empty()) << path;
    }
    EXPECT_TRUE(ReadFileBytes(dir / L"at-cap") == atCap.body);
    // The bytes that came before the stall stay for a resume.
    const std::string kept = ReadFileBytes(dir / L"crawl");
    EXPECT_GE(kept.size(), 200u);
    EXPECT_LT(kept.size(), crawling.body.size());
    EXPECT_TRUE(crawling.body.compare(0, kept.size(), kept) == 0);
    SetDownloadStallWindowForTesting(0);
}
