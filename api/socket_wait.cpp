#include "api/socket_wait.h"

bool WaitForSocket(SOCKET socket, SocketWait what, DWORD milliseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout = {};
    timeout.tv_sec = static_cast<long>(milliseconds / 1000);
    timeout.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    fd_set* readSet = what == SocketWait::Read ? &set : nullptr;
    fd_set* writeSet = what == SocketWait::Write ? &set : nullptr;
    return select(0, readSet, writeSet, nullptr, &timeout) == 1;
}

DWORD RemainingMs(DWORD start, DWORD limitMs) {
    const DWORD elapsed = GetTickCount() - start;
    return elapsed >= limitMs ? 0 : limitMs - elapsed;
}
