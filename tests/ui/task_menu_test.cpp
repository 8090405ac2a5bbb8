// The task list's right-click menu in the real download window (under Xvfb): the popup the menu
// code opens is found among the test thread's windows and read through MN_GETHMENU, and commands
// are chosen with the keys a user would press.
#include "base/window_messages.h"
#include "tasks/task_runner.h"
#include "tests/support/download_window_fixture.h"
#include "tests/support/message_pump.h"
#include "ui/control_ids.h"
#include "ui/task_open.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kMenuPollMs = 20;

struct MenuItem {
    std::wstring text;
    bool enabled = false;
};

struct MenuSeen {
    HMENU menu = nullptr;
    std::vector<MenuItem> items;
};

// Filled by the timer while the menu's own message loop runs.
std::vector<MenuSeen> g_menusSeen;
std::vector<WPARAM> g_keysToPress;
std::vector<TaskRef> g_workersStarted;
std::vector<std::wstring> g_foldersOpened;

void RecordWorker(const TaskRef& ref) {
    g_workersStarted.push_back(ref);
}
bool IgnoreStart(const std::wstring&) {
    return true;
}
void RecordOpen(const std::wstring& folder) {
    g_foldersOpened.push_back(folder);
}

BOOL CALLBACK FindPopupMenu(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32768" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ReadOpenMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindPopupMenu, reinterpret_cast<LPARAM>(&popup));
    if (!popup) {
        return;
    }
    KillTimer(nullptr, timer);
    MenuSeen seen;
    seen.menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    for (int i = 0; i < GetMenuItemCount(seen.menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(seen.menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        const UINT state = GetMenuState(seen.menu, static_cast<UINT>(i), MF_BYPOSITION);
        seen.items.push_back({text, (state & (MF_GRAYED | MF_DISABLED)) == 0});
    }
    g_menusSeen.push_back(seen);
    for (const WPARAM key : g_keysToPress) {
        PostMessageW(popup, WM_KEYDOWN, key, 0);
    }
}

class TaskMenu : public DownloadWindowFixture {
  protected:
    void SetUp() override {
        DownloadWindowFixture::SetUp();
        ClearTasks();
        g_menusSeen.clear();
        g_workersStarted.clear();
        g_foldersOpened.clear();
        SetTaskThreadLauncherForTesting(RecordWorker);
        static const TaskShellCalls kRecorder = {IgnoreStart, RecordOpen};
        SetTaskShellCallsForTesting(&kRecorder);
    }
    void TearDown() override {
        SetTaskThreadLauncherForTesting(nullptr);
        SetTaskShellCallsForTesting(nullptr);
        ClearTasks();
        DownloadWindowFixture::TearDown();
    }

    HWND List() const { return Child(IDC_TASK_LIST); }

    // The screen point in the middle of the row's name cell.
    POINT RowPoint(int row) const {
        RECT rect = {};
        rect.left = LVIR_LABEL;
        SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
        POINT point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        ClientToScreen(List(), &point);
        return point;
    }

    // Asks the list for its menu at `lParam` and presses `keys` in it once it is open. Returns the
    // number of menus that opened.
    size_t ShowMenu(LPARAM lParam, std::vector<WPARAM> keys) {
        const size_t before = g_menusSeen.size();
        g_keysToPress = std::move(keys);
        const UINT_PTR timer = SetTimer(nullptr, 0, kMenuPollMs, ReadOpenMenu);
        SendMessageW(List(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(List()), lParam);
        KillTimer(nullptr, timer);
        PumpMessages();
        return g_menusSeen.size() - before;
    }
    // A right click as the mouse makes it: the pointer over the row, button down and up. The list
    // itself turns the click into WM_CONTEXTMENU at the pointer's position.
    size_t MouseRightClickRow(int row, std::vector<WPARAM> keys) {
        const size_t before = g_menusSeen.size();
        g_keysToPress = std::move(keys);
        const POINT screen = RowPoint(row);
        SetCursorPos(screen.x, screen.y);
        POINT client = screen;
        ScreenToClient(List(), &client);
        const UINT_PTR timer = SetTimer(nullptr, 0, kMenuPollMs, ReadOpenMenu);
        PostMessageW(List(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(client.x, client.y));
        PostMessageW(List(), WM_RBUTTONUP, 0, MAKELPARAM(client.x, client.y));
        PumpMessages();
        KillTimer(nullptr, timer);
        return g_menusSeen.size() - before;
    }
    size_t RightClickRow(int row, std::vector<WPARAM> keys) {
        const POINT point = RowPoint(row);
        return ShowMenu(MAKELPARAM(point.x, point.y), std::move(keys));
    }
};

DownloadTask Task(const std::string& name, TaskStatus status) {
    DownloadTask task;
    task.name = name;
    task.url = "http://127.0.0.1:9/" + name + ".zip";
    task.status = status;
    task.filePath = L"D:\\Downloads\\" + std::wstring(name.begin(), name.end()) + L"_20260101_000000.zip";
    return task;
}

const std::vector<MenuItem>& LastMenu() {
    return g_menusSeen.back().items;
}

}  // namespace

TEST_F(TaskMenu, RetryIsOfferedForAFailedRowOnlyAndRunsTheTaskAgainInPlace) {
    DownloadTask failed = Task("failed", TaskStatus::Failed);
    failed.error = "Connection lost during download";
    AppendTask(failed);
    DownloadTask done = Task("done", TaskStatus::Completed);
    done.extractDir = L"D:\\Downloads\\done";
    AppendTask(done);
    AppendTask(Task("running", TaskStatus::Downloading));
    DownloadTask installer = Task("WebView2_Installer", TaskStatus::Failed);
    installer.kind = TaskKind::RuntimeInstaller;
    AppendTask(installer);
    ASSERT_NE(OpenWindow(false), nullptr);
    NotifyTaskListChanged();
    PumpMessages();
    ASSERT_EQ(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0), 4);

    // Escape closes each menu without a command. The runtime installer's failed task is not the
    // pipeline's to retry.
    // Only the downloading row may be cancelled.
    for (int row : {1, 2, 3}) {
        ASSERT_EQ(RightClickRow(row, {VK_ESCAPE}), 1u) << row;
        ASSERT_EQ(LastMenu().size(), 3u);
        EXPECT_EQ(LastMenu()[0].text, L"重试");
        EXPECT_FALSE(LastMenu()[0].enabled) << row;
        EXPECT_EQ(LastMenu()[1].text, L"打开文件夹");
        EXPECT_TRUE(LastMenu()[1].enabled) << row;
        EXPECT_EQ(LastMenu()[2].text, L"取消");
        EXPECT_EQ(LastMenu()[2].enabled, row == 2) << row;
    }
    ASSERT_EQ(RightClickRow(0, {VK_ESCAPE}), 1u);
    EXPECT_TRUE(LastMenu()[0].enabled);
    EXPECT_TRUE(LastMenu()[1].enabled);
    EXPECT_FALSE(LastMenu()[2].enabled);
    EXPECT_TRUE(g_workersStarted.empty());
    EXPECT_TRUE(g_foldersOpened.empty());
    // Each showing destroys its menu afterwards.
    for (const MenuSeen& seen : g_menusSeen) {
        EXPECT_FALSE(IsMenu(seen.menu));
    }

    // "打开文件夹" opens what a double click opens.
    ASSERT_EQ(MouseRightClickRow(1, {VK_DOWN, VK_DOWN, VK_RETURN}), 1u);
    EXPECT_EQ(g_foldersOpened, std::vector<std::wstring>{L"D:\\Downloads\\done"});

    // "重试" on the failed row: the same row goes back to pending and a worker starts for it.
    ASSERT_EQ(RightClickRow(0, {VK_DOWN, VK_RETURN}), 1u);
    ASSERT_EQ(g_workersStarted.size(), 1u);
    EXPECT_EQ(g_workersStarted[0].index, 0u);
    DownloadTask task;
    ASSERT_TRUE(CopyTask(g_workersStarted[0], &task));
    EXPECT_EQ(task.status, TaskStatus::Pending);
    EXPECT_EQ(task.error, "");
    EXPECT_EQ(task.filePath, failed.filePath);
    EXPECT_EQ(TaskCount(), 4u);
    wchar_t status[32] = {};
    LVITEMW cell = {};
    cell.iSubItem = 2;
    cell.pszText = status;
    cell.cchTextMax = 32;
    SendMessageW(List(), LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&cell));
    EXPECT_EQ(std::wstring(status), L"等待中");

    // The next menu is built from the task as it is now.
    ASSERT_EQ(RightClickRow(0, {VK_ESCAPE}), 1u);
    EXPECT_FALSE(LastMenu()[0].enabled);
}

TEST_F(TaskMenu, TheKeyboardsMenuBelongsToTheSelectedRowAndEmptySpaceHasNone) {
    AppendTask(Task("first", TaskStatus::Failed));
    AppendTask(Task("second", TaskStatus::Completed));
    ASSERT_NE(OpenWindow(false), nullptr);
    NotifyTaskListChanged();
    PumpMessages();

    // A rebuild selects the last row; choosing retry from its menu does nothing for a completed task.
    ASSERT_EQ(ShowMenu(MAKELPARAM(-1, -1), {VK_DOWN, VK_RETURN}), 1u);
    EXPECT_FALSE(LastMenu()[0].enabled);
    EXPECT_TRUE(g_workersStarted.empty());

    RECT client = {};
    GetClientRect(List(), &client);
    POINT below = {client.right / 2, client.bottom - 4};
    ClientToScreen(List(), &below);
    EXPECT_EQ(ShowMenu(MAKELPARAM(below.x, below.y), {VK_ESCAPE}), 0u);
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED;
    SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    EXPECT_EQ(ShowMenu(MAKELPARAM(-1, -1), {VK_ESCAPE}), 0u);
}
