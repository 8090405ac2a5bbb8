// The real TarnDown.exe as built, carrying Microsoft's loader, with a browser engine of our own
// (tests/webhost/fixtures/fake_runtime.cpp as EmbeddedBrowserWebView.dll) installed in a runtime
// version folder under a private LOCALAPPDATA, which the program finds and passes to the loader;
// the loader loads the engine from there. The program's temporary folder is private too, so the
// loader's extracted copy is this test's own. The engine's journal says what the program (and the
// loader between them) called, with which arguments and references; its windows, the program's
// windows and the message boxes are real windows read from here.
#include "base/text_convert.h"
#include "tests/support/net_util.h"
#include "tests/support/pipeline_env.h"
#include "tests/support/raw_http_client.h"
#include "tests/support/tarn_program.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// The loader this build carries (generated from TARN_WEBVIEW2_LOADER): Microsoft's, 159296 bytes.
extern const unsigned char kEmbeddedLoaderImage[];
extern const std::size_t kEmbeddedLoaderSize;

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kStepTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr DWORD kTaskTimeoutMs = 60000;
constexpr int kPageAreaId = 2025;
constexpr int kHostId = 2022;
constexpr int kViewTasksId = 2026;
constexpr int kTaskListId = 2011;
constexpr int kInstallButtonId = 2029;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr const char* kStartUrl = "http://assets.tarn.example/";
constexpr const wchar_t* kRuntimeVersion = L"120.0.2210.91";
// How the engine leaves after a clean run: at the process's end (the loader does not free it), with
// the program's loader copy already freed by its teardown.
constexpr const char* kEngineUnloaded = "unloaded\texit\tloader-freed";
constexpr const wchar_t* kEnginePath = L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";
constexpr const wchar_t* kLoaderRegistryKey =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// The loader this build carries, Microsoft's.
std::string CarriedLoader() {
    EXPECT_EQ(kEmbeddedLoaderSize, 159296u);
    return std::string(reinterpret_cast<const char*>(kEmbeddedLoaderImage), kEmbeddedLoaderSize);
}

using Line = std::vector<std::string>;  // a journal line's fields after its tick count

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

std::string Join(const Line& line) {
    std::string text;
    for (const std::string& field : line) {
        text += (text.empty() ? "" : "\t") + field;
    }
    return text;
}

RECT ClientOf(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return client;
}

RECT ScreenRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

