#include "tasks/archive_extraction.h"

#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tests/support/net_util.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A name holding everything that means something to a shell or to PowerShell.
const std::wstring kHostileName = L"it's $HOME; & ‘x’ `n (中文) ü";
const std::string kHostileNameUtf8 = "it's $HOME; & ‘x’ `n (中文) ü";

bool IsPowerShellQuote(wchar_t ch) {
    return ch == L'\'' || ch == L'\u2018' || ch == L'\u2019' || ch == L'\u201A' || ch == L'\u201B';
}

struct PowerShellToken {
    std::wstring text;
    bool literal = false;
};

// Splits a command the way PowerShell reads bare words and single-quoted strings; false when a
// string is left open.
bool TokenizePowerShell(const std::wstring& command, std::vector<PowerShellToken>* tokens) {
    size_t i = 0;
    while (i < command.size()) {
        if (command[i] == L' ') {
            ++i;
            continue;
        }
        PowerShellToken token;
        if (IsPowerShellQuote(command[i])) {
            token.literal = true;
            ++i;
            for (;;) {
                if (i >= command.size()) {
                    return false;
                }
                if (IsPowerShellQuote(command[i])) {
                    if (i + 1 < command.size() && IsPowerShellQuote(command[i + 1])) {
                        token.text.push_back(command[i]);
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                token.text.push_back(command[i++]);
            }
        } else {
            while (i < command.size() && command[i] != L' ') {
                token.text.push_back(command[i++]);
            }
        }
        tokens->push_back(token);
    }
    return true;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

struct Extraction {
    bool ok = false;
    std::string error;
    std::vector<int> progress;
};

Extraction Extract(const std::wstring& archive, const std::wstring& destination,
                   unsigned limit = kExtractionTimeLimitSeconds) {
    Extraction result;
    result.ok = ExtractArchive(
        archive, destination, [&result](int percent) { result.progress.push_back(percent); }, result.error,
        limit);
    return result;
}

}  // namespace

TEST(ArchiveExtraction, CommandLinesAreExact) {
    EXPECT_EQ(
        BuildSevenZipCommandLine(L"C:\\Tools\\7za.exe", L"D:\\Down loads\\a b.zip", L"D:\\Down loads\\a b"),
        L"\"C:\\Tools\\7za.exe\" x -y -o\"D:\\Down loads\\a b\" \"D:\\Down loads\\a b.zip\"");
    const std::wstring powerShell = L"C:\\Win dows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
    EXPECT_EQ(
        BuildPowerShellCommandLine(powerShell, L"D:\\Down loads\\a b.zip", L"D:\\Down loads\\a b"),
        L"\"C:\\Win dows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe\" -Command \"Expand-Archive "
        L"-LiteralPath 'D:\\Down loads\\a b.zip' -DestinationPath 'D:\\Down loads\\a b' -Force\"");
    EXPECT_EQ(BuildPowerShellCommandLine(L"P.exe", L"D:\\it's.zip", L"D:\\‘it’"),
              L"\"P.exe\" -Command \"Expand-Archive -LiteralPath 'D:\\it''s.zip' -DestinationPath "
              L"'D:\\‘‘it’’' -Force\"");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(PowerShellPath(), std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe");
    EXPECT_EQ(QuotePowerShellLiteral(L"a'b‚c‛d"), L"'a''b‚‚c‛‛d'");
    EXPECT_EQ(QuotePowerShellLiteral(L""), L"''");
    // No Windows path holds a double quote; one that does is refused rather than passed on.
    EXPECT_EQ(BuildSevenZipCommandLine(L"C:\\7za.exe", L"D:\\a\".zip", L"D:\\a"), L"");
    EXPECT_EQ(BuildPowerShellCommandLine(L"P.exe", L"D:\\a.zip", L"D:\\a\" ; calc ; \""), L"");
}

TEST(ArchiveExtraction, PowerShellCommandHoldsOnlyTheExtractionForHostilePaths) {
    const std::vector<std::wstring> hostile = {
        kHostileName,
        L"D:\\a' ; Remove-Item -Recurse C:\\ ; '",
        L"D:\\x’; Start-Process calc; ‘",
        L"D:\\$(Start-Process calc)\\${env:TEMP}",
        L"D:\\trailing quote'",
        L"D:\\''",
        L"D:\\a & b ; c | d",
    };
    for (const std::wstring& archive : hostile) {
        for (const std::wstring& destination : hostile) {
            const std::wstring command = BuildPowerShellCommandLine(L"P.exe", archive, destination);
            const std::wstring prefix = L"\"P.exe\" -Command \"";
            ASSERT_EQ(command.compare(0, prefix.size(), prefix), 0);
            ASSERT_EQ(command.back(), L'"');
            const std::wstring script = command.substr(prefix.size(), command.size() - prefix.size() - 1);
            std::vector<PowerShellToken> tokens;
            ASSERT_TRUE(TokenizePowerShell(script, &tokens));
            ASSERT_EQ(tokens.size(), 6u);
            EXPECT_EQ(tokens[0].text, L"Expand-Archive");
            EXPECT_EQ(tokens[1].text, L"-LiteralPath");
            EXPECT_TRUE(tokens[2].literal);
            EXPECT_EQ(tokens[3].text, L"-DestinationPath");
            EXPECT_TRUE(tokens[4].literal);
            EXPECT_EQ(tokens[5].text, L"-Force");
            EXPECT_FALSE(tokens[0].literal || tokens[1].literal || tokens[3].literal || tokens[5].literal);
            // Doubled quotes read back as single ones: the literals are the paths themselves.
            EXPECT_EQ(tokens[2].text, archive);
            EXPECT_EQ(tokens[4].text, destination);
        }
    }
}

TEST(ArchiveExtraction, SevenZipIsLookedForBesideTheExeThenInProgramFiles) {
    PipelineEnvironment env;
    EXPECT_EQ(FindSevenZip(), L"");
    // A full 7-Zip installation has 7z.exe, and its installer records its folder (with a trailing
    // backslash). Each step below installs one that must win over all before it.
    const std::wstring recorded = env.root() + L"\\Tools\\7-Zip";
    ASSERT_TRUE(env.RecordSevenZipFolder(L"Path", recorded + L"\\"));
    ASSERT_TRUE(env.RecordSevenZipFolder(L"Path64", env.root() + L"\\Tools64\\7-Zip\\"));
    EXPECT_EQ(FindSevenZip(), L"");  // recorded, but neither folder holds 7z.exe
    ASSERT_TRUE(env.InstallSevenZip(recorded, L"7z.exe"));
    EXPECT_EQ(FindSevenZip(), recorded + L"\\7z.exe");
    ASSERT_TRUE(env.InstallSevenZip(env.root() + L"\\Tools64\\7-Zip", L"7z.exe"));
    EXPECT_EQ(FindSevenZip(), env.root() + L"\\Tools64\\7-Zip\\7z.exe");
    for (const std::wstring& folder :
         {env.programFilesX86() + L"\\7-Zip", env.programFiles() + L"\\7-Zip", env.exeDir()}) {
        ASSERT_TRUE(env.InstallSevenZip(folder, L"7z.exe"));
        EXPECT_EQ(FindSevenZip(), folder + L"\\7z.exe");
    }
    // A folder of the name is no program.
    CreateDirectoryRecursive(env.programFilesX86() + L"\\7-Zip\\7za.exe");
    EXPECT_EQ(FindSevenZip(), env.exeDir() + L"\\7z.exe");
    RemoveDirectoryW((env.programFilesX86() + L"\\7-Zip\\7za.exe").c_str());
    ASSERT_TRUE(env.InstallFakeExtractor(0, 0, env.programFilesX86() + L"\\7-Zip"));
    EXPECT_EQ(FindSevenZip(), env.programFilesX86() + L"\\7-Zip\\7za.exe");
    ASSERT_TRUE(env.InstallFakeExtractor(0, 0, env.programFiles() + L"\\7-Zip"));
    EXPECT_EQ(FindSevenZip(), env.programFiles() + L"\\7-Zip\\7za.exe");
    ASSERT_TRUE(env.InstallFakeExtractor(0, 0));
    EXPECT_EQ(FindSevenZip(), env.exeDir() + L"\\7za.exe");

    // The one beside the executable is the one that runs.
    TempDir work;
    const Extraction result = Extract(work / L"a.zip", work / L"out");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_NE(env.FakeExtractorRecord(), "");
    EXPECT_EQ(env.FakeExtractorRecord(env.programFiles() + L"\\7-Zip"), "");
}

TEST(ArchiveExtraction, RealSevenZipExtractsHostileNamesAndNothingElseRuns) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallSevenZip());
    const std::wstring base = env.root() + L"\\down load's $x; & 目录";
    ASSERT_TRUE(CreateDirectoryRecursive(base));
    const std::wstring archive = base + L"\\" + kHostileName + L"_20260101_000000.zip";
    const std::wstring destination = base + L"\\" + kHostileName;
    const std::string zip = MakeStoredZip({
        {"sfx_a.png", "png bytes"},
        {"hair_b/", ""},
        {"hair_b/模型.txt", "深层"},
        {"hair_b/.hidden", "dot"},
        {kHostileNameUtf8 + ".txt", "hostile inside"},
    });
    ASSERT_TRUE(WriteFileBytes(archive, zip));

    const Extraction result = Extract(archive, destination);

    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_FALSE(result.progress.empty());
    EXPECT_EQ(result.progress.back(), 100);
    EXPECT_EQ(ReadFileBytes(destination + L"\\sfx_a.png"), "png bytes");
    EXPECT_EQ(ReadFileBytes(destination + L"\\hair_b\\模型.txt"), "深层");
    EXPECT_EQ(ReadFileBytes(destination + L"\\hair_b\\.hidden"), "dot");
    EXPECT_EQ(ReadFileBytes(destination + L"\\" + kHostileName + L".txt"), "hostile inside");
    // The archive is the caller's to delete; nothing was written anywhere but the destination.
    EXPECT_TRUE(FileExists(archive));
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW((base + L"\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(names.size(), 4u);  // ".", "..", the archive and the destination
}

TEST(ArchiveExtraction, ArgumentsReachTheExtractorSplitExactlyForHostileNames) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallFakeExtractor(0, 0));
    const std::wstring base = env.root() + L"\\a b; & $c ' d";
    const std::wstring archive = base + L"\\" + kHostileName + L".zip";
    const std::wstring destination = base + L"\\" + kHostileName;

    const Extraction result = Extract(archive, destination);

    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(FileExists(destination + L"\\extracted.txt"));
    // Line 0 is the whole command line, then the program and exactly three arguments.
    const std::vector<std::string> lines = Lines(env.FakeExtractorRecord());
    ASSERT_EQ(lines.size(), 6u) << env.FakeExtractorRecord();
    EXPECT_EQ(lines[1], WideToUtf8(env.exeDir() + L"\\7za.exe"));
    EXPECT_EQ(lines[2], "x");
    EXPECT_EQ(lines[3], "-y");
    EXPECT_EQ(lines[4], "-o" + WideToUtf8(destination));
    EXPECT_EQ(lines[5], WideToUtf8(archive));
}

TEST(ArchiveExtraction, FailingExitCodeIsAFailureAndReportsNoHundred) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallFakeExtractor(0, 2));
    TempDir work;

    const Extraction result = Extract(work / L"a.zip", work / L"out");

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Extraction failed with exit code 2");
    EXPECT_TRUE(result.progress.empty());
}

