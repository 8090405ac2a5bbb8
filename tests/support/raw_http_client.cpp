#include "tests/support/raw_http_client.h"

#include "base/unique_handle.h"

namespace {

constexpr DWORD kConnectRetryMs = 50;
constexpr int kSlowReadBytes = 4096;

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

UniqueSocket Connect(int port) {
    UniqueSocket client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!client) {
        return client;
    }
    // Each piece must leave as its own segment.
    const BOOL noDelay = TRUE;
    setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof(noDelay));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return UniqueSocket();
    }
    return client;
}

bool SendAll(SOCKET socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int result = send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (result <= 0) {
            return false;
        }
        sent += static_cast<size_t>(result);
    }
    return true;
}

}  // namespace

RawExchange ExchangeRaw(int port, const std::vector<std::string>& pieces, const RawSendOptions& options) {
    WinsockSession session;
    RawExchange exchange;
    UniqueSocket client = Connect(port);
    if (!client) {
        return exchange;
    }
    exchange.connected = true;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && options.pauseMs > 0) {
            Sleep(options.pauseMs);
        }
        if (!SendAll(client.get(), pieces[i])) {
            break;
        }
    }
    if (options.closeSendSide) {
        shutdown(client.get(), SD_SEND);
    }
    const DWORD start = GetTickCount();
    char buffer[65536];
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= options.readTimeoutMs) {
            break;
        }
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(client.get(), &readSet);
        const DWORD wait = options.readTimeoutMs - elapsed;
        timeval timeout = {static_cast<long>(wait / 1000), static_cast<long>((wait % 1000) * 1000)};
        if (select(0, &readSet, nullptr, nullptr, &timeout) != 1) {
            break;
        }
        const int wanted = options.slowReadPauseMs > 0 ? kSlowReadBytes : static_cast<int>(sizeof(buffer));
        const int count = recv(client.get(), buffer, wanted, 0);
        if (count <= 0) {
            exchange.closedByServer = true;
            break;
        }
        exchange.reply.append(buffer, static_cast<size_t>(count));
        Sleep(options.slowReadPauseMs);
    }
    exchange.elapsedMs = GetTickCount() - start;
    return exchange;
}

std::string HttpExchange(int port, const std::string& request) {
    return ExchangeRaw(port, {request}).reply;
}

std::string SimpleGet(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

bool WaitForPortOpen(int port, DWORD timeoutMs) {
    WinsockSession session;
    const DWORD start = GetTickCount();
    for (;;) {
        if (Connect(port)) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(kConnectRetryMs);
    }
}

std::string ExpectedReply(int statusCode, const std::string& contentType, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(statusCode) + (statusCode == 200 ? " OK" : " Error") +
           "\r\nContent-Type: " + contentType +
           "; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
           "Access-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n\r\n" +
           body;
}

std::string ReplyBody(const std::string& reply) {
    const size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}
