#include "tasks/task_name.h"

#include "base/win32.h"

#include "base/text_convert.h"
#include "state/config.h"
#include "tasks/task_creation.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A cleaned name is safe when it is one path component that Windows accepts as an ordinary file.
void ExpectSingleSafeComponent(const std::string& cleaned) {
    const std::wstring wide = Utf8ToWide(cleaned);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.find_first_of(L"\\/:*?\"<>|"), std::wstring::npos) << cleaned;
    EXPECT_NE(wide.back(), L'.') << cleaned;
    EXPECT_NE(wide.back(), L' ') << cleaned;
    EXPECT_NE(wide.front(), L' ') << cleaned;
    EXPECT_NE(wide, L".");
    EXPECT_NE(wide, L"..");
    EXPECT_LE(wide.size(), kMaxTaskNameChars);
    for (wchar_t ch : wide) {
        EXPECT_GE(ch, 0x20) << cleaned;
    }
}

}  // namespace

TEST(CleanTaskName, OrdinaryNamesAreKept) {
    EXPECT_EQ(CleanTaskName("pack"), "pack");
    EXPECT_EQ(CleanTaskName("pack.zip"), "pack.zip");
    EXPECT_EQ(CleanTaskName("特效 包_01 (new)"), "特效 包_01 (new)");
    EXPECT_EQ(CleanTaskName(".hidden"), ".hidden");
    EXPECT_EQ(CleanTaskName("it's $x; a&b"), "it's $x; a&b");
}

TEST(CleanTaskName, TraversalSeparatorsAndDrivesCannotEscape) {
    EXPECT_EQ(CleanTaskName("../../Windows/System32"), ".._.._Windows_System32");
    EXPECT_EQ(CleanTaskName("..\\..\\evil"), ".._.._evil");
    EXPECT_EQ(CleanTaskName("C:\\Windows"), "C__Windows");
    EXPECT_EQ(CleanTaskName("\\\\server\\share\\x"), "__server_share_x");
    EXPECT_EQ(CleanTaskName(".."), "download");
    EXPECT_EQ(CleanTaskName("."), "download");
    EXPECT_EQ(CleanTaskName(" . . "), "download");
    EXPECT_EQ(CleanTaskName(""), "download");
    EXPECT_EQ(CleanTaskName("a<b>c:d\"e|f?g*h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(CleanTaskName(std::string("a\x01\tb\x7f", 5)), "a__b_");
    EXPECT_EQ(CleanTaskName("name. . ."), "name");
    EXPECT_EQ(CleanTaskName("  lead"), "lead");
    EXPECT_EQ(CleanTaskName("stream:$DATA"), "stream_$DATA") << "no alternate data streams";
}

TEST(CleanTaskName, ReservedDeviceNamesArePrefixed) {
    for (const char* name : {"CON", "con", "PRN", "AUX", "NUL", "nul.zip", "COM1", "lpt9.tar.gz", "CON .txt",
                             "CONIN$", "COM\xC2\xB9"}) {
        const std::string cleaned = CleanTaskName(name);
        EXPECT_EQ(cleaned, std::string("_") + name) << name;
    }
    EXPECT_EQ(CleanTaskName("CONSOLE"), "CONSOLE");
    EXPECT_EQ(CleanTaskName("COM10"), "COM10");
    EXPECT_EQ(CleanTaskName("nullify"), "nullify");
}

TEST(CleanTaskName, LongNamesAreCutWithoutSplittingACharacter) {
    std::string emoji;
    for (int i = 0; i < 60; ++i) {
        emoji += "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units each
    }
    const std::wstring cleaned = Utf8ToWide(CleanTaskName("x" + emoji));
    EXPECT_EQ(cleaned.size(), kMaxTaskNameChars - 1) << "the pair that would straddle the limit is dropped";
    EXPECT_EQ(WideToUtf8(cleaned), "x" + emoji.substr(0, 49 * 4));

    const std::string longDots = std::string(kMaxTaskNameChars - 2, 'a') + "....zzz";
    EXPECT_EQ(CleanTaskName(longDots), std::string(kMaxTaskNameChars - 2, 'a')) << "dots left at the cut go";
}

TEST(CleanTaskName, HostileNamesAlwaysGiveOneSafeComponent) {
    const char* hostile[] = {"../..", "a/../../b", "..\\", "/", "\\", "C:", "C:..\\x", "\\\\?\\C:\\x",
                             "\\\\.\\PhysicalDrive0", "x\r\ny", "*", "?", "...", "name ", "AUX.", "\xFF\xFE",
                             // One name: a right-to-left override before "gnp.exe".
                             ("\xE2\x80\xAE"
                              "gnp.exe"),
                             "nul ", "lpt1 ."};
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        ExpectSingleSafeComponent(CleanTaskName(name));
    }
}

TEST(CleanTaskName, EveryCreatedFileStaysInsideTheDownloadDirectory) {
    TempDir dir(L"names");
    LoadConfigForExecutable(dir / L"TarnDown.exe");
    const std::wstring downloads = dir / L"dl";
    UpdateConfig([&](AppConfig& config) { config.downloadDir = downloads; });
    CreateDirectoryRecursive(downloads);
    for (const char* name : {"../escape", "..\\..\\escape", "C:\\escape", "sub/dir/escape", "CON", ".."}) {
        SCOPED_TRACE(name);
        const DownloadTask task = MakeDownloadTask("http://x/a.zip", name, "");
        ASSERT_TRUE(WriteFileBytes(task.filePath, "data"));
        wchar_t full[1024] = {};
        GetFullPathNameW(task.filePath.c_str(), 1024, full, nullptr);
        const std::wstring resolved(full);
        EXPECT_EQ(resolved.rfind(downloads + L"\\", 0), 0u) << WideToUtf8(resolved);
        EXPECT_EQ(resolved.find(L'\\', downloads.size() + 1), std::wstring::npos) << WideToUtf8(resolved);
    }
}
