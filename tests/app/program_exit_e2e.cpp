// The program ends with 0 and without a crash through each of its doors while a task is busy: a
// download that trickles in (its worker is blocked in a read when the exit comes) and an extraction
// (its worker waits for the extractor, which is left to finish on its own).
#include "tests/support/net_util.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kBusyTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 30000;
constexpr DWORD kPollMs = 100;
// The stand-in extractor sleeps this long, far beyond the exit's wait for workers.
constexpr unsigned kExtractorSleepMs = 6000;

enum class Door { TrayMenu, CloseDownloadWindow, EndSession };
enum class Busy { Downloading, Extracting };

struct ExitCase {
    const char* label;
    Door door;
    Busy busy;
};

bool WaitForTaskStatus(int port, const std::string& status) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kBusyTimeoutMs) {
        if (ReplyBody(HttpExchange(port, SimpleGet("/api/tasks"))).find("\"status\":\"" + status + "\"") !=
            std::string::npos) {
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

bool KnockOnDoor(const TarnProgram& program, Door door) {
    const HWND tray = FindProcessWindow(program.processId(), L"TarnDownloader_Main");
    const HWND window = FindProcessWindow(program.processId(), L"TarnDownloadWnd");
    switch (door) {
        case Door::TrayMenu:
            return tray && PostMessageW(tray, WM_COMMAND, 1002, 0);
        case Door::CloseDownloadWindow:
            return window && PostMessageW(window, WM_CLOSE, 0, 0);
        case Door::EndSession: {
            DWORD_PTR result = 0;
            return tray &&
                   SendMessageTimeoutW(tray, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, kExitTimeoutMs, &result);
        }
    }
    return false;
}

}  // namespace

TEST(ProgramExit, EveryDoorEndsWithZeroWhileATaskIsBusy) {
    const ExitCase cases[] = {
        {"tray menu while downloading", Door::TrayMenu, Busy::Downloading},
        {"closing the window while extracting", Door::CloseDownloadWindow, Busy::Extracting},
        {"end of session while downloading", Door::EndSession, Busy::Downloading},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.label);
        PipelineEnvironment environment;
        TestHttpServer server;
        TestResponse trickle{200, std::string(200000, 'x')};
        trickle.pieceBytes = 1000;
        trickle.pauseMs = 2500;
        server.Serve("/slow.zip", trickle);
        server.Serve("/pack.zip", TestResponse{200, MakeStoredZip({{"sfx_a.png", "a"}})});

        TarnProgram program;
        ProgramSettings settings;
        settings.port = PickFreePort();
        program.WriteSettings(settings);
        ASSERT_TRUE(environment.InstallFakeExtractor(kExtractorSleepMs, 0, program.directory()));
        ASSERT_TRUE(program.Start());
        ASSERT_NE(program.WaitForTrayWindow(kStartTimeoutMs), nullptr);
        ASSERT_TRUE(WaitForPortOpen(settings.port, kStartTimeoutMs));

        const bool extracting = c.busy == Busy::Extracting;
        const std::string path = extracting ? "/pack.zip" : "/slow.zip";
        HttpExchange(settings.port, SimpleGet("/api/download?url=" + server.UrlUtf8(path) + "&name=busy"));
        ASSERT_TRUE(WaitForTaskStatus(settings.port, extracting ? "extracting" : "downloading"));

        ASSERT_TRUE(KnockOnDoor(program, c.door));
        DWORD exitCode = 1;
        ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
        EXPECT_EQ(exitCode, 0u);
        if (extracting) {
            const std::wstring done = program.directory() + L"\\fake_extractor_done.txt";
            const DWORD start = GetTickCount();
            while (!FileExists(done) && GetTickCount() - start < kExtractorSleepMs + kBusyTimeoutMs) {
                Sleep(kPollMs);
            }
            EXPECT_TRUE(FileExists(done)) << "the extractor was left to finish";
        }
    }
}
