// The ceiling for the program's HTTP API under Wine: a Winsock loop that does only what a reply
// needs and nothing else. It accepts one connection at a time, reads one request with one recv,
// sends a fixed reply (the bytes of a file, so it can be the same size as the program's), shuts
// down its sending side and closes. No parsing, no timeouts, no checks on the client.
//   bench_api_bare_loop.exe <port> <reply file>
// Runs until it is killed.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kReceiveBytes = 131072;

bool ReadWholeFile(const char* path, std::string* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return false;
    }
    char buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes->append(buffer, count);
    }
    std::fclose(file);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_api_bare_loop.exe <port> <reply file>\n");
        return 2;
    }
    std::string reply;
    if (!ReadWholeFile(argv[2], &reply) || reply.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    WSADATA data = {};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 1;
    }
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(static_cast<u_short>(std::atoi(argv[1])));
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        std::fprintf(stderr, "cannot listen on port %s\n", argv[1]);
        return 1;
    }
    std::vector<char> request(kReceiveBytes);
    for (;;) {
        const SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            continue;
        }
        if (recv(client, request.data(), kReceiveBytes, 0) > 0) {
            send(client, reply.data(), static_cast<int>(reply.size()), 0);
            shutdown(client, SD_SEND);
        }
        closesocket(client);
    }
}