// The version folder of a runtime as its installer leaves it: msedgewebview2.exe and, unless
// `withEngine` is false, the engine library in EBWebView\x64.
void InstallRuntimeFolder(const std::wstring& versionFolder, bool withEngine) {
    for (size_t at = versionFolder.find(L'\\', 3); at != std::wstring::npos;
         at = versionFolder.find(L'\\', at + 1)) {
        CreateDirectoryW(versionFolder.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(versionFolder.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(versionFolder + L"\\msedgewebview2.exe", "MZ"));
    if (withEngine) {
        CreateDirectoryW((versionFolder + L"\\EBWebView").c_str(), nullptr);
        CreateDirectoryW((versionFolder + L"\\EBWebView\\x64").c_str(), nullptr);
        const std::wstring engine = TestProgramDirectory() + L"\\fake-engine\\EmbeddedBrowserWebView.dll";
        ASSERT_TRUE(CopyFileW(engine.c_str(), (versionFolder + L"\\" + kEnginePath).c_str(), FALSE))
            << "missing " << WideToUtf8(engine);
    }
}

// The value Microsoft's loader reads for the installed runtime when no folder is passed to it,
// written for one test and removed after it.
class ScopedRuntimeRegistration {
  public:
    explicit ScopedRuntimeRegistration(const std::wstring& versionFolder) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLoaderRegistryKey, 0, nullptr, 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(versionFolder.c_str()),
                           static_cast<DWORD>((versionFolder.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    ~ScopedRuntimeRegistration() {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLoaderRegistryKey, KEY_WOW64_64KEY, 0);
    }
    ScopedRuntimeRegistration(const ScopedRuntimeRegistration&) = delete;
    ScopedRuntimeRegistration& operator=(const ScopedRuntimeRegistration&) = delete;
};

class BrowserControlProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallRuntimeFolder(RuntimeFolder(), true));
        journalDir_ = RuntimeFolder() + L"\\EBWebView\\x64";
    }

    std::wstring RuntimeFolder() const {
        return local_ / (L"Microsoft\\EdgeWebView\\Application\\" + std::wstring(kRuntimeVersion));
    }
    std::wstring EnginePath() const { return RuntimeFolder() + L"\\" + kEnginePath; }
    std::wstring UserDataFolder() const { return local_ / L"TarnDown_WebView2"; }
    std::wstring ExtractedLoader() const { return temp_ / L"TarnDown_WebView2Loader.dll"; }
    std::wstring JournalPath() const { return journalDir_ + L"\\fake_runtime.log"; }

    // Puts `library` (a loader-shaped file in the build folder) beside the program as its loader
    // library, and gives the program a temporary folder it cannot write, so that the carried loader
    // cannot be extracted and the one beside it is loaded.
    void InstallLoaderBesideProgram(const wchar_t* library) {
        const std::wstring source = TestProgramDirectory() + L"\\" + library;
        const std::wstring target = program_->directory() + L"\\WebView2Loader.dll";
        ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << "missing " << WideToUtf8(source);
        journalDir_ = program_->directory();
        tempFolder_ = temp_ / L"missing";
    }

    void ConfigureFake(const std::string& lines) {
        ASSERT_TRUE(WriteFileBytes(journalDir_ + L"\\fake_runtime.txt", lines));
    }

    void Start() {
        ScopedEnvironmentVariable localAppData(L"LOCALAPPDATA", local_.path());
        ScopedEnvironmentVariable tmp(L"TMP", tempFolder_ + L"\\");
        ScopedEnvironmentVariable temp(L"TEMP", tempFolder_ + L"\\");
        ProgramSettings settings;
        settings.port = port_ = PickFreePort();
        program_->WriteSettings(settings);
        ASSERT_TRUE(program_->Start());
        ASSERT_NE(program_->WaitForTrayWindow(kStartTimeoutMs), nullptr);
        ASSERT_TRUE(WaitFor(
            [&] {
                window_ = FindProcessWindow(program_->processId(), L"TarnDownloadWnd");
                return window_ && IsWindowVisible(window_);
            },
            kStartTimeoutMs));
        windowSeenTick_ = GetTickCount64();
    }

    // Every journal line, tick count first.
    std::vector<std::pair<ULONGLONG, Line>> Journal() const {
        std::vector<std::pair<ULONGLONG, Line>> lines;
        std::istringstream text(ReadFileBytes(JournalPath()));
        std::string raw;
        while (std::getline(text, raw)) {
            if (!raw.empty() && raw.back() == '\r') {
                raw.pop_back();
            }
            Line fields;
            std::istringstream split(raw);
            std::string field;
            while (std::getline(split, field, '\t')) {
                fields.push_back(field);
            }
            if (fields.size() >= 2) {
                const ULONGLONG tick = std::stoull(fields[0]);
                fields.erase(fields.begin());
                lines.emplace_back(tick, fields);
            }
        }
        return lines;
    }

    // The lines whose call name is one of `names`, as joined text.
    std::vector<std::string> Calls(const std::vector<std::string>& names) const {
        std::vector<std::string> calls;
        for (const auto& entry : Journal()) {
            if (std::find(names.begin(), names.end(), entry.second[0]) != names.end()) {
                calls.push_back(Join(entry.second));
            }
        }
        return calls;
    }

    size_t Count(const std::string& prefix) const {
        size_t count = 0;
        for (const auto& entry : Journal()) {
            count += Join(entry.second).compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        }
        return count;
    }

    bool WaitForCount(const std::string& prefix, size_t count) const {
        return WaitFor([&] { return Count(prefix) >= count; }, kStepTimeoutMs);
    }

    // Runs `command` in the fake, queued behind every message the program has posted so far, and
    // waits until it has run.
    void Command(const std::string& command) {
        const HWND control = FindProcessWindow(program_->processId(), L"TarnFakeRuntimeControl");
        ASSERT_NE(control, nullptr);
        const size_t before = Count("done\t" + command);
        COPYDATASTRUCT data = {};
        data.cbData = static_cast<DWORD>(command.size());
        data.lpData = const_cast<char*>(command.data());
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                                        kStepTimeoutMs, &result));
        ASSERT_TRUE(WaitForCount("done\t" + command, before + 1)) << command;
    }

    // Lets everything the program has queued run: a no-op command comes back only after it.
    void Settle() { Command("mark"); }

    HWND PageArea() const { return GetDlgItem(window_, kPageAreaId); }
    HWND Host() const { return GetDlgItem(PageArea(), kHostId); }
    HWND Outer() const { return FindWindowExW(Host(), nullptr, L"Chrome_WidgetWin_0", nullptr); }
    HWND Inner() const { return FindWindowExW(Outer(), nullptr, L"Chrome_WidgetWin_1", nullptr); }

    void ToggleTaskList() { PostMessageW(window_, WM_COMMAND, MAKEWPARAM(kViewTasksId, BN_CLICKED), 0); }

    void SetClientSize(int width, int height) {
        const RECT frame = ScreenRect(window_);
        const RECT client = ClientOf(window_);
        SetWindowPos(window_, nullptr, 0, 0, width + (frame.right - frame.left) - client.right,
                     height + (frame.bottom - frame.top) - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // Starts over with a new copy of the program in a new folder, the engine's journal and
    // configuration emptied.
    void NewProgram() {
        program_.reset();
        program_ = std::make_unique<TarnProgram>();
        journalDir_ = RuntimeFolder() + L"\\EBWebView\\x64";
        tempFolder_ = temp_.path();
        DeleteFileW(JournalPath().c_str());
        DeleteFileW((journalDir_ + L"\\fake_runtime.txt").c_str());
    }

    // The program's message box, once one is shown.
    HWND WaitForMessageBox() const {
        HWND box = nullptr;
        WaitFor(
            [&] {
                box = FindProcessWindow(program_->processId(), L"#32770");
                return box && IsWindowVisible(box);
            },
            kStepTimeoutMs);
        return box;
    }

    // Caption and text of a message box; closes it with its OK button and waits until it is gone.
    // The text is read once it is there: the box can be found before it is set.
    std::pair<std::wstring, std::wstring> ReadAndCloseMessageBox(HWND box) {
        wchar_t caption[256] = {};
        GetWindowTextW(box, caption, 256);
        std::wstring text;
        WaitFor(
            [&] {
                for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                    wchar_t className[32] = {};
                    GetClassNameW(child, className, 32);
                    wchar_t childText[1024] = {};
                    GetWindowTextW(child, childText, 1024);
                    if (_wcsicmp(className, L"Static") == 0 && childText[0] &&
                        (text.empty() || GetDlgCtrlID(child) == kMessageBoxTextId)) {
                        text = childText;
                    }
                }
                return !text.empty();
            },
            kStepTimeoutMs);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }, kStepTimeoutMs));
        return {caption, text};
    }

    void Exit() {
        ASSERT_TRUE(program_->RequestExit());
        DWORD exitCode = 1;
        ASSERT_TRUE(program_->WaitForExit(kExitTimeoutMs, &exitCode));
        EXPECT_EQ(exitCode, 0u);
    }

    // After the program ended: the library was unloaded with nothing of its handed out left alive,
    // no slot it does not expect was called, and every reference it took on a handler it dropped.
    void ExpectCleanEnd(const std::string& unloadedLine = kEngineUnloaded) {
        const std::vector<std::string> unloaded = Calls({"unloaded"});
        ASSERT_EQ(unloaded.size(), 1u) << ::testing::PrintToString(Calls({"loaded", "unloaded", "command"}));
        EXPECT_EQ(unloaded[0], unloadedLine);
        EXPECT_EQ(Calls({"unexpected"}), std::vector<std::string>());
        std::map<std::string, int> held;
        for (const auto& entry : Journal()) {
            if (entry.second[0] == "hold") {
                ++held[entry.second[1]];
            } else if (entry.second[0] == "drop") {
                --held[entry.second[1]];
            }
        }
        for (const auto& handler : held) {
            EXPECT_EQ(handler.second, 0) << handler.first;
        }
    }

    TempDir local_{L"lad"};
    TempDir temp_{L"tmp"};
    std::wstring tempFolder_ = temp_.path();
    std::wstring journalDir_;
    std::unique_ptr<TarnProgram> program_ = std::make_unique<TarnProgram>();
    HWND window_ = nullptr;
    ULONGLONG windowSeenTick_ = 0;
    int port_ = 0;
};

