// The tray window: its icon record, tip refresh, re-adding after a shell restart, the mouse events
// and the menu commands, with the shell calls recorded instead of made.
#include "api/http_server.h"
#include "app/app_exit.h"
#include "app/tray_window.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "state/window_requests.h"
#include "tasks/task_runner.h"
#include "tests/support/download_window_fixture.h"
#include "tests/support/message_pump.h"
#include "tests/support/tarn_program.h"
#include "ui/control_ids.h"
#include "ui/download_window.h"
#include "webhost/runtime_discovery.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"

#include <string>
#include <thread>
#include <vector>

namespace {

struct NotifyCall {
    DWORD action;
    NOTIFYICONDATAW data;
};

struct MenuItem {
    UINT id;
    UINT type;
    std::wstring text;
};

std::vector<NotifyCall> g_notifyCalls;
std::vector<std::vector<MenuItem>> g_menusShown;
UINT g_menuAnswer = 0;
HWND g_menuOwner = nullptr;

BOOL RecordNotify(DWORD action, NOTIFYICONDATAW* data) {
    g_notifyCalls.push_back({action, *data});
    return TRUE;
}

void IgnoreStart(const TaskRef&) {}

UINT AnswerMenu(HMENU menu, int, int, HWND owner) {
    std::vector<MenuItem> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 64;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        items.push_back({info.wID, info.fType, text});
    }
    g_menusShown.push_back(items);
    g_menuOwner = owner;
    return g_menuAnswer;
}

class TrayWindow : public DownloadWindowFixture {
  protected:
    void SetUp() override {
        DownloadWindowFixture::SetUp();
        ConnectApplication(false);
        SetNotifyIconFunctionForTesting(RecordNotify);
        SetTrayMenuTrackerForTesting(AnswerMenu);
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = TrayWndProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kTrayWindowClass;
        RegisterClassExW(&windowClass);
        g_hTrayWnd = CreateWindowExW(0, kTrayWindowClass, L"下载助手", 0, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(g_hTrayWnd, nullptr);
    }
    void TearDown() override {
        DownloadWindowFixture::TearDown();
        if (IsWindow(g_hTrayWnd)) {
            DestroyWindow(g_hTrayWnd);
        }
        PumpMessages();
        SetExitHandler(nullptr);
        SetWindowRequestHandlers(WindowRequestHandlers());
        ResetExitForTesting();
        SetNotifyIconFunctionForTesting(nullptr);
        SetTrayMenuTrackerForTesting(nullptr);
    }

    void RightClick(UINT answer) {
        g_menuAnswer = answer;
        SendMessageW(g_hTrayWnd, WM_TRAY_CALLBACK, kTrayIconId, WM_RBUTTONDOWN);
        PumpMessages();
        window_ = g_hDownloadWnd.load();
    }

    static bool RuntimePresent() { return true; }
    static bool RuntimeAbsent() { return false; }
};

}  // namespace

