#include "tests/support/message_pump.h"

#include <string>

namespace {

constexpr DWORD kQuietMs = 30;
constexpr int kMaxTextChars = 512;

int g_quitCount = 0;
int g_lastQuitCode = -1;

bool DispatchOne() {
    MSG message = {};
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (message.message == WM_QUIT) {
        ++g_quitCount;
        g_lastQuitCode = static_cast<int>(message.wParam);
        return true;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return true;
}

}  // namespace

void PumpMessages() {
    DWORD quietSince = GetTickCount();
    while (GetTickCount() - quietSince < kQuietMs) {
        if (DispatchOne()) {
            quietSince = GetTickCount();
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) {
            return done();
        }
        if (!DispatchOne()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    return true;
}

int QuitMessagesSeen() {
    return g_quitCount;
}

int LastQuitExitCode() {
    return g_lastQuitCode;
}

RECT ChildRect(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[kMaxTextChars] = {};
    GetWindowTextW(window, buffer, kMaxTextChars);
    return buffer;
}
