// One connection of the API server and the time limits every call on it keeps.
#pragma once

#include "base/win32.h"

// How long a new connection may stay silent before it is dropped without a reply.
constexpr DWORD kFirstDataWaitMs = 2000;
// A client that does not read its reply cannot hold the server longer than this per wait for room
// to send.
constexpr DWORD kSendWaitMs = 5000;

// Gives the listening socket the limits of a connection's first read and of its sends, so that
// every accepted socket starts with them. False when the system refused either.
bool SetListenerTimeouts(SOCKET listener);

// Whether an accepted socket carries the limits SetListenerTimeouts gave its listening socket.
// Sockets take over their listener's properties on Windows and under Wine; the server asks once
// instead of trusting that.
bool HasListenerTimeouts(SOCKET client);

// A connected client socket. Under Wine each socket call is a round trip to the Wine server, and
// one more call per connection costs a tenth of the request rate; so a connection whose socket
// already carries its time limits starts blocking (one read, one send, bounded by those limits)
// and becomes non-blocking, where every wait is a bounded select, only the first time a call may
// have to wait more than once: a request that did not arrive whole, a large reply, a drain.
class ClientSocket {
  public:
    ClientSocket(SOCKET socket, bool blocking) : socket_(socket), blocking_(blocking) {}

    SOCKET get() const { return socket_; }
    bool blocking() const { return blocking_; }

    // True when the socket is non-blocking now (also when it already was).
    bool MakeNonBlocking();

  private:
    SOCKET socket_;
    bool blocking_;
};
