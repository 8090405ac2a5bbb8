// The program takes the current folder out of the library search order at start-up: a library
// planted in the folder it was started from is not loaded by its bare name.
#include "app/app_main.h"
#include "tests/support/test_files.h"
#include "tests/webhost/fixtures/test_loader.h"

#include <gtest/gtest.h>

namespace {

// Wine keeps the current folder in the search order whatever SetDllDirectoryW was given, so this
// runs where the system honours it (Windows).
bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(LibrarySearch, ALibraryInTheCurrentFolderIsNotLoadedByName) {
    if (RunsUnderWine()) {
        GTEST_SKIP() << "Wine 8 searches the current folder even after SetDllDirectoryW(L\"\")";
    }
    TempDir folder{L"cwd"};
    // Two copies, so that the second lookup cannot find the first one's module still loaded.
    const wchar_t* planted = L"tarn_planted_library.dll";
    const wchar_t* plantedAfter = L"tarn_planted_library2.dll";
    for (const wchar_t* name : {planted, plantedAfter}) {
        ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\" + kTestLoaderFileName).c_str(),
                              (folder / name).c_str(), FALSE));
    }
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    // Without the change the current folder is searched.
    const HMODULE before = LoadLibraryW(planted);
    EXPECT_NE(before, nullptr);
    if (before) {
        FreeLibrary(before);
    }
    RemoveCurrentFolderFromLibrarySearch();
    const HMODULE after = LoadLibraryW(plantedAfter);
    EXPECT_EQ(after, nullptr);
    if (after) {
        FreeLibrary(after);
    }
    // A full path still loads.
    const HMODULE byPath = LoadLibraryW((folder / plantedAfter).c_str());
    EXPECT_NE(byPath, nullptr);
    if (byPath) {
        FreeLibrary(byPath);
    }
    SetDllDirectoryW(nullptr);
    SetCurrentDirectoryW(previous);
}

}  // namespace
