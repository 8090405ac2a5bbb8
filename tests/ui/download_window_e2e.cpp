// The built TarnDown.exe: it opens its download window, ends with 0 through the tray's exit
// command or by closing the window, a second start brings the first one's window back, and a
// failed task's row tells why in its tooltip. Its install button fetches and starts the runtime
// bootstrapper (in a test copy of the program whose installer talks to the local test server)
// and then ends the program.
#include "tests/support/message_pump.h"
#include "tests/support/net_util.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 15000;
constexpr DWORD kTaskTimeoutMs = 30000;
// Well inside the two seconds the program waits after starting the bootstrapper.
constexpr DWORD kStillRunningCheckMs = 1000;
constexpr int kInstallButtonId = 2029;
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

int StartProgram(TarnProgram* program) {
    ProgramSettings settings;
    settings.port = PickFreePort();
    program->WriteSettings(settings);
    EXPECT_TRUE(program->Start());
    EXPECT_NE(program->WaitForTrayWindow(kStartTimeoutMs), nullptr);
    return settings.port;
}

// Clicks the install button and answers Yes to the question the program asks.
void InstallAndAnswerYes(const TarnProgram& program, HWND window) {
    const HWND button = GetDlgItem(window, kInstallButtonId);
    ASSERT_NE(button, nullptr);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kInstallButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    HWND question = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            question = FindProcessWindow(program.processId(), L"#32770");
            return question && IsWindowVisible(question);
        },
        kStartTimeoutMs));
    EXPECT_EQ(WindowText(question), L"安装 WebView2");
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(question, IDYES)));
}

bool WaitForTasksText(int port, const std::string& text) {
    return WaitFor(
        [&] {
            return ReplyBody(HttpExchange(port, SimpleGet("/api/tasks"))).find(text) != std::string::npos;
        },
        kTaskTimeoutMs);
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

TEST(DownloadWindowProgram, TheInstallButtonStartsTheDownloadedBootstrapperAndEndsTheProgram) {
    // The stand-in bootstrapper, made as large as the real one must at least be (bytes after the
    // image do not keep it from running).
    std::string bootstrapper = ReadFileBytes(TestProgramDirectory() + L"\\fake_bootstrapper.exe");
    ASSERT_FALSE(bootstrapper.empty()) << "the stand-in bootstrapper is missing";
    if (bootstrapper.size() < 100000) {
        bootstrapper.resize(100000, '\0');
    }
    TestHttpServer server;
    TempDir temp(L"tmp");
    const std::wstring mark = temp / L"bootstrapper_started.txt";
    const std::wstring downloaded = temp / L"WebView2_Bootstrapper.exe";
    // The program and what it starts inherit these: its temporary folder, the test server's port
    // for its installer's requests, and where the stand-in leaves its mark.
    ScopedEnvironmentVariable tmp(L"TMP", temp.path() + L"\\");
    ScopedEnvironmentVariable tempVariable(L"TEMP", temp.path() + L"\\");
    ScopedEnvironmentVariable serverPort(L"TARN_TEST_INSTALLER_PORT", std::to_wstring(server.port()));
    ScopedEnvironmentVariable markPath(L"TARN_TEST_BOOTSTRAPPER_MARK", mark);
    TarnProgram program(L"TarnDown_installer_test.exe");
    const int port = StartProgram(&program);
    ASSERT_FALSE(HasFatalFailure());
    const HWND window = WaitForDownloadWindow(program, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);

    // The link answers 404: the task fails and the program stays.
    ASSERT_NO_FATAL_FAILURE(InstallAndAnswerYes(program, window));
    EXPECT_TRUE(WaitForTasksText(port,
                                 "{\"id\":0,\"name\":\"WebView2_Installer\",\"status\":\"failed\","
                                 "\"progress\":0,\"error\":\"下载失败\"}"));
    DWORD exitCode = 1;
    EXPECT_FALSE(program.WaitForExit(3000, &exitCode));
    EXPECT_FALSE(FileExists(mark));

    // The link redirects to the file: it is downloaded, started, and the program ends.
    server.Serve("/fwlink/?linkid=2124703", RedirectTo("https://download.test/WebView2Setup.exe"));
    server.Serve("/WebView2Setup.exe", TestResponse{200, bootstrapper});
    ASSERT_NO_FATAL_FAILURE(InstallAndAnswerYes(program, window));
    ASSERT_TRUE(WaitForTasksText(port,
                                 "{\"id\":1,\"name\":\"WebView2_Installer\",\"status\":\"completed\","
                                 "\"progress\":100,\"error\":\"\"}"));
    // The bootstrapper gets two seconds: a second after the task completed the program still runs.
    Sleep(kStillRunningCheckMs);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(program.WaitForExit(0, &exitCode));
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(ReadFileBytes(downloaded) == bootstrapper);
    ASSERT_TRUE(WaitFor([&] { return FileExists(mark); }, kTaskTimeoutMs));
    std::string started;
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(mark, &started) && !started.empty(); }, kTaskTimeoutMs));
    const std::wstring startedPath(reinterpret_cast<const wchar_t*>(started.data()), started.size() / 2);
    EXPECT_EQ(_wcsicmp(startedPath.c_str(), downloaded.c_str()), 0) << "started: " << started.size();
}

// A failed download says why in the tooltip of its row, shown by moving the pointer onto the row.
TEST(DownloadWindowProgram, HoveringAFailedRowShowsItsNamePathAndErrorInATooltip) {
    TestHttpServer files;  // answers 404 to every path
    TarnProgram program;
    const int port = StartProgram(&program);
    ASSERT_FALSE(HasFatalFailure());
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
