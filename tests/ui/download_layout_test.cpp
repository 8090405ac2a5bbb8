// The download window's controls, sizes and positions in both modes, driven by real messages.
#include "base/window_messages.h"
#include "state/app_state.h"
#include "tests/support/download_window_fixture.h"
#include "tests/support/message_pump.h"
#include "ui/control_ids.h"
#include "ui/download_layout.h"
#include "ui/download_window.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "webhost/browser_state.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

using DownloaderOnlyLayout = DownloadWindowFixture;
using NormalLayout = DownloadWindowFixture;

struct ChildState {
    int id;
    RECT rect;
    bool visible;
    bool enabled;
    std::wstring text;
};

// Where a hidden control sits is not part of the layout anyone sees.
bool operator==(const ChildState& a, const ChildState& b) {
    return a.id == b.id && a.visible == b.visible && a.enabled == b.enabled && a.text == b.text &&
           (!a.visible || EqualRect(&a.rect, &b.rect));
}

// Direct children sorted by id and text, so a changed z-order does not count as a changed layout.
std::vector<ChildState> DirectChildren(HWND window) {
    std::vector<ChildState> states;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        states.push_back({GetDlgCtrlID(child), ChildRect(child), IsWindowVisible(child) != FALSE,
                          IsWindowEnabled(child) != FALSE, WindowText(child)});
    }
    std::sort(states.begin(), states.end(), [](const ChildState& a, const ChildState& b) {
        return a.id != b.id ? a.id < b.id : a.text < b.text;
    });
    return states;
}

HWND FindStatic(HWND window, const wchar_t* text) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        if (_wcsicmp(className, L"Static") == 0 && WindowText(child) == text) {
            return child;
        }
    }
    return nullptr;
}

// True when `upper` comes before `lower` in the z-order of their parent's children.
bool IsAbove(HWND upper, HWND lower) {
    for (HWND child = GetWindow(upper, GW_HWNDNEXT); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == lower) {
            return true;
        }
    }
    return false;
}

void ExpectSettingsStrip(HWND window) {
    EXPECT_CHILD_AT(FindStatic(window, L"下载目录:"), 10, 8, 80, 20);
    EXPECT_CHILD_AT(FindStatic(window, L"Dev目录:"), 365, 8, 60, 20);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_DOWNLOAD_DIR), 95, 4, 200, 22);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_BROWSE_DOWNLOAD_DIR), 300, 4, 55, 22);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_DEV_DIR), 430, 4, 250, 22);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_BROWSE_DEV_DIR), 685, 4, 55, 22);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_AUTO_EXTRACT), 760, 8, 90, 20);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_AUTO_COPY), 855, 8, 110, 20);
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_BROWSE_DOWNLOAD_DIR)), L"浏览...");
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_BROWSE_DEV_DIR)), L"浏览...");
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_AUTO_EXTRACT)), L"自动解压");
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_AUTO_COPY)), L"自动分类复制");
    EXPECT_EQ(GetDlgCtrlID(FindStatic(window, L"下载目录:")), 0);
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(window, IDC_AUTO_EXTRACT), GWL_STYLE) & BS_AUTOCHECKBOX);
}

void ExpectDownloaderOnlyLayout(HWND window, int width, int height) {
    SCOPED_TRACE(testing::Message() << "client " << width << " x " << height);
    EXPECT_CHILD_AT(g_hTaskList, 0, 30, width - 115, std::max(height - 30, 50) + 1);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_CLEAR_TASKS), width - 107, 70, 100, 24);
    EXPECT_CHILD_AT(GetDlgItem(window, IDC_INSTALL_WEBVIEW2), width - 107, height - 39, 100, 22);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_INSTALL_WEBVIEW2)));
}

}  // namespace

