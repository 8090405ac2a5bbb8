// A raw TCP client for speaking to the program's HTTP API byte for byte: requests sent in pieces,
// malformed requests, and replies read whole until the server closes.
#pragma once

#include "base/win32.h"

#include <string>
#include <vector>

struct RawExchange {
    bool connected = false;
    bool closedByServer = false;  // the read ended because the server closed (not the timeout)
    std::string reply;            // every byte received
    DWORD elapsedMs = 0;          // from the end of sending to the end of the read
};

struct RawSendOptions {
    DWORD pauseMs = 0;            // between the pieces, so each arrives in its own segment
    bool closeSendSide = false;   // shutdown(SD_SEND) after the last piece
    DWORD readTimeoutMs = 20000;  // give up reading after this long
    DWORD slowReadPauseMs = 0;    // when set, read 4 KiB at a time with this pause after each read
};

// Connects to 127.0.0.1:port, sends the pieces, reads until the server closes.
RawExchange ExchangeRaw(int port, const std::vector<std::string>& pieces, const RawSendOptions& options = {});

// The whole reply to one request sent in one piece; empty when nothing came.
std::string HttpExchange(int port, const std::string& request);

// "GET <target> HTTP/1.1" with a loopback Host header and nothing else.
std::string SimpleGet(const std::string& target);

// True once a connection to 127.0.0.1:port is accepted, polling until the timeout.
bool WaitForPortOpen(int port, DWORD timeoutMs);

// The reply the API must send, written out independently of the program's own formatter.
std::string ExpectedReply(int statusCode, const std::string& contentType, const std::string& body);

// The body of a reply (what follows the first blank line); empty when there is none.
std::string ReplyBody(const std::string& reply);