#define EXPECT_SIZE(window, width, height)                        \
    do {                                                          \
        const RECT client_ = ClientOf(window);                    \
        EXPECT_EQ(client_.right, (width)) << #window " width";    \
        EXPECT_EQ(client_.bottom, (height)) << #window " height"; \
    } while (false)

TEST_F(BrowserControlProgram, CreatesFitsNavigatesAnswersKeysAndTearsDownToZero) {
    Start();
    ASSERT_TRUE(WaitForCount("Navigate", 1)) << ReadFileBytes(JournalPath());
    // A measurement, not a limit: from the extracted loader's write (just before the program loads
    // it), from the engine's load (inside the loader's environment call) and from the moment this
    // test saw the window, to the start page's Navigate. Tick counts become file times through one
    // reading of both clocks.
    FILETIME nowTime = {};
    GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG nowTick = GetTickCount64();
    ULONGLONG engineLoaded = 0;
    for (const auto& entry : Journal()) {
        if (entry.second[0] == "loaded") {
            engineLoaded = entry.first;
        } else if (entry.second[0] == "Navigate") {
            const auto ticks = [](const FILETIME& time) {
                return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
            };
            WIN32_FILE_ATTRIBUTE_DATA loader = {};
            GetFileAttributesExW(ExtractedLoader().c_str(), GetFileExInfoStandard, &loader);
            const ULONGLONG written = ticks(loader.ftLastWriteTime) - (ticks(nowTime) - nowTick);
            std::printf(
                "creation: loader written -> Navigate %lld ms; engine loaded -> Navigate %llu ms; "
                "window seen -> Navigate %llu ms\n",
                static_cast<long long>(entry.first - written),
                static_cast<unsigned long long>(entry.first - engineLoaded),
                static_cast<unsigned long long>(entry.first - std::min(entry.first, windowSeenTick_)));
            break;
        }
    }
    // The program loaded Microsoft's loader, extracted from itself into its temporary folder.
    EXPECT_EQ(ReadFileBytes(ExtractedLoader()), CarriedLoader());
    const RECT page = ClientOf(PageArea());
    const std::string bounds =
        "put_Bounds\t0\t0\t" + std::to_string(page.right) + "\t" + std::to_string(page.bottom);
    const std::vector<std::string> chain = {
        "loaded\t" + WideToUtf8(EnginePath()),
        "CreateWebViewEnvironmentWithOptionsInternal\t1\t1\t" + WideToUtf8(UserDataFolder()) +
            "\t(null)\tthread-same",
        "environment-completed\t0x00000000",
        "CreateCoreWebView2Controller\tTarnWebHost\t2022\t2025",
        "get_CoreWebView2",
        "controller-completed\t0x00000000",
        "add_NavigationStarting",
        "add_NavigationCompleted",
        "add_WebMessageReceived",
        "put_IsScriptEnabled\t1",
        "put_AreDevToolsEnabled\t0",
        "put_AreDefaultContextMenusEnabled\t0",
        "put_IsPasswordAutosaveEnabled\t1",
        "put_IsGeneralAutofillEnabled\t1",
        bounds,
        "put_IsVisible\t1",
        "NotifyParentWindowPositionChanged",
        "NotifyParentWindowPositionChanged",
        "Navigate\t" + std::string(kStartUrl),
    };
    std::vector<std::string> names;
    for (const std::string& call : chain) {
        names.push_back(call.substr(0, call.find('\t')));
    }
    EXPECT_EQ(Calls(names), chain);
    EXPECT_TRUE(DirectoryExists(UserDataFolder()));
    // Every handler of the program the engine is given answers IUnknown and its own interface with
    // itself, refuses others and a null out pointer. The environment's handler the engine sees is
    // the loader's own, which passes the environment on to the program's.
    const std::string answers = "\t0x00000000=self\t0x00000000=self\t0x80004002=null";
    EXPECT_EQ(Calls({"probe"}),
              (std::vector<std::string>{"probe\tloader-environment-handler" + answers,
                                        "probe\tcontroller-handler" + answers + "\t0x80004003",
                                        "probe\tnavigation-starting-handler" + answers + "\t0x80004003",
                                        "probe\tnavigation-completed-handler" + answers + "\t0x80004003",
                                        "probe\tweb-message-handler" + answers + "\t0x80004003"}));

    // The host and the runtime's windows fill the page area below the settings strip.
    const RECT client = ClientOf(window_);
    EXPECT_EQ(page.right, client.right);
    EXPECT_EQ(page.bottom, client.bottom - 30);
    EXPECT_SIZE(Host(), page.right, page.bottom);
    ASSERT_NE(Inner(), nullptr);
    EXPECT_SIZE(Outer(), page.right, page.bottom);
    EXPECT_SIZE(Inner(), page.right, page.bottom);

    SetClientSize(1300, 800);
    ASSERT_TRUE(WaitForCount("put_Bounds\t0\t0\t1300\t770", 1));
    Settle();
    EXPECT_SIZE(Host(), 1300, 770);
    EXPECT_SIZE(Outer(), 1300, 770);
    EXPECT_SIZE(Inner(), 1300, 770);

    // The task list's band takes 150 pixels; until the site has loaded, every layout asks for the
    // start page again.
    ToggleTaskList();
    ASSERT_TRUE(WaitForCount("put_Bounds\t0\t0\t1300\t620", 1));
    Settle();
    EXPECT_SIZE(Outer(), 1300, 620);
    EXPECT_SIZE(Inner(), 1300, 620);
    const HWND list = GetDlgItem(window_, kTaskListId);
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_EQ(Count("Navigate"), 2u);

    // A failed navigation runs nothing; one to another site runs the script but is not the site.
    // (Each layout sets the bounds more than once, so the next layout is awaited by its Navigate.)
    Command("navigation-completed 0 " + std::string(kStartUrl));
    ToggleTaskList();
    ASSERT_TRUE(WaitForCount("Navigate", 3));
    Settle();
    EXPECT_EQ(Count("ExecuteScript"), 0u);
    EXPECT_EQ(Count("Navigate"), 3u);
    Command("navigation-completed 1 http://other.example/?from=assets.tarn.exampl");
    ToggleTaskList();
    ASSERT_TRUE(WaitForCount("Navigate", 4));
    Settle();
    EXPECT_EQ(Count("Navigate"), 4u);
    const std::vector<std::string> scripts = Calls({"ExecuteScript"});
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0].compare(0, 14, "ExecuteScript\t"), 0);
    EXPECT_NE(scripts[0].find("window.TARNEmbedded = true;"), std::string::npos);
    EXPECT_NE(scripts[0].find("document.addEventListener('click', onClick, true);"), std::string::npos);
    EXPECT_EQ(scripts[0].find('\n'), std::string::npos);
    EXPECT_EQ(scripts[0].substr(scripts[0].size() - 7), "\t(null)");
    // The site's host anywhere in the address (here only in the query) counts as the site.
    Command("navigation-completed 1 http://mirror.example/?next=http://assets.tarn.example/");
    ToggleTaskList();
    ASSERT_TRUE(WaitForCount("put_Bounds\t0\t0\t1300\t770", 3));
    Settle();
    EXPECT_EQ(Count("ExecuteScript"), 2u);
    EXPECT_EQ(Count("Navigate"), 4u);

    // The other two registrations reach their handlers (their links are the next test's).
    Command("navigation-starting http://assets.tarn.example/next");
    Command("web-message hello");
    EXPECT_EQ(Calls({"fired"}),
              (std::vector<std::string>{
                  "fired\tNavigationCompleted\t0x00000000", "fired\tNavigationCompleted\t0x00000000",
                  "fired\tNavigationCompleted\t0x00000000", "fired\tNavigationStarting\t0x00000000",
                  "fired\tWebMessageReceived\t0x00000000"}));

    // F5 reloads and is not passed on; other keys reach the runtime's own procedure.
    PostMessageW(Outer(), WM_KEYDOWN, VK_F5, 0);
    PostMessageW(Outer(), WM_KEYDOWN, VK_F6, 0);
    Settle();
    EXPECT_EQ(Count("Reload"), 1u);
    EXPECT_EQ(Count("key\t116"), 0u);
    EXPECT_EQ(Count("key\t117"), 1u);
    // F11: the whole monitor, then back to 100, 100 (1000 x 700 grows to the minimum tracking size).
    PostMessageW(Outer(), WM_KEYDOWN, VK_F11, 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            const RECT rect = ScreenRect(window_);
            return rect.left == 0 && rect.top == 0 && rect.right == GetSystemMetrics(SM_CXSCREEN) &&
                   rect.bottom == GetSystemMetrics(SM_CYSCREEN);
        },
        kStepTimeoutMs));
    PostMessageW(Outer(), WM_KEYDOWN, VK_F11, 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            const RECT rect = ScreenRect(window_);
            return rect.left == 100 && rect.top == 100 && rect.right - rect.left == 1202 &&
                   rect.bottom - rect.top == 750;
        },
        kStepTimeoutMs));

    const std::vector<std::string> tokens = Calls({"token"});
    ASSERT_EQ(tokens.size(), 3u);
    Exit();
    auto tokenOf = [&](size_t i) { return tokens[i].substr(tokens[i].rfind('\t') + 1); };
    EXPECT_EQ(Calls({"remove_NavigationStarting", "remove_NavigationCompleted", "remove_WebMessageReceived",
                     "Close"}),
              (std::vector<std::string>{"remove_NavigationStarting\t" + tokenOf(0) + "\tknown",
                                        "remove_NavigationCompleted\t" + tokenOf(1) + "\tknown",
                                        "remove_WebMessageReceived\t" + tokenOf(2) + "\tknown",
                                        "Close\tcontroller#2\tparent-alive"}));
    // The teardown freed the loader (the engine, which the loader never frees, saw it gone at the
    // end) and deleted its copy.
    ExpectCleanEnd();
    EXPECT_FALSE(FileExists(ExtractedLoader()));
}

