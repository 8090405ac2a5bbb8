// Extraction and loading of the loader library, with a library of our own as the carried image.
// The temporary directory is moved to a scratch folder through TMP/TEMP, which GetTempPathW reads.
#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/test_files.h"
#include "tests/webhost/fixtures/test_loader.h"
#include "webhost/loader_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        if (g_hWebView2Loader) {
            FreeLibrary(g_hWebView2Loader);
            g_hWebView2Loader = nullptr;
        }
        g_tempLoaderPath.clear();
        RestoreLoaderImageForTesting();
    }

    std::wstring Extracted() const { return temp_ / L"TarnDown_WebView2Loader.dll"; }
    std::string ImageBytes() const { return std::string(image_.begin(), image_.end()); }

    TempDir temp_{L"ldr"};
    ScopedVariable tmp_{L"TMP", temp_.path() + L"\\"};
    ScopedVariable temp2_{L"TEMP", temp_.path() + L"\\"};
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

TEST_F(LoaderLibraryTest, AFileOfExactlyTheImageSizeIsReusedUnread) {
    const std::string impostor(image_.size(), 'X');
    ASSERT_TRUE(WriteFileBytes(Extracted(), impostor));
    EXPECT_TRUE(SamePath(ExtractEmbeddedLoader(), Extracted()));
    EXPECT_EQ(ReadFileBytes(Extracted()), impostor);
    EXPECT_TRUE(SamePath(g_tempLoaderPath, Extracted()));
}

TEST_F(LoaderLibraryTest, AFileOfAnyOtherSizeIsRewritten) {
    for (const size_t size : {size_t{0}, image_.size() - 1, image_.size() + 1, image_.size() * 2}) {
        ASSERT_TRUE(WriteFileBytes(Extracted(), std::string(size, 'X')));
        EXPECT_TRUE(SamePath(ExtractEmbeddedLoader(), Extracted())) << size;
        EXPECT_EQ(ReadFileBytes(Extracted()), ImageBytes()) << size;
    }
    const HMODULE module = LoadWebView2Loader();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(CallMark(module), kTestLoaderMark);
}

TEST_F(LoaderLibraryTest, ExtractionFailureGivesNoPathButKeepsItForTeardown) {
    // A temporary directory that does not exist cannot take the file.
    const std::wstring missing = temp_ / L"missing";
    ScopedVariable tmp(L"TMP", missing + L"\\");
    ScopedVariable temp(L"TEMP", missing + L"\\");
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

    // Runs the probe with TMP/TEMP at `tempDir`, optionally carrying the stand-in as its image.
    ProbeResult Run(const std::wstring& tempDir, bool withImage) {
        ScopedVariable tmp(L"TMP", tempDir + L"\\");
        ScopedVariable temp(L"TEMP", tempDir + L"\\");
        const std::wstring resultFile = work_ / L"result.txt";
        DeleteFileW(resultFile.c_str());
        std::wstring commandLine = L"\"" + Probe() + L"\" \"" + resultFile + L"\"";
        if (withImage) {
            commandLine += L" \"" + library_ + L"\"";
        }
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