TEST(ArchiveExtraction, RealSevenZipRejectsADamagedArchive) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallSevenZip());
    TempDir work;
    std::string zip = MakeStoredZip({{"sfx_a.png", "png bytes"}});
    zip.resize(zip.size() / 2);
    ASSERT_TRUE(WriteFileBytes(work / L"bad.zip", zip));

    const Extraction result = Extract(work / L"bad.zip", work / L"out");

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind("Extraction failed with exit code ", 0), 0u) << result.error;
    EXPECT_TRUE(DirectoryExists(work / L"out"));
}

TEST(ArchiveExtraction, ProgressEstimateOncePerSecondThenHundred) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallFakeExtractor(2500, 0));
    TempDir work;

    const Extraction result = Extract(work / L"a.zip", work / L"out");

    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.progress, (std::vector<int>{0, 1, 100}));
}

TEST(ArchiveExtraction, EstimateClimbsOverTheFirstMinuteAndStaysBelowHundred) {
    const std::vector<int> firstSeconds = {0, 1, 3, 5, 6, 8};
    for (unsigned second = 0; second < firstSeconds.size(); ++second) {
        EXPECT_EQ(ExtractionEstimate(second), firstSeconds[second]);
    }
    EXPECT_EQ(ExtractionEstimate(59), 98);
    int last = 0;
    for (unsigned second = 0; second < kExtractionTimeLimitSeconds; ++second) {
        const int estimate = ExtractionEstimate(second);
        EXPECT_GE(estimate, last);
        EXPECT_LE(estimate, 99);
        last = estimate;
    }
    EXPECT_EQ(ExtractionEstimate(60), 99);
    EXPECT_EQ(ExtractionEstimate(4000000000u), 99);
}

