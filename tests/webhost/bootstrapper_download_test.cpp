// The runtime bootstrapper's download: the redirect rule as a table, then the whole download with
// the local test server standing in for Microsoft's link service and its mirrors. The connection
// map sends every request to that server and records where the download meant it to go.
#include "base/win32.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"
#include "webhost/bootstrapper_download.h"
#include "webhost/bootstrapper_redirect.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const std::string kLinkPath = "/fwlink/?linkid=2124703";
const std::string kUserAgentLine =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36\r\n";

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Where one request of the download was meant to go.
struct Hop {
    std::wstring host;
    int port;
    bool secure;
    std::wstring path;
};

bool operator==(const Hop& a, const Hop& b) {
    return a.host == b.host && a.port == b.port && a.secure == b.secure && a.path == b.path;
}

std::ostream& operator<<(std::ostream& out, const Hop& hop) {
    return out << std::string(hop.host.begin(), hop.host.end()) << ":" << hop.port
               << (hop.secure ? " tls " : " ") << std::string(hop.path.begin(), hop.path.end());
}

std::vector<Hop> g_hops;
std::uint16_t g_serverPort = 0;

HttpGetTarget ToTestServer(const HttpGetTarget& request) {
    g_hops.push_back({request.host, request.port, request.secure, request.path});
    return {L"127.0.0.1", g_serverPort, false, request.path};
}

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One progress report and the size of the file when it came: a report follows its write.
struct Report {
    int percent;
    std::uint64_t bytesOnDisk;
};

struct Outcome {
    bool ok = false;
    std::vector<Report> reports;
    std::vector<std::string> requestLines;
    std::vector<std::string> requests;
};

class BootstrapperDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        g_hops.clear();
        SetBootstrapperConnectionMapForTesting(ToTestServer);
    }
    void TearDown() override { SetBootstrapperConnectionMapForTesting(nullptr); }

    // Runs the download against `server` into path().
    Outcome Run(TestHttpServer& server) {
        g_serverPort = static_cast<std::uint16_t>(server.port());
        Outcome outcome;
        outcome.ok = DownloadBootstrapper(path(), [&outcome, this](int percent) {
            outcome.reports.push_back({percent, FileSize(path())});
        });
        outcome.requests = server.Requests();
        for (const std::string& request : outcome.requests) {
            outcome.requestLines.push_back(request.substr(0, request.find("\r\n")));
        }
        return outcome;
    }

    std::wstring path() const { return dir_ / L"WebView2_Bootstrapper.exe"; }

    TempDir dir_{L"boot"};
};

}  // namespace

