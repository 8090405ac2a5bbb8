#include "base/win32.h"
#include "state/config.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Writes an INI file in the plain single-byte form a user's editor (or an older release) leaves.
void WriteAsciiIni(const TempDir& dir, const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(dir / L"TarnDown.ini", text));
}

AppConfig LoadFrom(const TempDir& dir) {
    LoadConfigForExecutable(dir / L"TarnDown.exe");
    return GetConfig();
}

std::string Utf16File(const std::wstring& text) {
    return std::string("\xFF\xFE") + Utf16LeBytes(text);
}

}  // namespace

TEST(Config, FirstRunWritesDefaultsInOrderAndCreatesBothDirectories) {
    TempDir dir(L"cfg");
    LoadConfigForExecutable(dir / L"TarnDown.exe");

    EXPECT_EQ(g_exeDir, dir.path());
    EXPECT_EQ(g_configPath, dir / L"TarnDown.ini");
    EXPECT_EQ(
        ReadFileBytes(dir / L"TarnDown.ini"),
        Utf16File(L"[Settings]\r\nPort=61206\r\nDownloadDir=D:\\Downloads\r\n"
                  L"DevDir=D:\\996\\100\\VezOdevor\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n"
                  L"StartMinimized=0\r\nMaxConcurrentDownloads=3\r\nAutoRetry=1\r\nNotifyWhenDone=1\r\n"));
    const AppConfig config = GetConfig();
    EXPECT_EQ(config.port, 61206);
    EXPECT_EQ(config.downloadDir, L"D:\\Downloads");
    EXPECT_EQ(config.devDir, L"D:\\996\\100\\VezOdevor\\dev");
    EXPECT_TRUE(config.autoExtract);
    EXPECT_TRUE(config.autoCopyToDev);
    EXPECT_FALSE(config.startMinimized);
    EXPECT_EQ(config.maxDownloadBytes, 8ULL << 30) << "not written to the file, and 8 GiB unless set";
    EXPECT_TRUE(DirectoryExists(L"D:\\Downloads"));
    EXPECT_TRUE(DirectoryExists(L"D:\\996\\100\\VezOdevor\\dev"));
}

TEST(Config, ExeDirIsCutAtTheLastSeparatorOfEitherKind) {
    TempDir dir(L"cfg");
    CreateDirectoryW((dir / L"sub").c_str(), nullptr);
    LoadConfigForExecutable(dir.path() + L"\\sub/TarnDown.exe");
    EXPECT_EQ(g_exeDir, dir.path() + L"\\sub");
    EXPECT_TRUE(FileExists(dir / L"sub\\TarnDown.ini"));
}

TEST(Config, ShortOrEmptyDirectoriesFallBackToDefaultsAndFlagsAreNonZero) {
    TempDir dir(L"cfg");
    const std::wstring dev = dir / L"dev";
    WriteAsciiIni(dir,
                  "[Settings]\r\nPort=70000\r\nDownloadDir=X\r\nDevDir=\r\nAutoExtract=5\r\n"
                  "AutoCopyToDev=0\r\nStartMinimized=-2\r\nMaxConcurrentDownloads=50\r\nAutoRetry=0\r\n"
                  "NotifyWhenDone=0\r\n");
    AppConfig config = LoadFrom(dir);
    EXPECT_EQ(config.port, 70000) << "out-of-range ports load unchanged";
    EXPECT_EQ(config.downloadDir, L"D:\\Downloads");
    EXPECT_EQ(config.devDir, L"D:\\996\\100\\VezOdevor\\dev");
    EXPECT_TRUE(config.autoExtract);
    EXPECT_FALSE(config.autoCopyToDev);
    EXPECT_TRUE(config.startMinimized);
    for (const auto& [text, bytes] : std::vector<std::pair<std::string, unsigned long long>>{
             {"12345", 12345},
             {"0", kDefaultMaxDownloadBytes},
             {"-5", kDefaultMaxDownloadBytes},
             {"1e9", kDefaultMaxDownloadBytes},
             {"99999999999999999999", kDefaultMaxDownloadBytes}}) {
        WriteAsciiIni(dir, "[Settings]\r\nMaxDownloadBytes=" + text + "\r\n");
        EXPECT_EQ(LoadFrom(dir).maxDownloadBytes, bytes) << text;
    }
    EXPECT_EQ(config.maxConcurrentDownloads, 10) << "a limit above the highest is the highest";
    EXPECT_FALSE(config.autoRetry);
    EXPECT_FALSE(config.notifyWhenDone);

    WriteAsciiIni(dir, "[Settings]\r\nDownloadDir=ab\r\nMaxConcurrentDownloads=zero\r\n");
    config = LoadFrom(dir);
    EXPECT_EQ(config.downloadDir, L"ab") << "two characters are enough";
    EXPECT_EQ(config.port, 61206) << "missing keys take their defaults";
    EXPECT_TRUE(config.autoCopyToDev);
    EXPECT_FALSE(config.startMinimized);
    EXPECT_EQ(config.maxConcurrentDownloads, 3) << "an unreadable limit is the default";
    EXPECT_TRUE(config.autoRetry);
    EXPECT_TRUE(config.notifyWhenDone);
}