// Each failure of the chain shows its message once, and the next layout tries again. The chain runs
// through the carried loader, except where no loader can be loaded (M1: the temporary folder takes
// no copy and none lies beside the program) and where the loader lacks both exports (M2: a
// loader-shaped library of ours beside the program, loaded because the copy cannot be written).
TEST_F(BrowserControlProgram, EachFailureIsShownAndTheNextLayoutRetries) {
    enum class Loader { Carried, None, WithoutExports, Older };
    struct Case {
        const char* name;
        Loader loader;
        const char* config;
        std::wstring text;
        bool registered = false;  // the runtime is also registered, for the loader's search without a folder
        // A journal line that is already there when the box shows: the box waits until the
        // runtime's callback has returned.
        const char* returned = "";
    };
    const std::wstring dataFolder = UserDataFolder();
    const std::wstring developerPage = L"https://developer.microsoft.com/microsoft-edge/webview2/";
    auto startFailed = [&](const wchar_t* result) {
        return L"启动 WebView2 浏览器控件失败 (HRESULT=" + std::wstring(result) + L")\n用户数据目录: " +
               dataFolder + L"\n请确保已安装 Microsoft Edge WebView2 Runtime\n下载地址: " + developerPage;
    };
    const std::vector<Case> cases = {
        {"M1", Loader::None, "",
         L"无法加载 WebView2Loader.dll\n请重新安装程序或手动下载 WebView2 Runtime：\n"
         L"https://go.microsoft.com/fwlink/?linkid=2124703"},
        {"M2", Loader::WithoutExports, "", L"找不到 WebView2 环境创建函数\n请确保安装了 WebView2 Runtime"},
        // The library refuses the host window from a hook it sets when it is loaded, which must
        // happen before the program makes that window: the loader-shaped library can, an engine
        // the loader loads later cannot.
        {"M3", Loader::Older, "fail=host-window", L"创建 WebView2 宿主窗口失败"},
        {"M4", Loader::Carried, "fail=env-call", startFailed(L"80004005"), true},
        {"M5", Loader::Carried, "fail=env-complete",
         L"WebView2 环境创建失败 (HRESULT=80004005)\n请确保已安装 Microsoft Edge WebView2 "
         L"Runtime\n下载地址: " +
             developerPage,
         true, "environment-completed"},
        {"M6", Loader::Carried, "fail=controller-complete",
         L"WebView2 Controller 创建失败 (HRESULT=80004005)", false, "controller-completed\t0x00000000"},
        {"M7", Loader::Carried, "fail=core", L"获取 WebView2 核心接口失败 (HRESULT=80004005)", false,
         "controller-completed\t0x00000000"},
        // Last, as it takes the engine away: the runtime folder the program finds holds
        // msedgewebview2.exe but no engine library, and no runtime is registered for the retry.
        {"M4 without an engine", Loader::Carried, "", startFailed(L"80070002")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewProgram();
        if (c.loader == Loader::None) {
            tempFolder_ = temp_ / L"missing";
        } else if (c.loader == Loader::WithoutExports) {
            InstallLoaderBesideProgram(L"tarn_test_loader.dll");
        } else if (c.loader == Loader::Older) {
            InstallLoaderBesideProgram(L"fake_webview2_loader_old.dll");
        }
        if (std::string(c.name) == "M4 without an engine") {
            ASSERT_TRUE(DeleteFileW(EnginePath().c_str()));
        }
        ConfigureFake(c.config);
        std::unique_ptr<ScopedRuntimeRegistration> registration;
        if (c.registered) {
            registration = std::make_unique<ScopedRuntimeRegistration>(RuntimeFolder());
        }
        Start();
        for (int attempt = 0; attempt < 2; ++attempt) {
            const HWND box = WaitForMessageBox();
            ASSERT_NE(box, nullptr) << "attempt " << attempt;
            if (*c.returned) {
                EXPECT_GE(Count(c.returned), static_cast<size_t>(attempt + 1));
            }
            const auto shown = ReadAndCloseMessageBox(box);
            EXPECT_EQ(shown.first, L"WebView2 错误");
            EXPECT_EQ(shown.second, c.text) << WideToUtf8(shown.second) << ReadFileBytes(JournalPath());
            if (attempt == 0) {
                ToggleTaskList();
            }
        }
        Exit();
        if (c.loader == Loader::Carried && !Journal().empty()) {
            EXPECT_EQ(Count("Navigate"), 0u);
            ExpectCleanEnd();
        } else if (c.loader == Loader::Older) {
            ExpectCleanEnd("unloaded\tdynamic");
        }
        // The loader's copy is gone, whether it was loaded or not.
        EXPECT_FALSE(FileExists(ExtractedLoader()));
    }
}

// Variations the chain must take: one registration refused and a runtime without Settings4; a
// runtime folder without an engine, where the loader's refusal makes the program ask again without
// a folder, and the loader then finds the runtime registered elsewhere, with a refused navigation;
// a loader with only the older export.
TEST_F(BrowserControlProgram, RefusedRegistrationRuntimeFolderAndOlderExport) {
    ConfigureFake("fail=add-navigation-completed\nsettings4=no\n");
    Start();
    ASSERT_TRUE(WaitForCount("Navigate", 1));
    EXPECT_EQ(Calls({"add_NavigationStarting", "add_NavigationCompleted", "add_WebMessageReceived", "token"})
                  .size(),
              5u);
    EXPECT_EQ(Calls({"QueryInterface", "put_IsPasswordAutosaveEnabled"}),
              (std::vector<std::string>{"QueryInterface\tenvironment#1\tICoreWebView2Environment",
                                        "QueryInterface\tsettings#4\tICoreWebView2Settings4",
                                        "QueryInterface\tsettings#4\tICoreWebView2Settings5",
                                        "put_IsPasswordAutosaveEnabled\t1"}));
    Exit();
    const std::vector<std::string> removed =
        Calls({"remove_NavigationStarting", "remove_NavigationCompleted", "remove_WebMessageReceived"});
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_EQ(removed[0].compare(0, 26, "remove_NavigationStarting\t"), 0);
    EXPECT_EQ(removed[1].compare(0, 26, "remove_WebMessageReceived\t"), 0);
    ExpectCleanEnd();

    NewProgram();
    ASSERT_TRUE(DeleteFileW(EnginePath().c_str()));
    TempDir registered{L"rt"};
    const std::wstring registeredFolder = registered / kRuntimeVersion;
    ASSERT_NO_FATAL_FAILURE(InstallRuntimeFolder(registeredFolder, true));
    ScopedRuntimeRegistration registration(registeredFolder);
    journalDir_ = registeredFolder + L"\\EBWebView\\x64";
    ConfigureFake("fail=navigate\n");
    Start();
    ASSERT_TRUE(WaitForCount("ExecuteScript", 1));
    // A refused Navigate is followed by the same address set from a script.
    EXPECT_EQ(Calls({"Navigate", "ExecuteScript"}),
              (std::vector<std::string>{
                  "Navigate\t" + std::string(kStartUrl),
                  "ExecuteScript\twindow.location.href = '" + std::string(kStartUrl) + "';\t(null)"}));
    EXPECT_EQ(Calls({"loaded", "CreateWebViewEnvironmentWithOptionsInternal"}),
              (std::vector<std::string>{"loaded\t" + WideToUtf8(registeredFolder + L"\\" + kEnginePath),
                                        "CreateWebViewEnvironmentWithOptionsInternal\t1\t0\t" +
                                            WideToUtf8(UserDataFolder()) + "\t(null)\tthread-same"}));
    Exit();
    ExpectCleanEnd();

    NewProgram();
    InstallLoaderBesideProgram(L"fake_webview2_loader_old.dll");
    Start();
    ASSERT_TRUE(WaitForCount("Navigate", 1));
    EXPECT_EQ(Calls({"CreateCoreWebView2EnvironmentWithOptions", "CreateCoreWebView2Environment"}),
              std::vector<std::string>{"CreateCoreWebView2Environment"});
    Exit();
    ExpectCleanEnd("unloaded\tdynamic");
}

// Layouts while the environment is pending start nothing new. The window closes meanwhile and the
// environment completes after the teardown: the program keeps nothing of it, and the runtime's
// library is still there to finish its call.
TEST_F(BrowserControlProgram, ClosingWhileTheEnvironmentIsPendingLeavesNothingBehind) {
    ConfigureFake("hold=env-until-host-destroyed\n");
    Start();
    ASSERT_TRUE(WaitForCount("CreateWebViewEnvironmentWithOptionsInternal", 1));
    const HWND host = Host();
    ASSERT_NE(host, nullptr);
    ToggleTaskList();
    ToggleTaskList();
    Settle();
    EXPECT_EQ(Count("CreateWebViewEnvironmentWithOptionsInternal"), 1u);
    EXPECT_EQ(Host(), host);

    PostMessageW(window_, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(program_->WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(Calls({"host-destroyed-with-environment-pending", "environment-completed",
                     "CreateCoreWebView2Controller"}),
              (std::vector<std::string>{"host-destroyed-with-environment-pending",
                                        "environment-completed\t0x00000000"}));
    ExpectCleanEnd("unloaded\texit\tloader-loaded");
}

// Without a runtime (a version folder without msedgewebview2.exe is none) the program as built opens
// downloader-only: no page area, the install button shown, and the carried loader never written.
TEST_F(BrowserControlProgram, WithoutARuntimeTheWindowIsDownloaderOnlyWithTheInstallButton) {
    ASSERT_TRUE(DeleteFileW((RuntimeFolder() + L"\\msedgewebview2.exe").c_str()));
    Start();
    const HWND install = GetDlgItem(window_, kInstallButtonId);
    ASSERT_NE(install, nullptr);
    EXPECT_TRUE(IsWindowVisible(install));
    EXPECT_EQ(PageArea(), nullptr);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window_, kTaskListId)));
    Exit();
    EXPECT_EQ(ReadFileBytes(JournalPath()), "");
    EXPECT_FALSE(FileExists(ExtractedLoader()));
}

