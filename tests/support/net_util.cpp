#include "tests/support/net_util.h"

#include "base/unique_handle.h"
#include "base/win32.h"

namespace {

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

}  // namespace

int PickFreePort() {
    WinsockSession session;
    UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!probe) {
        return 0;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return 0;
    }
    int length = sizeof(address);
    getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}
