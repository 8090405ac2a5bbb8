#include "tests/support/download_window_fixture.h"

#include "state/app_state.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tests/support/message_pump.h"
#include "ui/download_window.h"
#include "webhost/browser_errors.h"
#include "webhost/loader_library.h"
#include "webhost/runtime_discovery.h"

namespace {

bool RuntimePresent() {
    return true;
}

bool RuntimeAbsent() {
    return false;
}

// A normal-mode window in a test program carries no loader image (see SetUp), finds no loader
// library beside it and reports that; the report must not stop the test in a message box.
void IgnoreBrowserError(const wchar_t*, const wchar_t*) {}

}  // namespace

// The settings file deliberately lacks three keys: any save adds them, so a test can tell whether
// the window wrote the file.
void DownloadWindowFixture::SetUp() {
    ResetExitForTesting();
    SetBrowserErrorSinkForTesting(IgnoreBrowserError);
    // Without this the window would write Microsoft's loader to the shared temporary folder, which
    // test programs running side by side share, and the loader would look for a runtime that a
    // browser test may have registered for its own program.
    SetLoaderImageForTesting(nullptr, 0);
    const std::wstring text =
        L"[Settings]\r\nPort=61206\r\nDownloadDir=" + DownloadDir() + L"\r\nDevDir=" + DevDir() + L"\r\n";
    ASSERT_TRUE(WriteFileBytes(ConfigPath(), std::string("\xFF\xFE") + Utf16LeBytes(text)));
    LoadConfigForExecutable(dir_ / L"TarnDown.exe");
}

void DownloadWindowFixture::TearDown() {
    const HWND window = g_hDownloadWnd.load();
    if (window && IsWindow(window)) {
        DestroyWindow(window);
    }
    PumpMessages();
    SetRuntimeCheckForTesting(nullptr);
    SetBrowserErrorSinkForTesting(nullptr);
    RestoreLoaderImageForTesting();
    // Closing the window began the program's exit; the next test starts a new program.
    ResetExitForTesting();
}

HWND DownloadWindowFixture::OpenWindow(bool runtimeInstalled) {
    SetRuntimeCheckForTesting(runtimeInstalled ? RuntimePresent : RuntimeAbsent);
    ShowDownloadWindow();
    PumpMessages();
    window_ = g_hDownloadWnd.load();
    return window_;
}

void DownloadWindowFixture::SetClientSize(int width, int height) {
    RECT frame = {};
    RECT client = {};
    GetWindowRect(window_, &frame);
    GetClientRect(window_, &client);
    const int frameWidth = width + (frame.right - frame.left) - client.right;
    const int frameHeight = height + (frame.bottom - frame.top) - client.bottom;
    SetWindowPos(window_, nullptr, 0, 0, frameWidth, frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
}

SIZE DownloadWindowFixture::ClientSize() const {
    RECT client = {};
    GetClientRect(window_, &client);
    return SIZE{client.right, client.bottom};
}

void DownloadWindowFixture::Command(int id, UINT code) {
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
}