// The program's task list as its API reports it, once no task is pending or in a stage any more.
std::string SettledTasks(int port) {
    std::string tasks;
    WaitFor(
        [&] {
            tasks = ReplyBody(HttpExchange(port, SimpleGet("/api/tasks")));
            for (const char* busy :
                 {"\"pending\"", "\"queued\"", "\"downloading\"", "\"extracting\"", "\"copying\""}) {
                if (tasks.find(busy) != std::string::npos) {
                    return false;
                }
            }
            return tasks.find("\"tasks\"") != std::string::npos;
        },
        kTaskTimeoutMs);
    return tasks;
}

// Links from the site's pages, by navigation or by message, become tasks that download from a
// real local server and file their assets; a link from any other page is stopped and makes
// nothing. Every navigation start rewrites the diagnostic file, but only into an existing C:\temp.
TEST_F(BrowserControlProgram, LinksFromTheSiteBecomeTasksAndLinksFromOtherPagesDoNot) {
    const std::wstring tempFolder = L"C:\\temp";
    const std::wstring marker = tempFolder + L"\\tarndown_event_triggered.txt";
    DeleteFileW(marker.c_str());
    RemoveDirectoryW(tempFolder.c_str());
    ASSERT_FALSE(DirectoryExists(tempFolder)) << "C:\\temp holds files of its own";
    TestHttpServer server;
    server.Serve("/packs/a.zip", TestResponse{200, MakeStoredZip({{"sfx_fire.png", "fire"}})});
    server.Serve("/packs/b.zip", TestResponse{200, MakeStoredZip({{"level1.map", "map"}})});
    const std::string linkA =
        "tarndownload://download?url=" + server.UrlUtf8("/packs/a.zip") + "&name=..%5C..%5Cevil&cat=anim";
    const std::string linkB = "tarndownload://download?url=" + server.UrlUtf8("/packs/b.zip");
    ASSERT_TRUE(CopyTestSevenZip(program_->directory() + L"\\7za.exe"));
    Start();
    ASSERT_TRUE(WaitForCount("Navigate", 1));
    Command("navigation-completed 1 " + std::string(kStartUrl) + "list");

    Command("navigation-starting " + std::string(kStartUrl) + "next");
    EXPECT_FALSE(DirectoryExists(tempFolder));
    ASSERT_TRUE(CreateDirectoryW(tempFolder.c_str(), nullptr));
    Command("navigation-starting " + linkA);
    EXPECT_EQ(ReadFileBytes(marker), "CNavStartingHandler::Invoke was called!");
    Command("web-message " + linkB);
    // A foreign server's redirect to a link: the event still names the site's page as the source.
    Command("navigation-redirected tarndownload://download?url=" + server.UrlUtf8("/packs/c.zip"));
    Command("web-message hello");
    Command("web-message-json [\"" + linkB + "\"]");
    // The site's host name only inside another site's address is not the site.
    Command("navigation-completed 1 http://other.example/?next=" + std::string(kStartUrl));
    Command("navigation-starting " + linkB);
    Command("web-message " + linkB);
    DeleteFileW(marker.c_str());
    RemoveDirectoryW(tempFolder.c_str());
    EXPECT_EQ(Calls({"put_Cancel"}),
              (std::vector<std::string>{"put_Cancel\t1", "put_Cancel\t1", "put_Cancel\t1"}));

    EXPECT_EQ(SettledTasks(port_),
              "{\"tasks\":[{\"id\":0,\"name\":\".._.._evil\",\"status\":\"completed\","
              "\"progress\":100,\"error\":\"\"},{\"id\":1,\"name\":\"b\",\"status\":"
              "\"completed\",\"progress\":100,\"error\":\"\"}]}");
    const std::wstring dev = program_->directory() + L"\\dev";
    EXPECT_EQ(ReadFileBytes(dev + L"\\anim\\effect\\sfx_fire.png"), "fire");
    EXPECT_EQ(ReadFileBytes(dev + L"\\scene\\map\\level1.map"), "map");
    EXPECT_EQ(server.Requests().size(), 2u);
    Exit();
    ExpectCleanEnd();
}

