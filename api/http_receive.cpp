#include "api/http_receive.h"

#include "api/http_request.h"

#include <algorithm>
#include <vector>

namespace {

// How long a new connection may stay silent before it is dropped without a reply.
constexpr DWORD kFirstDataWaitMs = 2000;
// How long one wait for more data of a started request may last.
constexpr DWORD kReceiveTimeoutMs = 3000;
// The whole request must arrive within this time, however slowly a client trickles bytes in: the
// server serves one connection at a time, so a slow client would otherwise block every other one.
constexpr DWORD kRequestDeadlineMs = 10000;
// A client that does not read its reply cannot hold the server longer than this per send.
constexpr DWORD kSendTimeoutMs = 5000;
// Bounds on discarding what a client still sends after its reply.
constexpr DWORD kDrainDeadlineMs = 1000;
constexpr size_t kMaxDrainBytes = 1 << 20;
constexpr size_t kDrainChunkBytes = 16384;

void SetTimeoutOption(SOCKET socket, int option, DWORD milliseconds) {
    setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
               sizeof(milliseconds));
}

// True when the socket has data (or a close) to read within `milliseconds`.
bool WaitReadable(SOCKET socket, DWORD milliseconds) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(socket, &readSet);
    timeval timeout = {};
    timeout.tv_sec = static_cast<long>(milliseconds / 1000);
    timeout.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    return select(0, &readSet, nullptr, nullptr, &timeout) == 1;
}

DWORD RemainingMs(DWORD start, DWORD deadlineMs) {
    const DWORD elapsed = GetTickCount() - start;
    return elapsed >= deadlineMs ? 0 : deadlineMs - elapsed;
}

// Position just past the empty line that ends the header block, searching only from `from`, so
// that a client sending its request a byte at a time costs linear work. npos while it has not come.
size_t FindHeaderEnd(const std::string& data, size_t size, size_t from) {
    const size_t firstLineEnd = data.find('\n');
    if (firstLineEnd == std::string::npos || firstLineEnd >= size) {
        return std::string::npos;
    }
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

ReceivedRequest ReceiveHttpRequest(SOCKET socket) {
    ReceivedRequest result;
    SetTimeoutOption(socket, SO_RCVTIMEO, kReceiveTimeoutMs);
    SetTimeoutOption(socket, SO_SNDTIMEO, kSendTimeoutMs);
    if (!WaitReadable(socket, kFirstDataWaitMs)) {
        return result;
    }
    const DWORD start = GetTickCount();
    // Zero-filled, so a search never runs into bytes of an earlier request.
    std::string data(kMaxRequestBytes, '\0');
    size_t received = 0;
    unsigned long long expected = 0;  // 0 until the header block has ended
    for (;;) {
        const int count = recv(socket, &data[received], static_cast<int>(kMaxRequestBytes - received), 0);
        if (count <= 0) {
            if (received == 0) {
                return result;
            }
            break;
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
            return result;
        }
        if (expected != 0 && received >= expected) {
            break;
        }
        const DWORD wait = std::min(kReceiveTimeoutMs, RemainingMs(start, kRequestDeadlineMs));
        if (wait == 0 || !WaitReadable(socket, wait)) {
            break;
        }
    }
    data.resize(received);
    result.outcome =
        (expected != 0 && received < expected) ? ReceiveOutcome::Incomplete : ReceiveOutcome::Complete;
    result.text = data.substr(0, data.find('\0'));
    return result;
}

void FinishConnection(SOCKET socket) {
    shutdown(socket, SD_SEND);
    const DWORD start = GetTickCount();
    std::vector<char> scratch(kDrainChunkBytes);
    size_t drained = 0;
    while (drained < kMaxDrainBytes) {
        const DWORD wait = RemainingMs(start, kDrainDeadlineMs);
        if (wait == 0 || !WaitReadable(socket, wait)) {
            return;
        }
        const int count = recv(socket, scratch.data(), static_cast<int>(scratch.size()), 0);
        if (count <= 0) {
            return;
        }
        drained += static_cast<size_t>(count);
    }
}
