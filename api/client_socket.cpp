#include "api/client_socket.h"

namespace {

bool SetTimeout(SOCKET socket, int option, DWORD milliseconds) {
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                      sizeof(milliseconds)) == 0;
}

bool HasTimeout(SOCKET socket, int option, DWORD milliseconds) {
    DWORD value = 0;
    int size = sizeof(value);
    return getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char*>(&value), &size) == 0 &&
           size == sizeof(value) && value == milliseconds;
}

}  // namespace

bool SetListenerTimeouts(SOCKET listener) {
    return SetTimeout(listener, SO_RCVTIMEO, kFirstDataWaitMs) &&
           SetTimeout(listener, SO_SNDTIMEO, kSendWaitMs);
}

bool HasListenerTimeouts(SOCKET client) {
    return HasTimeout(client, SO_RCVTIMEO, kFirstDataWaitMs) && HasTimeout(client, SO_SNDTIMEO, kSendWaitMs);
}

bool ClientSocket::MakeNonBlocking() {
    if (!blocking_) {
        return true;
    }
    u_long nonBlocking = 1;
    if (ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) {
        return false;
    }
    blocking_ = false;
    return true;
}
