#include "tasks/classified_copy.h"

#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "state/config.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Layout {
    TempDir root{L"copy"};
    std::wstring source = root / L"extracted";
    std::wstring dev = root / L"dev";
    Layout() {
        CreateDirectoryW(source.c_str(), nullptr);
        CreateDirectoryW(dev.c_str(), nullptr);
    }
    void File(const std::wstring& relative, const std::string& content) const {
        const std::wstring path = source + L"\\" + relative;
        CreateDirectoryRecursive(path.substr(0, path.find_last_of(L'\\')));
        WriteFileBytes(path, content);
    }
};

// An open handle that refuses every kind of sharing: the file can be neither read nor renamed.
UniqueFile LockFile(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

TEST(ClassifiedCopy, ClassifiedEntriesMoveUnclassifiedStay) {
    Layout layout;
    layout.File(L"sfx_a.png", "sfx");
    layout.File(L"hair_b\\h.txt", "hair");
    layout.File(L"readme.txt", "read me");

    const ClassifiedCopyResult result = ClassifiedCopy(layout.source, layout.dev);

    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\anim\\effect\\sfx_a.png"), "sfx");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\anim\\hair\\hair_b\\h.txt"), "hair");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\readme.txt"), "read me");
    EXPECT_FALSE(FileExists(layout.source + L"\\sfx_a.png"));
    EXPECT_FALSE(DirectoryExists(layout.source + L"\\hair_b"));
    EXPECT_EQ(result.leftoverDir, layout.source);
    EXPECT_EQ(result.existingCount, 0);
    EXPECT_EQ(result.notMovedCount, 0);
    // Which comes first is the file system's listing order; the two outputs name the same entry.
    if (result.firstDestDir == layout.dev + L"\\anim\\effect") {
        EXPECT_EQ(result.firstMovedPath, layout.dev + L"\\anim\\effect\\sfx_a.png");
    } else {
        EXPECT_EQ(result.firstDestDir, layout.dev + L"\\anim\\hair");
        EXPECT_EQ(result.firstMovedPath, layout.dev + L"\\anim\\hair\\hair_b");
    }
}

TEST(ClassifiedCopy, EverythingClassifiedRemovesTheEmptySource) {
    Layout layout;
    layout.File(L"level1.MAP", "map");
    layout.File(L"Song.mp3", "mp3");
    layout.File(L"TILES\\t1.png", "tile");
    layout.File(L"TILES\\.keep", "keep");

    const ClassifiedCopyResult result = ClassifiedCopy(layout.source, layout.dev);

    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\scene\\map\\level1.MAP"), "map");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\mp3\\Song.mp3"), "mp3");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\scene\\tiles\\TILES\\t1.png"), "tile");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\scene\\tiles\\TILES\\.keep"), "keep");
    EXPECT_FALSE(DirectoryExists(layout.source));
    EXPECT_EQ(result.leftoverDir, L"");
    EXPECT_EQ(result.existingCount, 0);
    EXPECT_FALSE(result.firstDestDir.empty());
    EXPECT_FALSE(result.firstMovedPath.empty());
}

TEST(ClassifiedCopy, ExistingItemsAreCountedAndNeverOverwrittenOrMerged) {
    Layout layout;
    layout.File(L"sfx_a.png", "new sfx");
    layout.File(L"npc_b.png", "npc");
    layout.File(L"tiles\\new.png", "new tile");
    CreateDirectoryRecursive(layout.dev + L"\\anim\\effect");
    WriteFileBytes(layout.dev + L"\\anim\\effect\\sfx_a.png", "old sfx");
    CreateDirectoryRecursive(layout.dev + L"\\scene\\tiles\\tiles");
    WriteFileBytes(layout.dev + L"\\scene\\tiles\\tiles\\old.png", "old tile");

    const ClassifiedCopyResult result = ClassifiedCopy(layout.source, layout.dev);

    EXPECT_EQ(result.existingCount, 2);
    EXPECT_EQ(result.leftoverDir, L"");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\anim\\effect\\sfx_a.png"), "old sfx");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_a.png"), "new sfx");
    EXPECT_FALSE(FileExists(layout.dev + L"\\scene\\tiles\\tiles\\new.png"));
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\tiles\\new.png"), "new tile");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\anim\\npc\\npc_b.png"), "npc");
    EXPECT_TRUE(DirectoryExists(layout.source));
}

