#include "tests/support/net_util.h"
#include "tests/support/tarn_program.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 15000;

}  // namespace

TEST(SingleInstance, ASecondStartReturnsZeroAndLeavesTheFirstRunning) {
    TarnProgram first;
    ProgramSettings settings;
    settings.port = PickFreePort();
    first.WriteSettings(settings);
    ASSERT_TRUE(first.Start());
    const HWND tray = first.WaitForTrayWindow(kStartTimeoutMs);
    ASSERT_NE(tray, nullptr);

    EXPECT_EQ(RunProgramToExit(first.exePath(), kExitTimeoutMs), 0) << "same executable again";
    TarnProgram elsewhere;
    elsewhere.WriteSettings(settings);
    EXPECT_EQ(RunProgramToExit(elsewhere.exePath(), kExitTimeoutMs), 0) << "another copy of the program";

    DWORD exitCode = 0;
    EXPECT_FALSE(first.WaitForExit(500, &exitCode)) << "the first instance keeps running";
    EXPECT_TRUE(IsWindow(tray));
    EXPECT_EQ(FindProcessWindow(first.processId(), L"TarnDownloader_Main"), tray);

    ASSERT_TRUE(first.RequestExit());
    ASSERT_TRUE(first.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST(SingleInstance, TheExitCommandEndsTheProgramWithZeroAndAllowsANewStart) {
    TarnProgram program;
    ProgramSettings settings;
    settings.port = PickFreePort();
    program.WriteSettings(settings);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(program.Start());
        ASSERT_NE(program.WaitForTrayWindow(kStartTimeoutMs), nullptr) << "round " << round;
        ASSERT_TRUE(program.RequestExit());
        DWORD exitCode = 1;
        ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
        EXPECT_EQ(exitCode, 0u);
    }
}

TEST(Startup, FirstRunWritesTheSettingsFileBesideTheProgram) {
    TarnProgram program;
    ASSERT_FALSE(FileExists(program.configPath()));
    ASSERT_TRUE(program.Start());
    ASSERT_NE(program.WaitForTrayWindow(kStartTimeoutMs), nullptr);
    const std::string expected =
        std::string("\xFF\xFE") +
        Utf16LeBytes(
            L"[Settings]\r\nPort=61206\r\nDownloadDir=D:\\Downloads\r\n"
            L"DevDir=D:\\996\\100\\VezOdevor\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n"
            L"StartMinimized=0\r\nMaxConcurrentDownloads=3\r\nAutoRetry=1\r\nNotifyWhenDone=1\r\n");
    EXPECT_EQ(ReadFileBytes(program.configPath()), expected);
    EXPECT_TRUE(DirectoryExists(L"D:\\Downloads"));
    EXPECT_TRUE(DirectoryExists(L"D:\\996\\100\\VezOdevor\\dev"));
    ASSERT_TRUE(program.RequestExit());
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}