// What the runtime itself raises: keys its focused window got, windows a page asks for, and its
// processes failing. The first registration's token is 0, which is a token like any other.
TEST_F(BrowserControlProgram, RuntimeKeysNewWindowsMovesAndProcessFailures) {
    ConfigureFake("first-token=0\n");
    Start();
    ASSERT_TRUE(WaitForCount("Navigate", 1));
    EXPECT_EQ(Calls({"registered"}).size(), 3u);
    for (const std::string& line : Calls({"registered"})) {
        EXPECT_NE(line.find("\t0x00000000=self"), std::string::npos) << line;
    }
    Command("navigation-completed 1 " + std::string(kStartUrl));

    // F5 and F11 are taken (pressed and released), a held key's repeat and other keys are not.
    Command("accelerator 0 116");
    Command("accelerator 1 116");
    Command("accelerator 0 116 40000000");
    Command("accelerator 0 117");
    EXPECT_EQ(Count("Reload"), 1u);
    EXPECT_EQ(Count("put_Handled"), 3u);
    Command("accelerator 0 122");
    EXPECT_TRUE(
        WaitFor([&] { return ScreenRect(window_).right == GetSystemMetrics(SM_CXSCREEN); }, kStepTimeoutMs));
    Command("accelerator 0 122");
    EXPECT_TRUE(WaitFor([&] { return ScreenRect(window_).left == 100; }, kStepTimeoutMs));

    // Dragging the window tells the runtime once per move.
    Settle();
    const size_t notified = Count("NotifyParentWindowPositionChanged");
    const RECT windowed = ScreenRect(window_);
    SetWindowPos(window_, nullptr, windowed.left + 40, windowed.top + 30, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Settle();
    EXPECT_EQ(Count("NotifyParentWindowPositionChanged"), notified + 1);

    // From the site: its pages open in the view, a link becomes a task, a script's window for
    // another site is refused, the user's goes to the default browser; never a window of the runtime.
    const std::string link = "tarndownload://download?url=http://127.0.0.1:9/p.zip&name=popup";
    Command("new-window 1 http://assets.tarn.example/pack/7");
    Command("new-window 0 " + link);
    Command("new-window 0 https://elsewhere.example/ad");
    Command("new-window 1 https://elsewhere.example/docs");
    Command("new-window 1 file:///C:/windows/win.ini");
    // From a page of another site: a site address is the default browser's, a link is refused.
    Command("navigation-completed 1 http://other.example/");
    Command("new-window 1 http://assets.tarn.example/pack/8");
    Command("new-window 1 " + link);
    EXPECT_EQ(Calls({"put_Handled"}).size(), 5u + 7u);
    EXPECT_EQ(Calls({"Navigate"}).back(), "Navigate\thttp://assets.tarn.example/pack/7");
    EXPECT_NE(SettledTasks(port_).find("\"name\":\"popup\""), std::string::npos);
    EXPECT_EQ(SettledTasks(port_).find("},{"), std::string::npos) << "one task only";
    std::string log;
    EXPECT_TRUE(WaitFor(
        [&] {
            log = ReadFileBytes(program_->directory() + L"\\TarnDown.log");
            return log.find("https://elsewhere.example/docs opened in the default browser") !=
                       std::string::npos &&
                   log.find("http://assets.tarn.example/pack/8 opened in the default browser") !=
                       std::string::npos;
        },
        kStepTimeoutMs));
    EXPECT_EQ(log.find("elsewhere.example/ad opened"), std::string::npos);
    EXPECT_EQ(log.find("win.ini opened"), std::string::npos);

    // A renderer's failure reloads the page; a second one within seconds leaves it.
    Command("process-failed 1");
    Command("process-failed 2");
    EXPECT_EQ(Count("Reload"), 2u);

    // The browser process's end: torn down and created again at once, back on the start page.
    const size_t navigations = Count("Navigate");
    Command("process-failed 0");
    ASSERT_TRUE(WaitForCount("Navigate", navigations + 1));
    ULONGLONG failed = 0;
    for (const auto& entry : Journal()) {
        if (Join(entry.second) == "fired\tProcessFailed\t0x00000000") {
            failed = entry.first;
        } else if (failed && entry.second[0] == "Navigate") {
            std::printf("recreation: browser process failure -> Navigate %llu ms\n",
                        static_cast<unsigned long long>(entry.first - failed));
            break;
        }
    }
    EXPECT_EQ(Calls({"Navigate"}).back(), "Navigate\t" + std::string(kStartUrl));
    EXPECT_EQ(Count("remove_NavigationStarting\t0\tknown"), 1u);
    EXPECT_EQ(Count("Close\tcontroller"), 1u);

    // In a minimised window the new browser waits for the window to come back.
    ShowWindow(window_, SW_MINIMIZE);
    Command("process-failed 0");
    Settle();
    EXPECT_EQ(Count("Close\tcontroller"), 2u);
    EXPECT_EQ(Count("CreateCoreWebView2Controller"), 2u);
    ShowWindow(window_, SW_RESTORE);
    ASSERT_TRUE(WaitForCount("Navigate", navigations + 2));
    EXPECT_EQ(Count("CreateCoreWebView2Controller"), 3u);
    Exit();
    ExpectCleanEnd();
}

}  // namespace
