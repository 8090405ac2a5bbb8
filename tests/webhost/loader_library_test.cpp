// Extraction and loading of the loader library, with a library of our own as the carried image.
// The temporary directory is moved to a scratch folder through TMP/TEMP, which GetTempPathW reads.
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "tests/support/test_files.h"
#include "tests/webhost/fixtures/test_loader.h"
#include "webhost/browser_teardown.h"
#include "webhost/loader_library.h"

#include <gtest/gtest.h>

#include <cstddef>

#include <string>
#include <vector>

// The image this build carries (generated from TARN_WEBVIEW2_LOADER).
extern const unsigned char kEmbeddedLoaderImage[];
extern const std::size_t kEmbeddedLoaderSize;

namespace {

constexpr DWORD kProbeTimeoutMs = 60000;

std::wstring ModulePath(HMODULE module) {
    wchar_t path[32768] = {};
    GetModuleFileNameW(module, path, 32768);
    return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The file version from the version record, "a.b.c.d".
std::wstring FileVersion(const std::wstring& path) {
    std::vector<unsigned char> record(GetFileVersionInfoSizeW(path.c_str(), nullptr));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (record.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()) ||
        !VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || !fixed) {
        return L"";
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

int CallMark(HMODULE module) {
    using MarkFunction = int (*)();
    const auto mark =
        reinterpret_cast<MarkFunction>(reinterpret_cast<void*>(GetProcAddress(module, kTestLoaderExport)));
    return mark ? mark() : -1;
}

class LoaderLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string bytes = ReadFileBytes(TestProgramDirectory() + L"\\" + kTestLoaderFileName);
        ASSERT_GT(bytes.size(), 1000u) << "the stand-in loader library is missing";
        image_.assign(bytes.begin(), bytes.end());
        SetLoaderImageForTesting(image_.data(), image_.size());
    }

    void TearDown() override {
        UnloadWebView2Loader();
        g_tempLoaderPath.clear();
        RestoreLoaderImageForTesting();
    }

    std::wstring Extracted() const { return temp_ / L"TarnDown_WebView2Loader.dll"; }
    std::string ImageBytes() const { return std::string(image_.begin(), image_.end()); }

    TempDir temp_{L"ldr"};
    ScopedEnvironmentVariable tmp_{L"TMP", temp_.path() + L"\\"};
    ScopedEnvironmentVariable temp2_{L"TEMP", temp_.path() + L"\\"};
    std::vector<unsigned char> image_;
};

TEST_F(LoaderLibraryTest, ExtractsTheImageAndLoadsTheExtractedCopy) {
    const std::wstring path = ExtractEmbeddedLoader();
    ASSERT_TRUE(SamePath(path, Extracted())) << path;
    EXPECT_EQ(g_tempLoaderPath, path);
    EXPECT_EQ(ReadFileBytes(path), ImageBytes());

    const HMODULE module = LoadWebView2Loader();
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(SamePath(ModulePath(module), Extracted())) << ModulePath(module);
    EXPECT_EQ(CallMark(module), kTestLoaderMark);
    // Once loaded, the same library is handed out without extracting again.
    SetLoaderImageForTesting(nullptr, 0);
    EXPECT_EQ(LoadWebView2Loader(), module);
}

// Another program could plant a library of the image's size there: only identical bytes are reused,
// and from the comparison until it is loaded nobody can write or delete the file.
TEST_F(LoaderLibraryTest, OnlyAnIdenticalCopyIsReusedAndItIsHeldUntilLoaded) {
    const std::string planted(image_.size(), 'X');
    ASSERT_TRUE(WriteFileBytes(Extracted(), planted));
    EXPECT_TRUE(SamePath(ExtractEmbeddedLoader(), Extracted()));
    EXPECT_EQ(ReadFileBytes(Extracted()), ImageBytes());
    UnloadWebView2Loader();  // lets go of the copy, and deletes it
    ASSERT_TRUE(WriteFileBytes(Extracted(), ImageBytes()));

    // An identical copy is not written again: its old time stamp stays.
    const FILETIME old = {0x12345678, 0x01D00000};
    {
        UniqueFile file(
            CreateFileW(Extracted().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &old));
    }
    EXPECT_TRUE(SamePath(ExtractEmbeddedLoader(), Extracted()));
    FILETIME written = {};
    {
        UniqueFile file(CreateFileW(Extracted().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(GetFileTime(file.get(), nullptr, nullptr, &written));
    }
    EXPECT_EQ(CompareFileTime(&written, &old), 0);

    UniqueFile writer(CreateFileW(Extracted().c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_FALSE(DeleteFileW(Extracted().c_str()));
    EXPECT_FALSE(MoveFileW(Extracted().c_str(), (temp_ / L"moved.dll").c_str()));
    const HMODULE module = LoadWebView2Loader();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(CallMark(module), kTestLoaderMark);
}

// Teardown frees the library and deletes its extracted copy; a second teardown finds nothing.
TEST_F(LoaderLibraryTest, TeardownUnloadsAndDeletesTheExtractedCopyOnce) {
    ASSERT_NE(LoadWebView2Loader(), nullptr);
    ASSERT_TRUE(FileExists(Extracted()));
    DestroyWebBrowserControl();
    EXPECT_EQ(g_hWebView2Loader, nullptr);
    EXPECT_EQ(g_tempLoaderPath, L"");
    EXPECT_FALSE(FileExists(Extracted()));
    ASSERT_TRUE(WriteFileBytes(Extracted(), "kept"));
    DestroyWebBrowserControl();
    EXPECT_EQ(ReadFileBytes(Extracted()), "kept");
}

// The image this build carries is Microsoft's x64 loader 1.0.3351.48, its real length: written
// over a copy of the same size but other bytes, loaded, with the environment exports found.
TEST_F(LoaderLibraryTest, TheCarriedMicrosoftLoaderIsExtractedAndLoaded) {
    RestoreLoaderImageForTesting();
    ASSERT_EQ(kEmbeddedLoaderSize, 159296u) << "configured with an empty TARN_WEBVIEW2_LOADER?";
    const std::string carried(reinterpret_cast<const char*>(kEmbeddedLoaderImage), kEmbeddedLoaderSize);
    ASSERT_TRUE(WriteFileBytes(Extracted(), std::string(carried.size(), '\0')));
    const HMODULE module = LoadWebView2Loader();
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(SamePath(ModulePath(module), Extracted()));
    EXPECT_EQ(ReadFileBytes(Extracted()), carried);
    EXPECT_EQ(FileVersion(Extracted()), L"1.0.3351.48");
    EXPECT_NE(GetProcAddress(module, "CreateCoreWebView2EnvironmentWithOptions"), nullptr);
    EXPECT_NE(GetProcAddress(module, "CreateCoreWebView2Environment"), nullptr);
    DestroyWebBrowserControl();
    EXPECT_FALSE(FileExists(Extracted()));
}

// A copy the system refuses to load is deleted by teardown all the same.
TEST_F(LoaderLibraryTest, TeardownDeletesACopyThatCouldNotBeLoaded) {
    const std::vector<unsigned char> notALibrary(4096, 'Z');
    SetLoaderImageForTesting(notALibrary.data(), notALibrary.size());
    EXPECT_EQ(LoadWebView2Loader(), nullptr);
    ASSERT_TRUE(FileExists(Extracted()));
    DestroyWebBrowserControl();
    EXPECT_FALSE(FileExists(Extracted()));
    EXPECT_EQ(g_tempLoaderPath, L"");
}

TEST_F(LoaderLibraryTest, ExtractionFailureGivesNoPathButKeepsItForTeardown) {
    // A temporary directory that does not exist cannot take the file.
    const std::wstring missing = temp_ / L"missing";
    ScopedEnvironmentVariable tmp(L"TMP", missing + L"\\");
    ScopedEnvironmentVariable temp(L"TEMP", missing + L"\\");
    EXPECT_EQ(ExtractEmbeddedLoader(), L"");
    EXPECT_TRUE(SamePath(g_tempLoaderPath, missing + L"\\TarnDown_WebView2Loader.dll"));
    EXPECT_FALSE(DirectoryExists(missing));
}

TEST_F(LoaderLibraryTest, AFileHeldOpenElsewhereIsNeitherReusedNorTruncated) {
    const std::string other(100, 'Y');
    ASSERT_TRUE(WriteFileBytes(Extracted(), other));
    UniqueFile held(CreateFileW(Extracted().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr));
    ASSERT_TRUE(held.valid());
    EXPECT_EQ(ExtractEmbeddedLoader(), L"");
    held.reset();
    EXPECT_EQ(ReadFileBytes(Extracted()), other);
}

TEST_F(LoaderLibraryTest, WithoutACarriedImageNothingIsWritten) {
    SetLoaderImageForTesting(nullptr, 0);
    EXPECT_EQ(ExtractEmbeddedLoader(), L"");
    EXPECT_EQ(g_tempLoaderPath, L"");
    EXPECT_FALSE(FileExists(Extracted()));
    // The test program has no loader library beside it either.
    EXPECT_EQ(LoadWebView2Loader(), nullptr);
}

// The lookup beside the executable, run in a copy of the probe program placed in a scratch folder.
class LoaderFallbackTest : public ::testing::Test {
  protected:
    struct ProbeResult {
        std::wstring loaded;
        std::wstring tempPath;
    };

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\" + kLoaderProbeFileName).c_str(),
                              Probe().c_str(), FALSE));
        library_ = TestProgramDirectory() + L"\\" + kTestLoaderFileName;
    }

    std::wstring Probe() const { return appDir_ / kLoaderProbeFileName; }
    std::wstring Fallback() const { return appDir_ / L"WebView2Loader.dll"; }

    // Runs the probe with TMP/TEMP at `tempDir`, carrying the stand-in as its image or no image.
    ProbeResult Run(const std::wstring& tempDir, bool withImage) {
        ScopedEnvironmentVariable tmp(L"TMP", tempDir + L"\\");
        ScopedEnvironmentVariable temp(L"TEMP", tempDir + L"\\");
        const std::wstring resultFile = work_ / L"result.txt";
        DeleteFileW(resultFile.c_str());
        std::wstring commandLine = L"\"" + Probe() + L"\" \"" + resultFile + L"\"";
        commandLine += withImage ? L" \"" + library_ + L"\"" : std::wstring(L" none");
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
        writable.push_back(L'\0');
        ProbeResult result;
        if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &info)) {
            ADD_FAILURE() << "probe did not start: " << GetLastError();
            return result;
        }
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
        EXPECT_EQ(WaitForSingleObject(process.get(), kProbeTimeoutMs), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.get(), &exitCode);
        EXPECT_EQ(exitCode, 0u);
        const std::wstring text = Utf8ToWide(ReadFileBytes(resultFile));
        const size_t newline = text.find(L'\n');
        result.loaded = text.substr(0, newline);
        result.tempPath = newline == std::wstring::npos ? L"" : text.substr(newline + 1);
        return result;
    }

