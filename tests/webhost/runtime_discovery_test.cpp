// Runtime discovery against fake Program Files folders (through the process's environment) and
// fake registry keys (a scratch key under HKEY_CURRENT_USER standing in for HKEY_LOCAL_MACHINE).
#include "base/unique_handle.h"
#include "base/win32.h"
#include "tests/support/test_files.h"
#include "webhost/runtime_discovery.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr const wchar_t* kWebViewApp = L"Microsoft\\EdgeWebView\\Application";
constexpr const wchar_t* kEdgeApp = L"Microsoft\\Edge\\Application";
constexpr const wchar_t* kKey64 = L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeWebView\\Application";
constexpr const wchar_t* kKey = L"SOFTWARE\\Microsoft\\EdgeWebView\\Application";
const wchar_t* const kVariables[] = {L"ProgramFiles", L"ProgramFiles(x86)", L"LOCALAPPDATA"};

bool MakeDirectories(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1)) {
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    }
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

class RuntimeDiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            wchar_t value[1024] = {};
            saved_[i].present = GetEnvironmentVariableW(kVariables[i], value, 1024) > 0;
            saved_[i].value = value;
        }
        programFiles_ = root_ / L"pf";
        programFilesX86_ = root_ / L"pf86";
        localAppData_ = root_ / L"local";
        SetEnvironmentVariableW(L"ProgramFiles", programFiles_.c_str());
        SetEnvironmentVariableW(L"ProgramFiles(x86)", programFilesX86_.c_str());
        SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData_.c_str());

        keyName_ = L"Software\\TarnDownTests\\runtime_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                   std::to_wstring(GetTickCount());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyName_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  fakeRoot_.receive(), nullptr),
                  ERROR_SUCCESS);
        SetRuntimeRegistryRootForTesting(fakeRoot_.get());
    }

    void TearDown() override {
        SetRuntimeRegistryRootForTesting(nullptr);
        fakeRoot_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, keyName_.c_str());
        // Fails while another test's key is still there, which is fine.
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TarnDownTests");
        for (int i = 0; i < 3; ++i) {
            SetEnvironmentVariableW(kVariables[i], saved_[i].present ? saved_[i].value.c_str() : nullptr);
        }
    }

    // A version folder under base\app, holding the runtime executable when asked to.
    static std::wstring AddVersion(const std::wstring& base, const wchar_t* app, const std::wstring& version,
                                   bool withExecutable = true) {
        const std::wstring folder = base + L"\\" + app + L"\\" + version;
        EXPECT_TRUE(MakeDirectories(folder));
        if (withExecutable) {
            EXPECT_TRUE(WriteFileBytes(folder + L"\\msedgewebview2.exe", "MZ"));
        }
        return folder;
    }

    void SetDefaultValue(const wchar_t* subKey, DWORD type, const void* data, DWORD bytes) {
        UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExW(fakeRoot_.get(), subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, type, static_cast<const BYTE*>(data), bytes),
                  ERROR_SUCCESS);
    }

    void SetDefaultText(const wchar_t* subKey, const std::wstring& text) {
        SetDefaultValue(subKey, REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    struct SavedVariable {
        bool present = false;
        std::wstring value;
    };
    TempDir root_{L"rt"};
    std::wstring programFiles_;
    std::wstring programFilesX86_;
    std::wstring localAppData_;
    std::wstring keyName_;
    UniqueRegKey fakeRoot_;
    SavedVariable saved_[3];
};

TEST_F(RuntimeDiscoveryTest, NewestFolderIsTheGreatestNameInTextOrder) {
    AddVersion(programFilesX86_, kWebViewApp, L"120.0.2210.91");
    const std::wstring chosen = AddVersion(programFilesX86_, kWebViewApp, L"99.0.1150.2");
    AddVersion(programFilesX86_, kWebViewApp, L"99.0.1150.10");
    AddVersion(programFilesX86_, kWebViewApp, L"99.0.1150");
    EXPECT_EQ(FindWebView2RuntimeFolder(), chosen);
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
}

TEST_F(RuntimeDiscoveryTest, FoldersWithoutTheExecutableOrNotStartingWithADigitAreNeverChosen) {
    AddVersion(programFiles_, kWebViewApp, L"130.0.1.1", false);
    AddVersion(programFiles_, kWebViewApp, L"SetupMetrics");
    AddVersion(programFiles_, kWebViewApp, L"v99.0.1.1");
    // A folder where the executable should be is not the executable.
    MakeDirectories(AddVersion(programFiles_, kWebViewApp, L"97.0.1.1", false) + L"\\msedgewebview2.exe");
    // A file, not a folder, named like a version.
    ASSERT_TRUE(WriteFileBytes(programFiles_ + L"\\" + kWebViewApp + L"\\99.9.9.9", "x"));
    EXPECT_EQ(FindWebView2RuntimeFolder(), L"");
    EXPECT_FALSE(IsWebView2RuntimeAvailable());

    const std::wstring chosen = AddVersion(programFiles_, kWebViewApp, L"9.0.1.1");
    EXPECT_EQ(FindWebView2RuntimeFolder(), chosen);
}

TEST_F(RuntimeDiscoveryTest, TheFirstCandidateThatYieldsAFolderEndsTheSearch) {
    // The 32-bit Program Files folder comes first even with an older version.
    AddVersion(programFiles_, kWebViewApp, L"99.0.0.1");
    const std::wstring x86 = AddVersion(programFilesX86_, kWebViewApp, L"90.0.0.1");
    EXPECT_EQ(FindWebView2RuntimeFolder(), x86);

    // An unusable first candidate passes to the next one.
    RemoveTree(x86);
    AddVersion(programFilesX86_, kWebViewApp, L"Temp");
    EXPECT_EQ(FindWebView2RuntimeFolder(), programFiles_ + L"\\" + kWebViewApp + L"\\99.0.0.1");
}

TEST_F(RuntimeDiscoveryTest, ARuntimeOnlyUnderLocalAppDataIsFound) {
    // The Edge browser's own folder is the last resort, after the per-user runtime.
    AddVersion(programFilesX86_, kEdgeApp, L"121.0.0.1");
    const std::wstring local = AddVersion(localAppData_, kWebViewApp, L"100.0.0.1");
    EXPECT_EQ(FindWebView2RuntimeFolder(), local);

    // Also when the Program Files variables are not set at all.
    SetEnvironmentVariableW(L"ProgramFiles", nullptr);
    SetEnvironmentVariableW(L"ProgramFiles(x86)", nullptr);
    EXPECT_EQ(FindWebView2RuntimeFolder(), local);
    EXPECT_TRUE(IsWebView2RuntimeAvailable());

    SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
    EXPECT_EQ(FindWebView2RuntimeFolder(), L"");
}

TEST_F(RuntimeDiscoveryTest, EdgeBrowserFolderIsTheLastCandidate) {
    const std::wstring edge = AddVersion(programFilesX86_, kEdgeApp, L"121.0.0.1");
    EXPECT_EQ(FindWebView2RuntimeFolder(), edge);
    // Only under the 32-bit Program Files folder.
    SetEnvironmentVariableW(L"ProgramFiles(x86)", (root_ / L"nothing").c_str());
    AddVersion(programFiles_, kEdgeApp, L"121.0.0.1");
    EXPECT_EQ(FindWebView2RuntimeFolder(), L"");
}

TEST_F(RuntimeDiscoveryTest, RegistryValueNamesAnInstalledRuntime) {
    EXPECT_FALSE(IsWebView2RuntimeAvailable());

    // A key that exists without a default value, or with an empty one, does not count.
    SetDefaultText(kKey64, L"");
    {
        UniqueRegKey bare;
        ASSERT_EQ(RegCreateKeyExW(fakeRoot_.get(), kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  bare.receive(), nullptr),
                  ERROR_SUCCESS);
    }
    EXPECT_FALSE(IsWebView2RuntimeAvailable());
    // ... the folder search decides then.
    AddVersion(localAppData_, kWebViewApp, L"100.0.0.1");
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
}

TEST_F(RuntimeDiscoveryTest, EitherRuntimeKeyWithAValueIsEnough) {
    SetDefaultText(kKey, L"120.0.2210.91");
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
    RegDeleteTreeW(fakeRoot_.get(), L"SOFTWARE");

    SetDefaultText(kKey64, L"120.0.2210.91");
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
    RegDeleteTreeW(fakeRoot_.get(), L"SOFTWARE");

    // The type does not matter, and a value longer than the first read buffer still counts.
    const DWORD number = 7;
    SetDefaultValue(kKey, REG_DWORD, &number, sizeof(number));
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
    RegDeleteTreeW(fakeRoot_.get(), L"SOFTWARE");
    SetDefaultText(kKey64, std::wstring(2000, L'1'));
    EXPECT_TRUE(IsWebView2RuntimeAvailable());
}

}  // namespace
