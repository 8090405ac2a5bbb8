#include "api/http_receive.h"

#include "api/http_request.h"
#include "api/socket_wait.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// How long one wait for more data of a started request may last.
constexpr DWORD kReceiveTimeoutMs = 3000;
// The whole request must arrive within this time, however slowly a client trickles bytes in: the
// server serves one connection at a time, so a slow client would otherwise block every other one.
constexpr DWORD kRequestDeadlineMs = 10000;
// Bounds on discarding what a client still sends after its reply.
constexpr DWORD kDrainDeadlineMs = 1000;
constexpr size_t kMaxDrainBytes = 1 << 20;
constexpr size_t kDrainChunkBytes = 16384;

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// Position just past the empty line that ends the header block, searching only from `from`, so
// that a client sending its request a byte at a time costs linear work. npos while it has not come.
size_t FindHeaderEnd(const std::string& data, size_t size, size_t from) {
    const char* begin = data.data();
    const char* newline = static_cast<const char*>(std::memchr(begin, '\n', size));
    if (!newline) {
        return std::string::npos;
    }
    const size_t firstLineEnd = static_cast<size_t>(newline - begin);
    for (size_t pos = std::max(from, firstLineEnd); pos < size; ++pos) {
        if (data[pos] != '\n') {
            continue;
        }
        if (pos + 1 < size && data[pos + 1] == '\n') {
            return pos + 2;
        }
        if (pos + 2 < size && data[pos + 1] == '\r' && data[pos + 2] == '\n') {
            return pos + 3;
        }
    }
    return std::string::npos;
}

// Bytes the whole request takes according to its complete header block; saturates far above
// kMaxRequestBytes.
unsigned long long ExpectedRequestBytes(const std::string& headerBlock) {
    const HeaderBlockInfo info = ScanHeaderBlock(headerBlock);
    const long long length = ParseLeadingInteger(info.contentLengthText);
    return headerBlock.size() + static_cast<unsigned long long>(std::max(0LL, length));
}

}  // namespace

ReceivedRequest ReceiveHttpRequest(ClientSocket& client) {
    const SOCKET socket = client.get();
    ReceivedRequest result;
    const DWORD accepted = GetTickCount();
    DWORD firstData = 0;
    // The server thread's one request buffer, kept across connections: only what this request
    // wrote into it (its first `received` bytes) is ever looked at.
    thread_local std::string data(kMaxRequestBytes, '\0');
    size_t received = 0;
    unsigned long long expected = 0;  // 0 until the header block has ended
    bool clientClosed = false;
    for (;;) {
        // The request is usually there by the time the connection is accepted, so the read comes
        // first and the wait only when it finds nothing. A blocking socket's first read waits by
        // itself, within the first-data wait the socket carries.
        const int count = recv(socket, &data[received], static_cast<int>(kMaxRequestBytes - received), 0);
        if (count == SOCKET_ERROR && !client.blocking() && WouldBlock()) {
            const DWORD wait = received == 0
                                   ? RemainingMs(accepted, kFirstDataWaitMs)
                                   : std::min(kReceiveTimeoutMs, RemainingMs(firstData, kRequestDeadlineMs));
            if (wait != 0 && WaitForSocket(socket, SocketWait::Read, wait)) {
                continue;
            }
            if (received == 0) {
                return result;
            }
            break;
        }
        if (count <= 0) {
            if (received == 0) {
                return result;
            }
            clientClosed = count == 0;
            break;
        }
        if (received == 0) {
            firstData = GetTickCount();
        }
        const size_t searchFrom = received >= 2 ? received - 2 : 0;
        received += static_cast<size_t>(count);
        if (expected == 0) {
            const size_t headerEnd = FindHeaderEnd(data, received, searchFrom);
            if (headerEnd != std::string::npos) {
                expected = ExpectedRequestBytes(data.substr(0, headerEnd));
            }
        }
        if (expected > kMaxRequestBytes || (expected == 0 && received >= kMaxRequestBytes)) {
            result.outcome = ReceiveOutcome::TooLarge;
            result.clientMaySendMore = true;
            return result;
        }
        if (expected != 0 && received >= expected) {
            break;
        }
        // The rest of the request is read under the server's own limits: each wait bounded, and
        // the deadline for the whole request.
        if (!client.MakeNonBlocking()) {
            return ReceivedRequest();
        }
    }
    result.outcome =
        (expected != 0 && received < expected) ? ReceiveOutcome::Incomplete : ReceiveOutcome::Complete;
    result.clientMaySendMore = !clientClosed && (expected == 0 || received != expected);
    const void* zero = std::memchr(data.data(), '\0', received);
    result.text.assign(data.data(), zero ? static_cast<const char*>(zero) - data.data() : received);
    return result;
}

void FinishConnection(ClientSocket& client, const ReceivedRequest& received) {
    const SOCKET socket = client.get();
    // The end of the reply goes out first: the client has all it waits for at once, and what the
    // server still does with this connection no longer delays it.
    shutdown(socket, SD_SEND);
    if (!received.clientMaySendMore) {
        // The client sent exactly its request. Whether anything came after it while the reply was
        // made (a stray line end after a body, say) is one question to the system, much cheaper
        // than a read; if nothing did, closing now ends the connection in order.
        u_long unread = 0;
        if (ioctlsocket(socket, FIONREAD, &unread) != 0 || unread == 0) {
            return;
        }
    }
    if (!client.MakeNonBlocking()) {
        return;
    }
    const DWORD start = GetTickCount();
    std::vector<char> scratch(kDrainChunkBytes);
    size_t drained = 0;
    while (drained < kMaxDrainBytes) {
        const int count = recv(socket, scratch.data(), static_cast<int>(scratch.size()), 0);
        if (count == SOCKET_ERROR && WouldBlock()) {
            const DWORD wait = RemainingMs(start, kDrainDeadlineMs);
            if (wait == 0 || !WaitForSocket(socket, SocketWait::Read, wait)) {
                return;
            }
            continue;
        }
        if (count <= 0) {
            return;
        }
        drained += static_cast<size_t>(count);
    }
}
