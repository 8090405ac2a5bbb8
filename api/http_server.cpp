#include "api/http_server.h"

#include "api/http_receive.h"
#include "api/http_router.h"
#include "base/debug_trace.h"
#include "state/config.h"

#include <cwchar>
#include <string>
#include <system_error>
#include <thread>

std::atomic<bool> g_serverRunning{true};

namespace {

// One connection is served at a time, so a burst of requests (a tool submitting a whole batch)
// waits in the listen queue. With a queue of 20, bursts of 200 lost requests to resets and empty
// replies while the machine was busy; the system's maximum queue lost none.
constexpr int kListenBacklog = SOMAXCONN;
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
// The accept wait, and so how soon the thread notices that g_serverRunning was cleared.
constexpr long kAcceptWaitMs = 1000;
constexpr const wchar_t* kErrorCaption = L"Error";
constexpr const wchar_t* kPortInUseCaption = L"启动失败";
constexpr const wchar_t* kPortInUseFormat = L"端口 %d 已被占用\n请修改配置或关闭冲突程序";

// Owns the Winsock start-up of the server thread.
class WinsockSession {
  public:
    WinsockSession() {
        WSADATA data = {};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (started_) {
            WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool started() const { return started_; }

  private:
    bool started_ = false;
};

void ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
}

// The start-up failure boxes are modal. Shown on the server thread they would keep it alive until
// the user answers, and the shutdown, which joins that thread, would hang with them; so they get a
// detached thread of their own and the server thread ends at once.
void ReportStartFailure(const std::wstring& text, const std::wstring& caption) {
    try {
        std::thread(ShowErrorBox, text, caption).detach();
    } catch (const std::system_error&) {
        ShowErrorBox(text, caption);
    }
}

std::wstring PortInUseText(int port) {
    wchar_t text[128] = {};
    swprintf(text, sizeof(text) / sizeof(text[0]), kPortInUseFormat, port);
    return text;
}

// True when a client is waiting, within the accept wait.
bool WaitForClient(SOCKET listener) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(listener, &readSet);
    timeval timeout = {};
    timeout.tv_sec = kAcceptWaitMs / 1000;
    timeout.tv_usec = (kAcceptWaitMs % 1000) * 1000;
    return select(0, &readSet, nullptr, nullptr, &timeout) == 1;
}

void ServeConnection(SOCKET listener) {
    UniqueSocket client(accept(listener, nullptr, nullptr));
    if (!client) {
        return;
    }
    const ReceivedRequest received = ReceiveHttpRequest(client.get());
    if (received.outcome == ReceiveOutcome::NoData) {
        return;
    }
    ServeHttpRequest(client.get(), received);
    FinishConnection(client.get());
}

}  // namespace

UniqueSocket CreateListeningSocket(int port, ListenFailure* failure) {
    // Port 0 would let the system pick a random port (and 65536 + n would wrap to n): the API would
    // then answer somewhere nobody looks, so a setting outside the range fails like a taken port.
    if (port < kMinPort || port > kMaxPort) {
        *failure = ListenFailure::Bind;
        return UniqueSocket();
    }
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener) {
        *failure = ListenFailure::Socket;
        return UniqueSocket();
    }
    // Exclusive use: with SO_REUSEADDR another program could bind the same port on Windows and
    // take over the API's connections, and the port-in-use message would never appear.
    const BOOL exclusive = TRUE;
    setsockopt(listener.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof(exclusive));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(static_cast<u_short>(port));
    if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        *failure = ListenFailure::Bind;
        return UniqueSocket();
    }
    if (listen(listener.get(), kListenBacklog) != 0) {
        *failure = ListenFailure::Listen;
        return UniqueSocket();
    }
    *failure = ListenFailure::None;
    return listener;
}

void RunHttpServer() {
    WinsockSession winsock;
    if (!winsock.started()) {
        ReportStartFailure(L"WSAStartup failed", kErrorCaption);
        return;
    }
    const int port = GetConfig().port;
    ListenFailure failure = ListenFailure::None;
    const UniqueSocket listener = CreateListeningSocket(port, &failure);
    switch (failure) {
        case ListenFailure::Socket:
            ReportStartFailure(L"Socket creation failed", kErrorCaption);
            return;
        case ListenFailure::Bind:
            ReportStartFailure(PortInUseText(port), kPortInUseCaption);
            return;
        case ListenFailure::Listen:
            ReportStartFailure(L"Listen failed", kErrorCaption);
            return;
        case ListenFailure::None:
            break;
    }
    DebugTrace(L"HTTP server listening on 127.0.0.1:%d", port);
    while (g_serverRunning.load()) {
        if (WaitForClient(listener.get())) {
            ServeConnection(listener.get());
        }
    }
}