TEST(Config, AnExistingFileIsNotRewrittenOnLoad) {
    TempDir dir(L"cfg");
    const std::string original = "[Settings]\r\nPort=1234\r\n";
    WriteAsciiIni(dir, original);
    EXPECT_EQ(LoadFrom(dir).port, 1234);
    EXPECT_EQ(ReadFileBytes(dir / L"TarnDown.ini"), original);
}

TEST(Config, ChineseDirectoriesSurviveSaveAndReload) {
    TempDir dir(L"cfg");
    LoadFrom(dir);
    const std::wstring download = dir / L"下载 目录";
    const std::wstring dev = dir / L"开发\\客户端";
    UpdateConfig([&](AppConfig& config) {
        config.downloadDir = download;
        config.devDir = dev;
        config.autoExtract = false;
        config.port = 8080;
    });
    const AppConfig reloaded = LoadFrom(dir);
    EXPECT_EQ(reloaded.downloadDir, download);
    EXPECT_EQ(reloaded.devDir, dev);
    EXPECT_FALSE(reloaded.autoExtract);
    EXPECT_EQ(reloaded.port, 8080);
    EXPECT_TRUE(DirectoryExists(dev));
}

TEST(Config, SnapshotsNeverMixTwoUpdates) {
    TempDir dir(L"cfg");
    LoadFrom(dir);
    const int initialPort = GetConfig().port;
    constexpr int kWrites = 300;
    const std::wstring base = dir.path();
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                // Every update writes one number into the port and both directories.
                const AppConfig config = GetConfig();
                if (config.port != initialPort &&
                    (config.downloadDir != base + L"\\dl" + std::to_wstring(config.port) ||
                     config.devDir != base + L"\\dev" + std::to_wstring(config.port))) {
                    ++torn;
                }
                ++reads;
            }
        });
    }
    for (int i = 1; i <= kWrites; ++i) {
        UpdateConfig([&](AppConfig& config) {
            config.port = 1000 + i;
            config.downloadDir = base + L"\\dl" + std::to_wstring(1000 + i);
            config.devDir = base + L"\\dev" + std::to_wstring(1000 + i);
        });
    }
    done = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(LoadFrom(dir).port, 1000 + kWrites) << "the file holds the last update";
}

TEST(CreateDirectoryRecursive, MixedSeparatorsExistingPathsAndEmptyText) {
    TempDir dir(L"mkdir");
    const std::wstring target = dir.path() + L"\\a/b\\c";
    EXPECT_TRUE(CreateDirectoryRecursive(target));
    EXPECT_TRUE(DirectoryExists(dir / L"a"));
    EXPECT_TRUE(DirectoryExists(dir / L"a\\b"));
    EXPECT_TRUE(DirectoryExists(dir / L"a\\b\\c"));
    EXPECT_TRUE(CreateDirectoryRecursive(target)) << "an existing directory is success";
    EXPECT_TRUE(CreateDirectoryRecursive(dir.path() + L"\\x\\y\\")) << "trailing separator";
    EXPECT_TRUE(DirectoryExists(dir / L"x\\y"));
    EXPECT_FALSE(CreateDirectoryRecursive(L""));

    ASSERT_TRUE(WriteFileBytes(dir / L"file", "x"));
    EXPECT_TRUE(CreateDirectoryRecursive(dir / L"file")) << "something exists at the path";
    EXPECT_FALSE(CreateDirectoryRecursive(dir / L"file\\below")) << "a file is in the way";
}
