// The built TarnDown.exe: it opens its download window, ends with 0 through the tray's exit
// command or by closing the window, and a second start brings the first one's window back.
#include "tests/support/message_pump.h"
#include "tests/support/net_util.h"
#include "tests/support/tarn_program.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 15000;

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

void StartProgram(TarnProgram* program) {
    ProgramSettings settings;
    settings.port = PickFreePort();
    program->WriteSettings(settings);
    ASSERT_TRUE(program->Start());
    ASSERT_NE(program->WaitForTrayWindow(kStartTimeoutMs), nullptr);
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
