// Waiting on one non-blocking socket of the API server, with a time limit.
#pragma once

#include "base/win32.h"

enum class SocketWait { Read, Write };

// True when the socket can be read (data or the peer's close) or written within `milliseconds`.
bool WaitForSocket(SOCKET socket, SocketWait what, DWORD milliseconds);

// Milliseconds left of `limitMs` counted from the tick count `start`; 0 once it has passed.
DWORD RemainingMs(DWORD start, DWORD limitMs);
