#include "base/debug_trace.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream stream(bytes);
    std::string line;
    while (std::getline(stream, line)) {
        EXPECT_FALSE(line.empty() || line.back() != '\r') << "every line ends with CR LF: " << line;
        lines.push_back(line.substr(0, line.size() - 1));
    }
    return lines;
}

}  // namespace

// Threads tracing at once must each get whole lines of their own, stamped, in UTF-8; a message
// holding a line break stays one line.
TEST(DebugTrace, ConcurrentMessagesBecomeWholeStampedLines) {
    TempDir dir;
    ASSERT_TRUE(OpenTraceLog(dir / L"TarnDown.log", 1024 * 1024));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) {
                DebugTrace(L"worker %d line %d %ls", t, i, L"素材包");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    DebugTrace(L"two\r\nparts");
    CloseTraceLog();
    DebugTrace(L"after close");  // discarded, and no crash

    const std::vector<std::string> lines = Lines(ReadFileBytes(dir / L"TarnDown.log"));
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] (.*))");
    std::set<std::string> messages;
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        messages.insert(match[1]);
    }
    EXPECT_EQ(lines.size(), 4u * 300u + 1u);
    EXPECT_EQ(messages.count("worker 3 line 299 \xE7\xB4\xA0\xE6\x9D\x90\xE5\x8C\x85"), 1u);
    EXPECT_EQ(messages.count("two  parts"), 1u);
    EXPECT_EQ(messages.count("after close"), 0u);
}

// The log rolls once to ".1" instead of growing; neither file passes the limit, and the newest
// line is in the current file.
TEST(DebugTrace, RollsToOnePredecessorAtTheLimit) {
    TempDir dir;
    const std::wstring path = dir / L"TarnDown.log";
    ASSERT_TRUE(WriteFileBytes(path + L".1", "oldest"));
    ASSERT_TRUE(OpenTraceLog(path, 4096));
    for (int i = 0; i < 300; ++i) {
        DebugTrace(L"message number %d", i);
    }
    CloseTraceLog();
    const std::string current = ReadFileBytes(path);
    const std::string previous = ReadFileBytes(path + L".1");
    EXPECT_LE(current.size(), 4096u);
    EXPECT_LE(previous.size(), 4096u);
    EXPECT_EQ(previous.find("oldest"), std::string::npos);
    EXPECT_NE(current.find("message number 299\r\n"), std::string::npos);
}

TEST(DebugTrace, AFolderThatCannotHoldTheLogMeansNoLog) {
    TempDir dir;
    EXPECT_FALSE(OpenTraceLog(dir / L"missing\\TarnDown.log", 4096));
    DebugTrace(L"nowhere to go %d", 1);
    EXPECT_FALSE(DirectoryExists(dir / L"missing"));
}