TEST(ArchiveExtraction, RealSevenZipKeepsEntriesThatClimbOutInsideTheDestination) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallSevenZip());
    const std::wstring base = env.root() + L"\\work";
    ASSERT_TRUE(CreateDirectoryRecursive(base + L"\\inner"));
    ASSERT_TRUE(WriteFileBytes(
        base + L"\\inner\\a.zip",
        MakeStoredZip({{"../escaped.txt", "out"}, {"../../escaped2.txt", "out"}, {"sfx_ok.png", "ok"}})));

    const Extraction result = Extract(base + L"\\inner\\a.zip", base + L"\\inner\\out");

    EXPECT_EQ(ReadFileBytes(base + L"\\inner\\out\\sfx_ok.png"), "ok") << result.error;
    EXPECT_FALSE(FileExists(base + L"\\inner\\escaped.txt"));
    EXPECT_FALSE(FileExists(base + L"\\escaped2.txt"));
    EXPECT_FALSE(FileExists(env.root() + L"\\escaped2.txt"));
}

TEST(ArchiveExtraction, ExtractorRunningPastTheLimitIsEndedAndFails) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallFakeExtractor(6000, 0));
    TempDir work;

    const DWORD start = GetTickCount();
    const Extraction result = Extract(work / L"a.zip", work / L"out", 2);
    const DWORD elapsed = GetTickCount() - start;

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Extraction did not finish in time");
    EXPECT_EQ(result.progress, std::vector<int>{0});
    EXPECT_LT(elapsed, 5000u);
    // Had it been left running it would have finished by now.
    Sleep(6000 - elapsed + 1500);
    EXPECT_FALSE(FileExists(env.exeDir() + L"\\fake_extractor_done.txt"));
}