TEST(BootstrapperRedirect, EachFormOfLocationGivesTheNextRequestOrARefusal) {
    const BootstrapperRequest link{L"go.microsoft.com", L"/fwlink/?linkid=2124703", true};
    const BootstrapperRequest plain{L"mirror.test", L"/a", false};
    struct Case {
        const BootstrapperRequest& current;
        const wchar_t* location;
        bool follows;
        BootstrapperRequest next;
    };
    const Case cases[] = {
        {link,
         L"https://dl.example.com/x/setup.exe?sig=a:b",
         true,
         {L"dl.example.com", L"/x/setup.exe?sig=a:b", true}},
        {link, L"https://dl.example.com:8443/x", true, {L"dl.example.com", L"/x", true}},
        {link, L"https://dl.example.com:8443", true, {L"dl.example.com", L"/", true}},
        {link, L"HTTPS://Dl.Example.com/x", true, {L"Dl.Example.com", L"/x", true}},
        {link, L"http://dl.example.com/x", false, {}},
        {link, L"HTTP://dl.example.com/x", false, {}},
        {plain, L"http://other.test:81/b", true, {L"other.test", L"/b", false}},
        {plain, L"https://other.test/b", true, {L"other.test", L"/b", true}},
        {link, L"/download/x.exe", true, {L"go.microsoft.com", L"/download/x.exe", true}},
        {plain, L"/download/x.exe?y=1", true, {L"mirror.test", L"/download/x.exe?y=1", false}},
        {link, L"//cdn.example.com:444/x.exe", true, {L"cdn.example.com", L"/x.exe", true}},
        {link, L"cdn.example.com/x.exe", true, {L"cdn.example.com", L"/x.exe", true}},
        {plain, L"cdn.example.com:8080/x", true, {L"cdn.example.com", L"/x", false}},
        {link, L"cdn.example.com", true, {L"cdn.example.com", L"/", true}},
        {link, L"https:///x", false, {}},
        {link, L"https://:443/x", false, {}},
        {link, L"https://", false, {}},
        {link, L":8080/x", false, {}},
        {link, L"", false, {}},
    };
    for (const Case& c : cases) {
        const std::string label(c.location, c.location + std::wstring(c.location).size());
        SCOPED_TRACE(label);
        BootstrapperRequest next{L"unchanged", L"/unchanged", !c.current.secure};
        const bool follows = NextBootstrapperRequest(c.current, c.location, &next);
        EXPECT_EQ(follows, c.follows);
        if (follows && c.follows) {
            EXPECT_EQ(next.host, c.next.host);
            EXPECT_EQ(next.path, c.next.path);
            EXPECT_EQ(next.secure, c.next.secure);
        }
    }
}

TEST_F(BootstrapperDownload, TwoRedirectsEndInTheExactFileWithRisingPercentages) {
    TestHttpServer server;
    server.Serve(kLinkPath, RedirectTo("https://dl.test:8443/x/setup.exe?sig=1"));
    server.Serve("/x/setup.exe?sig=1", RedirectTo("/files/WebView2Setup.exe", 301));
    TestResponse file{200, RandomBytes(150000, 1)};
    // Pieces smaller than 1% of the body: many reads leave the percentage where it was.
    file.pieceBytes = 1000;
    file.pauseMs = 1;
    server.Serve("/files/WebView2Setup.exe", file);

    const Outcome outcome = Run(server);

    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(ReadFileBytes(path()) == file.body);
    // The port in the Location is not used, and the relative one keeps host and TLS.
    const std::vector<Hop> expectedHops = {
        {L"go.microsoft.com", 443, true, Wide(kLinkPath)},
        {L"dl.test", 443, true, L"/x/setup.exe?sig=1"},
        {L"dl.test", 443, true, L"/files/WebView2Setup.exe"},
    };
    EXPECT_EQ(g_hops, expectedHops);
    const std::vector<std::string> expectedLines = {"GET " + kLinkPath + " HTTP/1.1",
                                                    "GET /x/setup.exe?sig=1 HTTP/1.1",
                                                    "GET /files/WebView2Setup.exe HTTP/1.1"};
    EXPECT_EQ(outcome.requestLines, expectedLines);
    ASSERT_FALSE(outcome.requests.empty());
    EXPECT_NE(outcome.requests[0].find(kUserAgentLine), std::string::npos) << outcome.requests[0];

    ASSERT_FALSE(outcome.reports.empty());
    int last = -1;
    for (const Report& report : outcome.reports) {
        EXPECT_EQ(report.percent, static_cast<int>(report.bytesOnDisk * 100 / file.body.size()));
        EXPECT_GT(report.percent, last);
        last = report.percent;
    }
    EXPECT_EQ(last, 100);
}