TEST_F(TrayWindow, CreationAddsTheIconWithTheClassicRecordAndThePortInTheTip) {
    ASSERT_EQ(g_notifyCalls.size(), 1u);
    const NotifyCall& add = g_notifyCalls[0];
    EXPECT_EQ(add.action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.data.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(add.data.cbSize, 976u);
    EXPECT_EQ(add.data.hWnd, g_hTrayWnd);
    EXPECT_EQ(add.data.uID, 1u);
    EXPECT_EQ(add.data.uFlags, 7u);
    EXPECT_EQ(add.data.uCallbackMessage, 0x8001u);
    EXPECT_EQ(add.data.hIcon, g_hAppIcon);
    EXPECT_STREQ(add.data.szTip, L"下载助手 - 端口 61206");
}

TEST_F(TrayWindow, APortChangeFromAnotherThreadRefreshesTheTipOnTheWindowThread) {
    std::thread server([] {
        UpdateConfig([](AppConfig& config) { config.port = 8123; });
        RefreshTrayTip();
    });
    server.join();
    EXPECT_EQ(g_notifyCalls.size(), 1u);  // nothing is done on the calling thread
    PumpMessages();
    ASSERT_EQ(g_notifyCalls.size(), 2u);
    EXPECT_EQ(g_notifyCalls[1].action, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_STREQ(g_notifyCalls[1].data.szTip, L"下载助手 - 端口 8123");
    EXPECT_EQ(g_notifyCalls[1].data.uID, 1u);
    EXPECT_STREQ(g_trayIconData.szTip, L"下载助手 - 端口 8123");
}

TEST_F(TrayWindow, TheIconComesBackWhenTheShellRestarts) {
    SendMessageW(g_hTrayWnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_EQ(g_notifyCalls.size(), 2u);
    EXPECT_EQ(g_notifyCalls[1].action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(g_notifyCalls[1].data.hWnd, g_hTrayWnd);
    EXPECT_STREQ(g_notifyCalls[1].data.szTip, L"下载助手 - 端口 61206");
}

TEST_F(TrayWindow, TheMenuHasItsTwoEntriesAndDismissingItDoesNothing) {
    RightClick(0);
    ASSERT_EQ(g_menusShown.size(), 1u);
    const std::vector<MenuItem>& items = g_menusShown[0];
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].id, 5001u);
    EXPECT_EQ(items[0].text, L"查看下载任务");
    EXPECT_TRUE(items[1].type & MFT_SEPARATOR);
    EXPECT_EQ(items[2].id, 1002u);
    EXPECT_EQ(items[2].text, L"退出下载助手");
    EXPECT_EQ(g_menuOwner, g_hTrayWnd);
    EXPECT_EQ(g_hDownloadWnd.load(), nullptr);
    EXPECT_TRUE(IsWindow(g_hTrayWnd));
    EXPECT_EQ(QuitMessagesSeen(), 0);
}

TEST_F(TrayWindow, ViewTasksOpensTheHiddenListButNeverClosesAnOpenOne) {
    SetRuntimeCheckForTesting(RuntimePresent);
    RightClick(IDM_TRAY_VIEW_TASKS);
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
    EXPECT_EQ(WindowText(Child(IDC_VIEW_TASKS)), L"隐藏任务");

    RightClick(IDM_TRAY_VIEW_TASKS);
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
}

TEST_F(TrayWindow, ViewTasksInDownloaderOnlyModeJustShowsTheWindow) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    RightClick(IDM_TRAY_VIEW_TASKS);
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
}

TEST_F(TrayWindow, DoubleClickRestoresTheMinimisedWindowAndSingleClicksDoNothing) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    for (const LPARAM event : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONUP}) {
        SendMessageW(g_hTrayWnd, WM_TRAY_CALLBACK, kTrayIconId, event);
    }
    PumpMessages();
    EXPECT_EQ(g_hDownloadWnd.load(), nullptr);
    EXPECT_TRUE(g_menusShown.empty());

    SendMessageW(g_hTrayWnd, WM_TRAY_CALLBACK, kTrayIconId, WM_LBUTTONDBLCLK);
    PumpMessages();
    window_ = g_hDownloadWnd.load();
    ASSERT_NE(window_, nullptr);
    ShowWindow(window_, SW_MINIMIZE);
    PumpMessages();
    ASSERT_TRUE(IsIconic(window_));
    SendMessageW(g_hTrayWnd, WM_TRAY_CALLBACK, kTrayIconId, WM_LBUTTONDBLCLK);
    PumpMessages();
    EXPECT_EQ(g_hDownloadWnd.load(), window_);
    EXPECT_FALSE(IsIconic(window_));
    EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(TrayWindow, ExitRemovesTheIconClosesBothWindowsAndQuitsWithZero) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    ShowDownloadWindow();
    PumpMessages();
    const HWND downloadWindow = g_hDownloadWnd.load();
    ASSERT_NE(downloadWindow, nullptr);
    g_serverRunning = true;

    RightClick(IDM_TRAY_EXIT);
    EXPECT_FALSE(IsWindow(downloadWindow));
    EXPECT_FALSE(IsWindow(g_hTrayWnd));
    EXPECT_EQ(g_hDownloadWnd.load(), nullptr);
    EXPECT_FALSE(g_serverRunning.load());
    EXPECT_GE(QuitMessagesSeen(), 1);
    EXPECT_EQ(LastQuitExitCode(), 0);
    ASSERT_GE(g_notifyCalls.size(), 2u);
    EXPECT_EQ(g_notifyCalls.back().action, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(g_notifyCalls.back().data.uID, 1u);
    EXPECT_EQ(g_notifyCalls.back().data.hWnd, g_hTrayWnd);
}