// 7-Zip runs without a console and may inherit only its NUL standard handles: a socket of the API
// (inheritable, as Winsock makes them) kept by a running extractor would hold the port, or a
// client's connection, until the extractor ends.
TEST(ArchiveExtraction, ARunningExtractorKeepsNoSocketOfTheProgram) {
    PipelineEnvironment env;
    ASSERT_TRUE(env.InstallFakeExtractor(3000, 0));
    TempDir work;
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const int port = PickFreePort();
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    const auto bindTo = [&address](SOCKET socket) {
        return bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
               listen(socket, 1) == 0;
    };
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(bindTo(listener.get()));

    Extraction result;
    std::thread extraction([&] { result = Extract(work / L"a.zip", work / L"out"); });
    Sleep(1000);  // the extractor has started and is sleeping
    listener.reset();
    const UniqueSocket again(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_TRUE(bindTo(again.get())) << WSAGetLastError();
    extraction.join();
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(FileExists(env.exeDir() + L"\\fake_extractor_done.txt"));
    WSACleanup();
}

TEST(ArchiveExtraction, NoExtractorAtAllFailsToStart) {
    PipelineEnvironment env;  // no 7za.exe anywhere
    env.HidePowerShell();
    TempDir work;
    ASSERT_TRUE(WriteFileBytes(work / L"a.zip", MakeStoredZip({{"a.txt", "a"}})));

    const Extraction result = Extract(work / L"a.zip", work / L"out");

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Failed to create extraction process");
    EXPECT_TRUE(FileExists(work / L"a.zip"));
    EXPECT_TRUE(DirectoryExists(work / L"out"));
}

// Wine ships a powershell.exe that runs no command and exits with 0: a zero exit alone must not
// count as an extraction.
TEST(ArchiveExtraction, PowerShellThatExtractsNothingIsAFailure) {
    PipelineEnvironment env;
    TempDir work;
    ASSERT_TRUE(WriteFileBytes(work / L"a.zip", MakeStoredZip({{"a.txt", "a"}})));

    const Extraction result = Extract(work / L"a.zip", work / L"out");

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Extraction produced no files");
    EXPECT_TRUE(FileExists(work / L"a.zip"));
    EXPECT_TRUE(result.progress.empty() || result.progress.back() < 100);
}