TEST(ClassifiedCopy, DotNamesAreLeftAloneAndKeepTheSource) {
    Layout layout;
    layout.File(L".gitkeep", "");
    layout.File(L".sfx_hidden.png", "hidden");

    const ClassifiedCopyResult result = ClassifiedCopy(layout.source, layout.dev);

    EXPECT_EQ(result.leftoverDir, L"");
    EXPECT_EQ(result.existingCount, 0);
    EXPECT_EQ(result.firstDestDir, L"");
    EXPECT_EQ(result.firstMovedPath, L"");
    EXPECT_TRUE(FileExists(layout.source + L"\\.gitkeep"));
    EXPECT_TRUE(FileExists(layout.source + L"\\.sfx_hidden.png"));

    const ClassifiedCopyResult missing = ClassifiedCopy(layout.root / L"no such dir", layout.dev);
    EXPECT_EQ(missing.leftoverDir, L"");
    EXPECT_EQ(missing.existingCount, 0);
    EXPECT_EQ(missing.firstDestDir, L"");
}

TEST(ClassifiedCopy, EntryThatCannotBeMovedStaysWholeAndIsLeftOver) {
    Layout layout;
    layout.File(L"sfx_locked.png", "locked");
    layout.File(L"sfx_growing.png", "half");
    layout.File(L"npc_free.png", "free");
    UniqueFile lock = LockFile(layout.source + L"\\sfx_locked.png");
    ASSERT_TRUE(lock.valid());
    // Another process still writing: it lets others read, so a copy would succeed, half-written.
    UniqueFile writer(CreateFileW((layout.source + L"\\sfx_growing.png").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());

    const ClassifiedCopyResult result = ClassifiedCopy(layout.source, layout.dev);
    lock.reset();
    writer.reset();

    EXPECT_EQ(result.notMovedCount, 2);
    EXPECT_EQ(result.leftoverDir, layout.source);
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_locked.png"), "locked");
    EXPECT_FALSE(FileExists(layout.dev + L"\\anim\\effect\\sfx_locked.png"));
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_growing.png"), "half");
    EXPECT_FALSE(FileExists(layout.dev + L"\\anim\\effect\\sfx_growing.png"));
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\anim\\npc\\npc_free.png"), "free");
}

TEST(MoveItem, DirectoryCopiedAcrossDrivesKeepsEveryFileIncludingDotNames) {
    Layout layout;
    layout.File(L"pack\\.config", "dot at top");
    layout.File(L"pack\\a.png", "a");
    layout.File(L"pack\\.git\\HEAD", "ref");
    layout.File(L"pack\\deep\\deeper\\.env", "env");
    layout.File(L"pack\\deep\\模型.bin", "model");
    CreateDirectoryRecursive(layout.source + L"\\pack\\empty");
    SetFileAttributesW((layout.source + L"\\pack\\a.png").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring target = layout.dev + L"\\pack";

    ASSERT_TRUE(MoveItemByCopy(layout.source + L"\\pack", target, true));

    EXPECT_EQ(ReadFileBytes(target + L"\\.config"), "dot at top");
    EXPECT_EQ(ReadFileBytes(target + L"\\a.png"), "a");
    EXPECT_EQ(ReadFileBytes(target + L"\\.git\\HEAD"), "ref");
    EXPECT_EQ(ReadFileBytes(target + L"\\deep\\deeper\\.env"), "env");
    EXPECT_EQ(ReadFileBytes(target + L"\\deep\\模型.bin"), "model");
    EXPECT_TRUE(DirectoryExists(target + L"\\empty"));
    EXPECT_FALSE(DirectoryExists(layout.source + L"\\pack"));
    // Filed under its own name only, and not hidden as its copy was while it was made.
    EXPECT_EQ(ListFolder(layout.dev), std::vector<std::wstring>{L"pack"});
    EXPECT_EQ(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// The copied-away source is removed inside the program: handed to a command interpreter, the
// name's %...% would be expanded and another directory removed instead.
TEST(MoveItem, SourceRemovalTouchesOnlyTheSourceWhateverItsName) {
    Layout layout;
    SetEnvironmentVariableW(L"TARN_VICTIM", L"victim");
    layout.File(L"sfx_%TARN_VICTIM%\\a.png", "moved");
    layout.File(L"sfx_victim\\keep.png", "must stay");
    const std::wstring target = layout.dev + L"\\sfx_%TARN_VICTIM%";

    ASSERT_TRUE(MoveItemByCopy(layout.source + L"\\sfx_%TARN_VICTIM%", target, true));

    EXPECT_EQ(ReadFileBytes(target + L"\\a.png"), "moved");
    EXPECT_FALSE(DirectoryExists(layout.source + L"\\sfx_%TARN_VICTIM%"));
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_victim\\keep.png"), "must stay");
}

TEST(MoveItem, IncompleteDirectoryCopyKeepsTheSourceAndRemovesThePartialCopy) {
    Layout layout;
    layout.File(L"pack\\a.png", "a");
    layout.File(L"pack\\sub\\.locked", "cannot be read");
    layout.File(L"pack\\sub\\z.png", "z");
    UniqueFile lock = LockFile(layout.source + L"\\pack\\sub\\.locked");
    ASSERT_TRUE(lock.valid());
    const std::wstring target = layout.dev + L"\\pack";

    EXPECT_FALSE(MoveItemByCopy(layout.source + L"\\pack", target, true));
    lock.reset();

    EXPECT_EQ(ReadFileBytes(layout.source + L"\\pack\\a.png"), "a");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\pack\\sub\\.locked"), "cannot be read");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\pack\\sub\\z.png"), "z");
    EXPECT_FALSE(DirectoryExists(target));
    EXPECT_TRUE(ListFolder(layout.dev).empty());
    EXPECT_FALSE(CopyDirectoryTree(layout.root / L"no such dir", layout.dev + L"\\x"));
}

TEST(MoveItem, SourceThatCannotBeRemovedIsNotReportedAsMoved) {
    Layout layout;
    layout.File(L"pack\\a.png", "a");
    layout.File(L"pack\\sub\\held.png", "held");
    layout.File(L"sfx_held.png", "file");
    // Readable, so the copy completes, but not deletable.
    const auto hold = [](const std::wstring& path) {
        return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueFile inTree = hold(layout.source + L"\\pack\\sub\\held.png");
    UniqueFile single = hold(layout.source + L"\\sfx_held.png");
    ASSERT_TRUE(inTree.valid() && single.valid());

    EXPECT_FALSE(MoveItemByCopy(layout.source + L"\\pack", layout.dev + L"\\pack", true));
    EXPECT_FALSE(MoveItemByCopy(layout.source + L"\\sfx_held.png", layout.dev + L"\\sfx_held.png", false));
    inTree.reset();
    single.reset();

    // Nothing is lost: what left the source is in the copy, and what stayed is still there.
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\pack\\sub\\held.png"), "held");
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\pack\\a.png"), "a");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_held.png"), "file");
}

TEST(MoveItem, FileFallbackNeverOverwrites) {
    Layout layout;
    layout.File(L"sfx_a.png", "mine");
    WriteFileBytes(layout.dev + L"\\sfx_a.png", "theirs");

    EXPECT_FALSE(MoveItemByCopy(layout.source + L"\\sfx_a.png", layout.dev + L"\\sfx_a.png", false));
    EXPECT_FALSE(MoveItem(layout.source + L"\\sfx_a.png", layout.dev + L"\\sfx_a.png", false));
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\sfx_a.png"), "theirs");
    EXPECT_EQ(ReadFileBytes(layout.source + L"\\sfx_a.png"), "mine");

    ASSERT_TRUE(MoveItemByCopy(layout.source + L"\\sfx_a.png", layout.dev + L"\\sfx_b.png", false));
    EXPECT_EQ(ReadFileBytes(layout.dev + L"\\sfx_b.png"), "mine");
    EXPECT_FALSE(FileExists(layout.source + L"\\sfx_a.png"));
}

TEST(ClassifiedCopy, ConcurrentTasksIntoOneDevelopmentDirectoryLoseNothing) {
    constexpr int kRounds = 20;
    constexpr int kItems = 8;
    for (int round = 0; round < kRounds; ++round) {
        Layout first;
        TempDir secondRoot(L"copy2");
        const std::wstring secondSource = secondRoot / L"extracted";
        for (int i = 0; i < kItems; ++i) {
            const std::wstring name = L"sfx_" + std::to_wstring(i) + L".png";
            first.File(name, "first");
            CreateDirectoryRecursive(secondSource);
            WriteFileBytes(secondSource + L"\\" + name, "second");
            first.File(L"npc_" + std::to_wstring(i) + L"\\f.txt", "first");
            CreateDirectoryRecursive(secondSource + L"\\npc_" + std::to_wstring(i));
            WriteFileBytes(secondSource + L"\\npc_" + std::to_wstring(i) + L"\\f.txt", "second");
        }
        ClassifiedCopyResult a, b;
        std::thread one([&] { a = ClassifiedCopy(first.source, first.dev); });
        std::thread two([&] { b = ClassifiedCopy(secondSource, first.dev); });
        one.join();
        two.join();

        // Every item landed once and the other copy of it is still in its source.
        EXPECT_EQ(a.existingCount + b.existingCount, 2 * kItems);
        for (int i = 0; i < kItems; ++i) {
            const std::wstring name = L"sfx_" + std::to_wstring(i) + L".png";
            const std::string landed = ReadFileBytes(first.dev + L"\\anim\\effect\\" + name);
            ASSERT_TRUE(landed == "first" || landed == "second") << round;
            const std::wstring other = landed == "first" ? secondSource : first.source;
            EXPECT_EQ(ReadFileBytes(other + L"\\" + name), landed == "first" ? "second" : "first");
            const std::wstring dir = L"npc_" + std::to_wstring(i);
            const std::string landedDir = ReadFileBytes(first.dev + L"\\anim\\npc\\" + dir + L"\\f.txt");
            ASSERT_TRUE(landedDir == "first" || landedDir == "second");
            const std::wstring otherDir = landedDir == "first" ? secondSource : first.source;
            EXPECT_EQ(ReadFileBytes(otherDir + L"\\" + dir + L"\\f.txt"),
                      landedDir == "first" ? "second" : "first");
        }
    }
}

TEST(MoveItem, UnfinishedCopiesOfAnEarlierRunAreRemovedAndNothingElse) {
    Layout layout;
    const std::wstring effect = layout.dev + L"\\anim\\effect";
    const std::vector<std::pair<std::wstring, bool>> leftovers = {
        {layout.dev + L"\\.pack.partial-3\\a.png", true},
        {effect + L"\\.sfx_a.png.partial-12", true},
        {layout.dev + L"\\mp3\\.x.mp3.partial-1", true},
        {layout.dev + L"\\mine\\.mine.zip.partial-7", true},
        {layout.dev + L"\\.pack.partial-", false},
        {layout.dev + L"\\.pack.partial-3a", false},
        {layout.dev + L"\\pack.partial-3", false},
        {effect + L"\\.config", false},
        {layout.dev + L"\\mine\\deeper\\.y.partial-2", false},  // no copy goes this deep
    };
    for (const auto& [path, removed] : leftovers) {
        CreateDirectoryRecursive(path.substr(0, path.find_last_of(L'\\')));
        ASSERT_TRUE(WriteFileBytes(path, "x"));
    }

    RemoveUnfinishedCopies(layout.dev);

    for (const auto& [path, removed] : leftovers) {
        EXPECT_EQ(FileExists(path), !removed) << WideToUtf8(path);
    }
    EXPECT_FALSE(DirectoryExists(layout.dev + L"\\.pack.partial-3"));
}
