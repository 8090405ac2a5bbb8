// The built TarnDown.exe: it opens its download window, ends with 0 through the tray's exit
// command or by closing the window, a second start brings the first one's window back, and a
// failed task's row tells why in its tooltip.
#include "tests/support/message_pump.h"
#include "tests/support/net_util.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 15000;
constexpr int kHoverAttempts = 5;
constexpr DWORD kHoverWaitMs = 3000;

HWND WaitForDownloadWindow(const TarnProgram& program, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HWND window = FindProcessWindow(program.processId(), L"TarnDownloadWnd");
        if ((window && IsWindowVisible(window)) || GetTickCount() - start >= timeoutMs) {
            return window;
        }
        Sleep(50);
    }
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

void StartProgram(TarnProgram* program, int* port = nullptr) {
    ProgramSettings settings;
    settings.port = PickFreePort();
    program->WriteSettings(settings);
    ASSERT_TRUE(program->Start());
    ASSERT_NE(program->WaitForTrayWindow(kStartTimeoutMs), nullptr);
    if (port) {
        *port = settings.port;
    }
}

// The text of the program's visible tooltip, read through the window itself; empty while none is
// shown.
std::wstring ShownTooltipText(DWORD processId) {
    for (const HWND window : ProcessWindows(processId)) {
        if (WindowClassName(window) != L"tooltips_class32" || !IsWindowVisible(window)) {
            continue;
        }
        wchar_t text[1024] = {};
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                2000, &copied)) {
            return text;
        }
    }
    return L"";
}

}  // namespace

TEST(DownloadWindowProgram, ShowsItsWindowAndTheTrayExitEndsItWithZero) {
    TarnProgram program;
    StartProgram(&program);
    const HWND window = WaitForDownloadWindow(program, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(WindowText(window), L"橙帆素材库·下载助手 v1.0.0");
    // No browser runtime under Wine: the downloader-only window.
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 980);
    EXPECT_EQ(client.bottom, 200);
    const HWND list = GetDlgItem(window, 2011);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(IsWindowVisible(list));

    ASSERT_TRUE(program.RequestExit());
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(IsWindow(window));
}

TEST(DownloadWindowProgram, ClosingTheWindowEndsTheProgramWithZero) {
    TarnProgram program;
    StartProgram(&program);
    const HWND window = WaitForDownloadWindow(program, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST(DownloadWindowProgram, ASecondStartBringsTheFirstWindowForwardAndReturnsZero) {
    TarnProgram program;
    StartProgram(&program);
    const HWND window = WaitForDownloadWindow(program, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != FALSE; }, 5000));

    EXPECT_EQ(RunProgramToExit(program.exePath(), kExitTimeoutMs), 0);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(window) && IsWindowVisible(window); }, 5000));
    // Still the first instance's one window, and the first instance still runs.
    EXPECT_EQ(FindProcessWindow(program.processId(), L"TarnDownloadWnd"), window);
    DWORD exitCode = 0;
    EXPECT_FALSE(program.WaitForExit(0, &exitCode));

    ASSERT_TRUE(program.RequestExit());
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// A failed download says why in the tooltip of its row, shown by moving the pointer onto the row.
TEST(DownloadWindowProgram, HoveringAFailedRowShowsItsNamePathAndErrorInATooltip) {
    TestHttpServer files;  // answers 404 to every path
    TarnProgram program;
    int port = 0;
    StartProgram(&program, &port);
    const HWND window = WaitForDownloadWindow(program, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    const std::string url = files.UrlUtf8("/missing.zip");
    ASSERT_NE(
        HttpExchange(port, SimpleGet("/api/download?url=" + url + "&name=broken")).find("Download started"),
        std::string::npos);
    ASSERT_TRUE(WaitFor(
        [&] {
            return HttpExchange(port, SimpleGet("/api/tasks")).find("\"status\":\"failed\"") !=
                   std::string::npos;
        },
        kStartTimeoutMs));

    // Above any other test's windows, away from the screen's centre where they open.
    SetWindowPos(window, HWND_TOPMOST, 0, 760, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    const HWND list = GetDlgItem(window, 2011);
    const HWND header = GetWindow(list, GW_CHILD);
    ASSERT_NE(header, nullptr);
    // The tip shows once the pointer has rested on the row for a moment; each move starts that
    // wait again, so the pointer moves only when a wait ran out.
    std::wstring tip;
    for (int attempt = 0; attempt < kHoverAttempts && tip.empty(); ++attempt) {
        RECT listRect = {};
        RECT headerRect = {};
        GetWindowRect(list, &listRect);
        GetWindowRect(header, &headerRect);
        POINT point = {listRect.left + 60, headerRect.bottom + 6};
        SetCursorPos(point.x, point.y);
        ScreenToClient(list, &point);
        PostMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
        WaitFor(
            [&] {
                tip = ShownTooltipText(program.processId());
                return !tip.empty();
            },
            kHoverWaitMs);
    }
    ASSERT_FALSE(tip.empty());
    const std::wstring downloads = program.directory() + L"\\downloads\\broken_";
    EXPECT_EQ(tip.substr(0, 12 + downloads.size()), L"broken.zip\r\n" + downloads) << tip;
    const std::wstring reason = L".zip\r\nHTTP 404 error";
    ASSERT_GT(tip.size(), reason.size());
    EXPECT_EQ(tip.substr(tip.size() - reason.size()), reason) << tip;

    ASSERT_TRUE(program.RequestExit());
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}