TEST_F(BootstrapperDownload, WithoutALengthTheFigureCountsKibibytesAndWraps) {
    TestHttpServer server;
    TestResponse file{200, RandomBytes(150 * 1024, 2)};
    file.announcedLength = -2;
    file.pieceBytes = 1024;
    file.pauseMs = 2;
    server.Serve(kLinkPath, file);

    const Outcome outcome = Run(server);

    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(ReadFileBytes(path()) == file.body);
    ASSERT_FALSE(outcome.reports.empty());
    bool wrapped = false;
    for (size_t i = 0; i < outcome.reports.size(); ++i) {
        const Report& report = outcome.reports[i];
        EXPECT_EQ(report.percent, static_cast<int>(report.bytesOnDisk / 1024 % 100)) << "report " << i;
        if (i > 0) {
            EXPECT_NE(report.percent, outcome.reports[i - 1].percent) << "report " << i;
            wrapped = wrapped || report.percent < outcome.reports[i - 1].percent;
        }
    }
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(outcome.reports.back().percent, 50);
}

TEST_F(BootstrapperDownload, EveryFailureEndsWithoutAFileToStart) {
    const std::string program = RandomBytes(150000, 3);
    // What the bootstrapper's path holds afterwards; a partial file of a cut body may stay.
    enum class File { Absent, Program, Partial };
    struct Case {
        const char* label;
        std::function<void(TestHttpServer&)> serve;
        bool ok;
        std::vector<std::string> requestedPaths;
        File file;
    };
    auto chain = [&program](TestHttpServer& server, int redirects) {
        server.Serve(kLinkPath, RedirectTo("/r1"));
        for (int i = 1; i < redirects; ++i) {
            server.Serve("/r" + std::to_string(i), RedirectTo("/r" + std::to_string(i + 1)));
        }
        server.Serve("/r" + std::to_string(redirects), TestResponse{200, program});
    };
    auto chainPaths = [](int count) {
        std::vector<std::string> paths = {kLinkPath};
        for (int i = 1; i < count; ++i) {
            paths.push_back("/r" + std::to_string(i));
        }
        return paths;
    };
    TestResponse cut{200, program};
    cut.announcedLength = 300000;
    const Case cases[] = {
        {"404 at the link", [](TestHttpServer&) {}, false, {kLinkPath}, File::Absent},
        {"redirect without a Location",
         [](TestHttpServer& s) {
             s.Serve(kLinkPath, TestResponse{302, ""});
         },
         false,
         {kLinkPath},
         File::Absent},
        {"an error page of 5000 bytes",
         [](TestHttpServer& s) {
             s.Serve(kLinkPath, TestResponse{200, std::string(5000, 'e')});
         },
         false,
         {kLinkPath},
         File::Absent},
        {"a redirect that turns TLS off",
         [&program](TestHttpServer& s) {
             s.Serve(kLinkPath, RedirectTo("http://go.microsoft.com/fallback.exe"));
             s.Serve("/fallback.exe", TestResponse{200, program});
         },
         false,
         {kLinkPath},
         File::Absent},
        {"a body cut short",
         [&cut](TestHttpServer& s) { s.Serve(kLinkPath, cut); },
         false,
         {kLinkPath},
         File::Partial},
        {"nine redirects: the tenth request brings the file", [&chain](TestHttpServer& s) { chain(s, 9); },
         true, chainPaths(10), File::Program},
        {"ten redirects: the tenth answer is still one", [&chain](TestHttpServer& s) { chain(s, 10); }, false,
         chainPaths(10), File::Absent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DeleteFileW(path().c_str());
        g_hops.clear();
        TestHttpServer server;
        c.serve(server);

        const Outcome outcome = Run(server);

        EXPECT_EQ(outcome.ok, c.ok);
        std::vector<std::string> expectedLines;
        for (const std::string& requested : c.requestedPaths) {
            expectedLines.push_back("GET " + requested + " HTTP/1.1");
        }
        EXPECT_EQ(outcome.requestLines, expectedLines);
        EXPECT_EQ(g_hops.size(), c.requestedPaths.size());
        if (c.file == File::Program) {
            EXPECT_TRUE(ReadFileBytes(path()) == program);
        } else if (c.file == File::Absent) {
            EXPECT_FALSE(FileExists(path()));
        }
    }
}
