#include "tests/support/test_http_server.h"

#include "base/win32.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t kMaxRequestHeaderBytes = 16384;

bool SendAll(SOCKET socket, const char* data, size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int sent = send(socket, data, chunk, 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 206:
            return "Partial Content";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// The value of header `name` in a request head (case-insensitive name), empty when absent.
std::string HeaderValue(const std::string& head, const std::string& name) {
    std::string lowerHead = head;
    std::transform(lowerHead.begin(), lowerHead.end(), lowerHead.begin(),
                   [](char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); });
    std::string key = "\r\n" + name + ":";
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); });
    const size_t found = lowerHead.find(key);
    if (found == std::string::npos) {
        return std::string();
    }
    size_t start = found + key.size();
    while (start < head.size() && head[start] == ' ') {
        ++start;
    }
    return head.substr(start, head.find("\r\n", start) - start);
}

// Turns the configured reply into what a range-supporting server answers to this request.
void ApplyRange(const std::string& head, TestResponse* response) {
    const std::string range = HeaderValue(head, "Range");
    if (!response->honourRanges || range.rfind("bytes=", 0) != 0 || range.back() != '-') {
        return;
    }
    const std::string ifRange = HeaderValue(head, "If-Range");
    if (!ifRange.empty() && ifRange != response->etag && !response->ignoreIfRange) {
        return;
    }
    const size_t size = response->body.size();
    const size_t first = static_cast<size_t>(std::strtoull(range.c_str() + 6, nullptr, 10));
    if (first >= size) {
        response->status = 416;
        response->headers += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
        response->body.clear();
        response->announcedLength = 0;
        return;
    }
    response->status = 206;
    response->headers += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(size - 1) +
                         "/" + (response->rangeTotal.empty() ? std::to_string(size) : response->rangeTotal) +
                         "\r\n";
    response->body = response->body.substr(first);
    response->announcedLength = -1;
}

}  // namespace

TestResponse RedirectTo(const std::string& location, int status) {
    TestResponse response;
    response.status = status;
    response.headers = "Location: " + location + "\r\n";
    return response;
}

TestHttpServer::TestHttpServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks a free port, so parallel test runs never collide
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener, SOMAXCONN);
    listener_ = static_cast<std::uintptr_t>(listener);
    acceptThread_ = std::thread(&TestHttpServer::AcceptLoop, this);
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    closesocket(static_cast<SOCKET>(listener_));
    acceptThread_.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (std::thread& connection : connections) {
        connection.join();
    }
    WSACleanup();
}

void TestHttpServer::Serve(const std::string& path, const TestResponse& response) {
    ServeInTurn(path, {response});
}

void TestHttpServer::ServeInTurn(const std::string& path, const std::vector<TestResponse>& responses) {
    std::lock_guard<std::mutex> lock(mutex_);
    responses_[path] = responses;
}

std::string TestHttpServer::UrlUtf8(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::wstring TestHttpServer::Url(const std::string& path) const {
    const std::string url = UrlUtf8(path);
    return std::wstring(url.begin(), url.end());
}

std::vector<std::string> TestHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestHttpServer::AcceptLoop() {
    for (;;) {
        const SOCKET client = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            if (stopping_) {
                return;
            }
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back(&TestHttpServer::HandleConnection, this,
                                  static_cast<std::uintptr_t>(client));
    }
}

void TestHttpServer::HandleConnection(std::uintptr_t rawSocket) {
    const SOCKET client = static_cast<SOCKET>(rawSocket);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestHeaderBytes) {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            closesocket(client);
            return;
        }
        request.append(buffer, static_cast<size_t>(got));
    }
    const std::string requestLine = request.substr(0, request.find("\r\n"));
    const size_t pathStart = requestLine.find(' ') + 1;
    const std::string path = requestLine.substr(pathStart, requestLine.find(' ', pathStart) - pathStart);

    TestResponse response;
    response.status = 404;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request.substr(0, request.find("\r\n\r\n")));
        const auto found = responses_.find(path);
        if (found != responses_.end() && !found->second.empty()) {
            response = found->second.front();
            if (found->second.size() > 1) {
                found->second.erase(found->second.begin());
            }
        }
    }
    ApplyRange(request, &response);
    if (!response.etag.empty()) {
        response.headers += "ETag: " + response.etag + "\r\n";
    }
    size_t bodyBytes = response.body.size();
    if (response.resetAfterBytes >= 0 && static_cast<size_t>(response.resetAfterBytes) < bodyBytes) {
        bodyBytes = static_cast<size_t>(response.resetAfterBytes);
        response.resetAfterBody = true;
    }

    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) +
                       "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
    if (response.announcedLength == -1) {
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    } else if (response.announcedLength >= 0) {
        head += "Content-Length: " + std::to_string(response.announcedLength) + "\r\n";
    }
    head += response.headers + "\r\n";

    // Counted from the request until just before the answer's last bytes go out: the client can
    // close only after those, so the count never lags behind a connection it has closed already.
    const int open = ++open_;
    for (int most = mostOpen_.load(); open > most && !mostOpen_.compare_exchange_weak(most, open);) {
    }
    bool counted = true;
    auto uncount = [&]() {
        if (counted) {
            --open_;
            counted = false;
        }
    };
    if (bodyBytes == 0) {
        uncount();
    }
    bool ok = SendAll(client, head.data(), head.size());
    const size_t piece = response.pieceBytes == 0 ? bodyBytes : response.pieceBytes;
    for (size_t offset = 0; ok && offset < bodyBytes && !stopping_; offset += piece) {
        if (offset + piece >= bodyBytes) {
            uncount();
        }
        ok = SendAll(client, response.body.data() + offset, std::min(piece, bodyBytes - offset));
        if (response.pauseMs > 0) {
            Sleep(response.pauseMs);
        }
    }
    uncount();
    if (response.resetAfterBody) {
        linger hard = {1, 0};  // closing with a zero linger time sends a reset
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    } else {
        shutdown(client, SD_SEND);
        // Let the client read everything before the socket goes away.
        while (recv(client, buffer, sizeof(buffer), 0) > 0) {
        }
    }
    closesocket(client);
}
