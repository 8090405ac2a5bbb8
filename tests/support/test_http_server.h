// A small HTTP/1.1 server on 127.0.0.1 for download tests: each path answers as configured,
// including the ways a real server can misbehave (no length, a short body, a slow body, a cut).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TestResponse {
    int status = 200;
    std::string body;
    // Content-Length to announce: -1 announces body.size(), -2 sends no Content-Length (the end of
    // the body is the end of the connection); any other value is announced as it is.
    std::int64_t announcedLength = -1;
    // The body goes out in pieces of this size with this pause between them (0: all at once).
    size_t pieceBytes = 0;
    unsigned pauseMs = 0;
    // When set, the connection is reset (not closed cleanly) after this many body bytes.
    bool resetAfterBody = false;
    // Further header lines, each ending in "\r\n" (for example a Location).
    std::string headers = std::string();
    // Sent as the ETag header when not empty.
    std::string etag = std::string();
    // When set, "Range: bytes=N-" is answered as a server that supports ranges does: 206 with the
    // body from N and its Content-Range, 416 when N is past the end, and the whole body with 200
    // when an If-Range does not equal the ETag.
    bool honourRanges = false;
    // With honourRanges: a range is sent whatever the If-Range says (a server that ignores it), and
    // a non-empty rangeTotal replaces the whole length in a 206's Content-Range ("*", or a lie).
    bool ignoreIfRange = false;
    std::string rangeTotal = std::string();
    // When 0 or more, the connection is reset after this many body bytes of the reply (whose
    // Content-Length still announces all of it).
    std::int64_t resetAfterBytes = -1;
};

// A redirect answer: `status` with a Location header and no body.
TestResponse RedirectTo(const std::string& location, int status = 302);

class TestHttpServer {
  public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Unknown paths answer 404 with an empty body.
    void Serve(const std::string& path, const TestResponse& response);
    // Answers the requests for `path` with `responses` in turn, the last one for good.
    void ServeInTurn(const std::string& path, const std::vector<TestResponse>& responses);
    int port() const { return port_; }
    std::wstring Url(const std::string& path) const;
    std::string UrlUtf8(const std::string& path) const;
    // The request heads received so far (request line and headers, up to the blank line).
    std::vector<std::string> Requests();
    // Connections open now (counted from the request until just before the answer's last bytes)
    // and the most at once since the last ResetMostOpen.
    int OpenNow() const { return open_.load(); }
    int MostOpen() const { return mostOpen_.load(); }
    void ResetMostOpen() { mostOpen_.store(open_.load()); }

  private:
    void AcceptLoop();
    void HandleConnection(std::uintptr_t socket);

    std::uintptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards responses_, requests_, connections_
    std::map<std::string, std::vector<TestResponse>> responses_;
    std::atomic<int> open_{0};
    std::atomic<int> mostOpen_{0};
    std::vector<std::string> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptThread_;
};