TEST_F(TrayWindow, TheExitCommandAloneEndsTheProgramWithoutADownloadWindow) {
    SendMessageW(g_hTrayWnd, WM_COMMAND, IDM_TRAY_EXIT, 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(g_hTrayWnd));
    EXPECT_EQ(QuitMessagesSeen(), 1);
    EXPECT_EQ(LastQuitExitCode(), 0);
    EXPECT_EQ(g_notifyCalls.back().action, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayWindow, ShowFromAnotherThreadCreatesTheWindowOnTheTrayWindowsThread) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    std::thread server([] { ShowDownloadWindow(); });
    server.join();
    EXPECT_EQ(g_hDownloadWnd.load(), nullptr);
    PumpMessages();
    window_ = g_hDownloadWnd.load();
    ASSERT_NE(window_, nullptr);
    EXPECT_EQ(GetWindowThreadProcessId(window_, nullptr), GetCurrentThreadId());

    // With the window there, another thread's request still only posts.
    ShowWindow(window_, SW_MINIMIZE);
    PumpMessages();
    std::thread again([] { ShowDownloadWindow(); });
    again.join();
    PumpMessages();
    EXPECT_FALSE(IsIconic(window_));
    EXPECT_EQ(g_hDownloadWnd.load(), window_);
}

TEST_F(TrayWindow, AfterTheExitNoOtherThreadCanCreateAWindow) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    ShowDownloadWindow();
    PumpMessages();
    ASSERT_NE(g_hDownloadWnd.load(), nullptr);
    SendMessageW(g_hTrayWnd, WM_COMMAND, IDM_TRAY_EXIT, 0);
    ASSERT_EQ(g_hDownloadWnd.load(), nullptr);
    // A download request that reaches the server thread while the program ends.
    std::thread server([] { ShowDownloadWindow(); });
    server.join();
    PumpMessages();
    EXPECT_EQ(g_hDownloadWnd.load(), nullptr);
    EXPECT_EQ(FindProcessWindow(GetCurrentProcessId(), L"TarnDownloadWnd"), nullptr);
}

TEST_F(TrayWindow, ClosingTheDownloadWindowRemovesTheTrayIcon) {
    SetRuntimeCheckForTesting(RuntimeAbsent);
    ShowDownloadWindow();
    PumpMessages();
    window_ = g_hDownloadWnd.load();
    ASSERT_NE(window_, nullptr);
    const size_t callsBefore = g_notifyCalls.size();
    SendMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_EQ(g_notifyCalls.size(), callsBefore + 1);
    EXPECT_EQ(g_notifyCalls.back().action, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(g_notifyCalls.back().data.hWnd, g_hTrayWnd);
    PumpMessages();
    EXPECT_EQ(QuitMessagesSeen(), 1);
}

// The end of a batch while the download window is out of sight: one balloon with the counts, which
// then start from zero, and a click on it opens the window with its list. While the window is in
// view the counts wait for the next balloon; NotifyWhenDone=0 shows none.
TEST_F(TrayWindow, ABatchEndingUnseenShowsOneBalloonThatOpensTheWindow) {
    SetRuntimeCheckForTesting(RuntimePresent);
    SetTaskThreadLauncherForTesting(IgnoreStart);
    UpdateConfig([](AppConfig& config) { config.maxConcurrentDownloads = 1; });
    for (const char* name : {"running", "first", "second"}) {
        DownloadTask task;
        task.name = name;
        SubmitTask(task);
    }
    ASSERT_EQ(CancelTask(1), CancelOutcome::Cancelled);  // a failure of the batch
    g_notifyCalls.clear();
    SendMessageW(g_hTrayWnd, WM_DOWNLOADS_DONE, 0, 0);
    SendMessageW(g_hTrayWnd, WM_DOWNLOADS_DONE, 0, 0);
    ASSERT_EQ(g_notifyCalls.size(), 1u);
    EXPECT_EQ(g_notifyCalls[0].action, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(g_notifyCalls[0].data.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(std::wstring(g_notifyCalls[0].data.szInfo), L"下载完成：0 个成功，1 个失败");

    SendMessageW(g_hTrayWnd, WM_TRAY_CALLBACK, kTrayIconId, NIN_BALLOONUSERCLICK);
    PumpMessages();
    window_ = g_hDownloadWnd.load();
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_TRUE(g_taskListVisible);

    ASSERT_EQ(CancelTask(2), CancelOutcome::Cancelled);
    SendMessageW(g_hTrayWnd, WM_DOWNLOADS_DONE, 0, 0);
    EXPECT_EQ(g_notifyCalls.size(), 1u);
    UpdateConfig([](AppConfig& config) { config.notifyWhenDone = false; });
    ShowWindow(window_, SW_HIDE);
    SendMessageW(g_hTrayWnd, WM_DOWNLOADS_DONE, 0, 0);
    EXPECT_EQ(g_notifyCalls.size(), 1u);
    SetTaskThreadLauncherForTesting(nullptr);
    ClearTasks();
}