TEST_F(DownloaderOnlyLayout, ClientIsExactly980x200AndCentredWithListAndButtonsInPlace) {
    const HWND window = OpenWindow(false);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(g_webView2Missing);
    const SIZE client = ClientSize();
    EXPECT_EQ(client.cx, 980);
    EXPECT_EQ(client.cy, 200);
    EXPECT_CHILD_AT(g_hTaskList, 0, 30, 865, 171);
    EXPECT_CHILD_AT(Child(IDC_CLEAR_TASKS), 873, 70, 100, 24);
    EXPECT_CHILD_AT(Child(IDC_INSTALL_WEBVIEW2), 873, 161, 100, 22);
    EXPECT_EQ(Child(IDC_TASK_LIST), g_hTaskList);
    EXPECT_EQ(WindowText(Child(IDC_CLEAR_TASKS)), L"清空任务");
    EXPECT_EQ(WindowText(Child(IDC_INSTALL_WEBVIEW2)), L"安装WebView2");
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
    // The buttons sit above the list so its scrolling never hides them.
    EXPECT_TRUE(IsAbove(Child(IDC_CLEAR_TASKS), g_hTaskList));
    EXPECT_TRUE(IsAbove(Child(IDC_INSTALL_WEBVIEW2), g_hTaskList));
    EXPECT_EQ(Child(IDC_WEB_PAGE), nullptr);
    EXPECT_EQ(Child(IDC_VIEW_TASKS), nullptr);
    ExpectSettingsStrip(window);

    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(WindowText(window), L"橙帆素材库·下载助手 v1.0.0");

    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame = {};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2);
}

TEST_F(DownloaderOnlyLayout, FollowsTheWindowSizeAndKeepsTrackingLimits) {
    OpenWindow(false);
    for (const SIZE size : {SIZE{1200, 400}, SIZE{950, 160}, SIZE{1500, 900}, SIZE{980, 200}}) {
        SetClientSize(size.cx, size.cy);
        ASSERT_EQ(ClientSize().cx, size.cx);
        ASSERT_EQ(ClientSize().cy, size.cy);
        ExpectDownloaderOnlyLayout(window_, size.cx, size.cy);
    }
    // The re-layout message uses its own list height rule: client height less 29.
    SetClientSize(1000, 300);
    SendMessageW(window_, WM_LAYOUT_AND_BROWSER, 0, 0);
    EXPECT_CHILD_AT(g_hTaskList, 0, 30, 885, 271);
    EXPECT_CHILD_AT(Child(IDC_CLEAR_TASKS), 893, 70, 100, 24);

    RECT frame = {};
    SetWindowPos(window_, nullptr, 0, 0, 300, 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(window_, &frame);
    EXPECT_EQ(frame.right - frame.left, 900);
    EXPECT_EQ(frame.bottom - frame.top, 150);
    SetWindowPos(window_, nullptr, 0, 0, 2600, 1700, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(window_, &frame);
    EXPECT_EQ(frame.right - frame.left, 2000);
    EXPECT_EQ(frame.bottom - frame.top, 1500);
}

TEST_F(NormalLayout, OpensAt1602x1000WithThePageAndTheListClosed) {
    const HWND window = OpenWindow(true);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(g_webView2Missing);
    RECT frame = {};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 1602);
    EXPECT_EQ(frame.bottom - frame.top, 1000);
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const POINT centred = CentredWindowPosition(work, 1602, 1000);
    EXPECT_EQ(frame.left, centred.x);
    EXPECT_EQ(frame.top, centred.y);
    EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME);

    const SIZE client = ClientSize();
    EXPECT_CHILD_AT(Child(IDC_WEB_PAGE), 0, 30, client.cx, client.cy - 30);
    EXPECT_CHILD_AT(Child(IDC_VIEW_TASKS), client.cx - 100, 4, 75, 22);
    EXPECT_EQ(WindowText(Child(IDC_VIEW_TASKS)), L"查看任务");
    EXPECT_FALSE(g_taskListVisible);
    EXPECT_FALSE(IsWindowVisible(g_hTaskList));
    EXPECT_FALSE(IsWindowVisible(Child(IDC_CLEAR_TASKS)));
    EXPECT_EQ(Child(IDC_INSTALL_WEBVIEW2), nullptr);
    wchar_t className[32] = {};
    GetClassNameW(Child(IDC_WEB_PAGE), className, 32);
    EXPECT_STREQ(className, L"TarnWebPage");
    ExpectSettingsStrip(window);
}