    TempDir appDir_{L"app"};
    TempDir work_{L"work"};
    std::wstring library_;
};

TEST_F(LoaderFallbackTest, WithoutAnImageTheLibraryBesideTheExecutableIsLoaded) {
    EXPECT_EQ(Run(work_.path(), false).loaded, L"none");
    ASSERT_TRUE(CopyFileW(library_.c_str(), Fallback().c_str(), FALSE));
    const ProbeResult result = Run(work_.path(), false);
    EXPECT_TRUE(SamePath(result.loaded, Fallback())) << result.loaded;
    EXPECT_EQ(result.tempPath, L"");
    EXPECT_FALSE(FileExists(work_ / L"TarnDown_WebView2Loader.dll"));
}

TEST_F(LoaderFallbackTest, AnUnwritableTemporaryDirectoryFallsBackBesideTheExecutable) {
    const std::wstring missing = work_ / L"missing";
    EXPECT_EQ(Run(missing, true).loaded, L"none");
    ASSERT_TRUE(CopyFileW(library_.c_str(), Fallback().c_str(), FALSE));
    const ProbeResult result = Run(missing, true);
    EXPECT_TRUE(SamePath(result.loaded, Fallback())) << result.loaded;
    EXPECT_TRUE(SamePath(result.tempPath, missing + L"\\TarnDown_WebView2Loader.dll")) << result.tempPath;
}

TEST_F(LoaderFallbackTest, TheExtractedCopyIsPreferredOverTheOneBesideTheExecutable) {
    ASSERT_TRUE(CopyFileW(library_.c_str(), Fallback().c_str(), FALSE));
    const ProbeResult result = Run(work_.path(), true);
    EXPECT_TRUE(SamePath(result.loaded, work_ / L"TarnDown_WebView2Loader.dll")) << result.loaded;
}

}  // namespace
