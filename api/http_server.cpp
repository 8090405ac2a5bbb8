#include "api/http_server.h"

#include "api/client_socket.h"
#include "api/http_receive.h"
#include "api/http_router.h"
#include "api/socket_wait.h"
#include "base/debug_trace.h"
#include "base/text_convert.h"
#include "state/config.h"

#include <cwchar>
#include <exception>
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
// How often the stop watcher looks at g_serverRunning, and so how soon the server thread ends
// after it was cleared.
constexpr DWORD kStopCheckMs = 100;
// The accept wait when no stop watcher could be started, and how often the watcher wakes the
// accept again while the server thread has not ended.
constexpr DWORD kAcceptWaitMs = 1000;
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

// A connection that does not carry the listener's time limits must not block at all: a silent
// client would hold the server for good.
void AnswerConnection(const UniqueSocket& socket, bool carriesTimeouts) {
    ClientSocket client(socket.get(), true);
    if (!carriesTimeouts && !client.MakeNonBlocking()) {
        return;
    }
    const ReceivedRequest received = ReceiveHttpRequest(client);
    if (received.outcome == ReceiveOutcome::NoData) {
        return;
    }
    ServeHttpRequest(client, received);
    FinishConnection(client, received);
}

// A failure while one request is answered (memory, or a fault in one handler) costs that
// connection only, which closes without a reply; the API goes on serving the next.
void ServeConnection(const UniqueSocket& socket, bool carriesTimeouts) {
    try {
        AnswerConnection(socket, carriesTimeouts);
    } catch (const std::exception& exception) {
        DebugTrace(L"ServeConnection: %ls", Utf8ToWide(exception.what()).c_str());
    } catch (...) {
        DebugTrace(L"ServeConnection: unknown exception");
    }
}

// Connects to the server's own port once, so that its blocking accept returns.
void WakeListener(int port) {
    const UniqueSocket wake(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!wake) {
        return;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(static_cast<u_short>(port));
    connect(wake.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

// The server thread waits in a blocking accept: a select before every accept costs more than the
// rest of a small request together (measured under Wine, where each is a round trip to the Wine
// server and a wait that ends in a select is slower still). This thread looks at the flag instead
// and, once it is cleared, wakes the accept with a connection of its own.
class StopWatcher {
  public:
    explicit StopWatcher(int port) {
        try {
            thread_ = std::thread([this, port] {
                // Woken again each accept wait until the server thread has ended, in case a wake
                // connection was lost or the thread was still serving a client.
                bool woken = false;
                DWORD lastWake = 0;
                while (!serverEnded_.load()) {
                    if (!g_serverRunning.load() && (!woken || GetTickCount() - lastWake >= kAcceptWaitMs)) {
                        WakeListener(port);
                        woken = true;
                        lastWake = GetTickCount();
                    }
                    Sleep(kStopCheckMs);
                }
            });
        } catch (const std::system_error&) {
        }
    }
    ~StopWatcher() {
        serverEnded_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;
    bool running() const { return thread_.joinable(); }

  private:
    std::atomic<bool> serverEnded_{false};
    std::thread thread_;
};

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
    const bool listenerHasTimeouts = SetListenerTimeouts(listener.get());
    // Asked of the first connection; until then unknown.
    bool connectionsCarryTimeouts = false;
    bool asked = false;
    const StopWatcher watcher(port);
    while (g_serverRunning.load()) {
        if (!watcher.running() && !WaitForSocket(listener.get(), SocketWait::Read, kAcceptWaitMs)) {
            continue;
        }
        const UniqueSocket client(accept(listener.get(), nullptr, nullptr));
        if (!client || !g_serverRunning.load()) {
            continue;
        }
        if (!asked) {
            connectionsCarryTimeouts = listenerHasTimeouts && HasListenerTimeouts(client.get());
            asked = true;
        }
        ServeConnection(client, connectionsCarryTimeouts);
    }
}