TEST_F(NormalLayout, FollowsTheWindowSizeAndStopsAtTheMinimumTrackingSize) {
    OpenWindow(true);
    for (const SIZE size : {SIZE{1300, 800}, SIZE{1800, 1000}}) {
        SetClientSize(size.cx, size.cy);
        SCOPED_TRACE(testing::Message() << "client " << size.cx << " x " << size.cy);
        EXPECT_CHILD_AT(Child(IDC_WEB_PAGE), 0, 30, size.cx, size.cy - 30);
        EXPECT_CHILD_AT(Child(IDC_VIEW_TASKS), size.cx - 100, 4, 75, 22);
        EXPECT_FALSE(IsWindowVisible(g_hTaskList));
    }
    SetWindowPos(window_, nullptr, 0, 0, 800, 500, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame = {};
    GetWindowRect(window_, &frame);
    EXPECT_EQ(frame.right - frame.left, 1202);
    EXPECT_EQ(frame.bottom - frame.top, 750);
    EXPECT_EQ(ViewTasksButtonX(1001), 901);
    EXPECT_EQ(ViewTasksButtonX(1000), 900);
    EXPECT_EQ(ViewTasksButtonX(640), 900);
}

TEST_F(NormalLayout, ViewTasksTwiceRestoresTheLayoutAndTheButtonText) {
    OpenWindow(true);
    SetClientSize(1400, 900);
    const std::vector<ChildState> before = DirectChildren(window_);

    Command(IDC_VIEW_TASKS);
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_EQ(WindowText(Child(IDC_VIEW_TASKS)), L"隐藏任务");
    EXPECT_CHILD_AT(Child(IDC_WEB_PAGE), 0, 30, 1400, 900 - 180);
    EXPECT_CHILD_AT(g_hTaskList, 0, 900 - 150, 1400 - 115, 151);
    EXPECT_CHILD_AT(Child(IDC_CLEAR_TASKS), 1400 - 107, 900 - 110, 100, 24);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
    EXPECT_TRUE(IsWindowVisible(Child(IDC_CLEAR_TASKS)));
    EXPECT_TRUE(IsAbove(g_hTaskList, Child(IDC_WEB_PAGE)));
    EXPECT_TRUE(IsAbove(Child(IDC_CLEAR_TASKS), Child(IDC_WEB_PAGE)));
    PumpMessages();  // the posted re-layout keeps the band where the command put it
    EXPECT_CHILD_AT(Child(IDC_WEB_PAGE), 0, 30, 1400, 900 - 180);
    EXPECT_CHILD_AT(g_hTaskList, 0, 900 - 150, 1400 - 115, 151);

    // Resizing with the band open keeps it at the bottom.
    SetClientSize(1500, 800);
    EXPECT_CHILD_AT(g_hTaskList, 0, 800 - 150, 1500 - 115, 151);
    EXPECT_CHILD_AT(Child(IDC_CLEAR_TASKS), 1500 - 107, 800 - 110, 100, 24);
    SetClientSize(1400, 900);

    Command(IDC_VIEW_TASKS);
    PumpMessages();
    EXPECT_FALSE(g_taskListVisible);
    EXPECT_EQ(WindowText(Child(IDC_VIEW_TASKS)), L"查看任务");
    const std::vector<ChildState> after = DirectChildren(window_);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << before[i].id << " " << before[i].text.c_str());
        EXPECT_TRUE(after[i] == before[i]);
    }
}

TEST_F(DownloaderOnlyLayout, ViewTasksCommandCannotHideTheOnlyView) {
    OpenWindow(false);
    Command(IDC_VIEW_TASKS);
    PumpMessages();
    EXPECT_TRUE(g_taskListVisible);
    EXPECT_TRUE(IsWindowVisible(g_hTaskList));
    EXPECT_CHILD_AT(g_hTaskList, 0, 30, 865, 171);
}

TEST(CentredWindowPosition, CentresInTheWorkAreaAndNeverGoesNegative) {
    const POINT centred = CentredWindowPosition(RECT{0, 40, 1920, 1080}, 1602, 1000);
    EXPECT_EQ(centred.x, 159);
    EXPECT_EQ(centred.y, 60);
    const POINT offset = CentredWindowPosition(RECT{1920, 0, 3840, 1040}, 1000, 200);
    EXPECT_EQ(offset.x, 2380);
    EXPECT_EQ(offset.y, 420);
    const POINT tooBig = CentredWindowPosition(RECT{0, 0, 1024, 700}, 1602, 1000);
    EXPECT_EQ(tooBig.x, 0);
    EXPECT_EQ(tooBig.y, 0);
}
