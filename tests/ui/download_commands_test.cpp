// The download window's commands and messages: task updates, the clear and install buttons, the
// settings strip, keys, colours and closing.
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_runner.h"
#include "tests/support/download_window_fixture.h"
#include "tests/support/message_pump.h"
#include "ui/control_ids.h"
#include "ui/download_window.h"
#include "ui/settings_strip.h"
#include "ui/task_commands.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "webhost/browser_state.h"
#include "webhost/webview2_installer.h"

#include <commctrl.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using TaskUpdateRouting = DownloadWindowFixture;
using ClearButton = DownloadWindowFixture;
using SettingsStrip = DownloadWindowFixture;
using InstallButton = DownloadWindowFixture;
using DownloadWindowMessages = DownloadWindowFixture;

struct RowUpdate {
    int row;
    std::string name;
};

int g_rebuilds = 0;
std::vector<RowUpdate> g_rowUpdates;

void ResetRecords() {
    g_rebuilds = 0;
    g_rowUpdates.clear();
}

void RecordRebuild() {
    ++g_rebuilds;
}

void RecordRowUpdate(int row, const DownloadTask& task) {
    g_rowUpdates.push_back({row, task.name});
}

void AddTask(const std::string& name) {
    DownloadTask task;
    task.name = name;
    AppendTask(task);
}

void InsertRows(int count) {
    for (int i = 0; i < count; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(L"row");
        SendMessageW(g_hTaskList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

int RowCount() {
    return static_cast<int>(SendMessageW(g_hTaskList, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring IniValue(const std::wstring& path, const wchar_t* key) {
    wchar_t buffer[400] = {};
    GetPrivateProfileStringW(L"Settings", key, L"<missing>", buffer, 400, path.c_str());
    return buffer;
}

}  // namespace

TEST_F(TaskUpdateRouting, AllTasksRebuildsAndOneIndexRewritesOnlyThatRow) {
    OpenWindow(false);
    ResetRecords();
    SetTaskListOperationsForTesting({RecordRebuild, RecordRowUpdate});
    AddTask("a");
    AddTask("b");
    AddTask("c");
    InsertRows(3);

    SendMessageW(window_, WM_TASK_UPDATE, kAllTasksChanged, 0);
    EXPECT_EQ(g_rebuilds, 1);
    EXPECT_TRUE(g_rowUpdates.empty());

    SendMessageW(window_, WM_TASK_UPDATE, 1, 0);
    ASSERT_EQ(g_rowUpdates.size(), 1u);
    EXPECT_EQ(g_rowUpdates[0].row, 1);
    EXPECT_EQ(g_rowUpdates[0].name, "b");
    EXPECT_EQ(g_rebuilds, 1);

    // Outside the table, outside the rows, negative: nothing is rewritten.
    SendMessageW(window_, WM_TASK_UPDATE, 3, 0);
    SendMessageW(window_, WM_TASK_UPDATE, static_cast<WPARAM>(-2), 0);
    SendMessageW(g_hTaskList, LVM_DELETEITEM, 2, 0);
    SendMessageW(window_, WM_TASK_UPDATE, 2, 0);
    EXPECT_EQ(g_rowUpdates.size(), 1u);

    // The index is the low 32 bits of wParam.
    SendMessageW(window_, WM_TASK_UPDATE, static_cast<WPARAM>(0x100000000ull), 0);
    ASSERT_EQ(g_rowUpdates.size(), 2u);
    EXPECT_EQ(g_rowUpdates[1].row, 0);
    EXPECT_EQ(g_rowUpdates[1].name, "a");
    SetTaskListOperationsForTesting({});
}

TEST_F(TaskUpdateRouting, PostedUpdatesFromAWorkerThreadReachTheList) {
    OpenWindow(false);
    ResetRecords();
    SetTaskListOperationsForTesting({RecordRebuild, RecordRowUpdate});
    AddTask("first");
    InsertRows(1);
    const TaskRef ref{0, SnapshotTasks()[0].serial};
    std::thread worker([ref] {
        NotifyTaskListChanged();
        UpdateTaskStatus(ref, TaskStatus::Downloading, 40, "");
    });
    worker.join();
    PumpMessages();
    EXPECT_EQ(g_rebuilds, 1);
    ASSERT_EQ(g_rowUpdates.size(), 1u);
    EXPECT_EQ(g_rowUpdates[0].row, 0);
    SetTaskListOperationsForTesting({});
}

namespace {

std::atomic<int> g_badRowUpdates{0};
std::atomic<int> g_goodRowUpdates{0};

// Like the real rebuild: one row per task.
void RebuildRowsFromTable() {
    SendMessageW(g_hTaskList, LVM_DELETEALLITEMS, 0, 0);
    InsertRows(static_cast<int>(TaskCount()));
}

// Only this thread clears the table, so the row must still be in the table and in the list.
void CheckRowStillExists(int row, const DownloadTask&) {
    const bool inTable = row >= 0 && static_cast<size_t>(row) < TaskCount();
    const bool inList = row < RowCount();
    (inTable && inList ? g_goodRowUpdates : g_badRowUpdates)++;
}

}  // namespace

TEST_F(TaskUpdateRouting, UpdatesRacingWithClearingNeverReachARowThatIsGone) {
    OpenWindow(false);
    SetTaskListOperationsForTesting({RebuildRowsFromTable, CheckRowStillExists});
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&stop] {
            while (!stop) {
                DownloadTask task;
                task.name = "race";
                const TaskRef ref = AppendTask(task);
                NotifyTaskListChanged();
                for (int percent = 0; percent < 100 && !stop; percent += 10) {
                    UpdateTaskStatus(ref, TaskStatus::Downloading, percent, "");
                }
            }
        });
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 1500) {
        PumpUntil([] { return false; }, 20);
        Command(IDC_CLEAR_TASKS);
    }
    stop = true;
    for (std::thread& worker : workers) {
        worker.join();
    }
    PumpMessages();
    EXPECT_EQ(g_badRowUpdates.load(), 0);
    EXPECT_GT(g_goodRowUpdates.load(), 0);
    SetTaskListOperationsForTesting({});
}

TEST_F(ClearButton, EnabledExactlyWhileTasksExistAndClearingEmptiesTableAndList) {
    OpenWindow(false);
    const HWND clear = Child(IDC_CLEAR_TASKS);
    EXPECT_FALSE(IsWindowEnabled(clear));

    AddTask("one");
    SendMessageW(window_, WM_TASK_UPDATE, kAllTasksChanged, 0);
    EXPECT_TRUE(IsWindowEnabled(clear));
    InsertRows(1);

    Command(IDC_CLEAR_TASKS);
    EXPECT_EQ(TaskCount(), 0u);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_FALSE(IsWindowEnabled(clear));
    PumpMessages();  // the posted full update must not enable it again
    EXPECT_FALSE(IsWindowEnabled(clear));

    // Clearing an empty table changes nothing.
    Command(IDC_CLEAR_TASKS);
    PumpMessages();
    EXPECT_FALSE(IsWindowEnabled(clear));
    EXPECT_EQ(RowCount(), 0);
}

TEST_F(ClearButton, OpeningTheNormalModeBandTakesTheStateFromTheTable) {
    OpenWindow(true);
    AddTask("one");
    Command(IDC_VIEW_TASKS);
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_CLEAR_TASKS)));
    Command(IDC_CLEAR_TASKS);
    PumpMessages();
    EXPECT_FALSE(IsWindowEnabled(Child(IDC_CLEAR_TASKS)));
}

TEST_F(SettingsStrip, ShowsTheSettingsAndCreatingTheControlsSavesNothing) {
    const std::string fileBefore = ReadFileBytes(ConfigPath());
    OpenWindow(false);
    EXPECT_EQ(WindowText(Child(IDC_DOWNLOAD_DIR)), DownloadDir());
    EXPECT_EQ(WindowText(Child(IDC_DEV_DIR)), DevDir());
    EXPECT_EQ(IsDlgButtonChecked(window_, IDC_AUTO_EXTRACT), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(window_, IDC_AUTO_COPY), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(ReadFileBytes(ConfigPath()), fileBefore);
    EXPECT_EQ(IniValue(ConfigPath(), L"AutoExtract"), L"<missing>");
}

TEST_F(SettingsStrip, EditChangesAndTickBoxesAreSavedAtOnce) {
    OpenWindow(false);
    const std::wstring newDir = dir_ / L"其他下载";
    SetWindowTextW(Child(IDC_DOWNLOAD_DIR), newDir.c_str());
    EXPECT_EQ(GetConfig().downloadDir, newDir);
    EXPECT_EQ(IniValue(ConfigPath(), L"DownloadDir"), newDir);

    SetWindowTextW(Child(IDC_DEV_DIR), L"E:\\dev");
    EXPECT_EQ(GetConfig().devDir, L"E:\\dev");
    EXPECT_EQ(IniValue(ConfigPath(), L"DevDir"), L"E:\\dev");
    EXPECT_EQ(GetConfig().downloadDir, newDir);

    // On the way to a path, or cleared, the box holds values that must never be the setting: they
    // would put files in the current drive's root or the working directory.
    SetFocus(Child(IDC_DEV_DIR));
    for (const wchar_t* typed : {L"", L"E", L"E:", L"E:dev", L"dev\\x", L"\\\\server", L"\\\\server\\"}) {
        SetWindowTextW(Child(IDC_DEV_DIR), typed);
        EXPECT_EQ(GetConfig().devDir, L"E:\\dev") << typed;
    }
    EXPECT_EQ(IniValue(ConfigPath(), L"DevDir"), L"E:\\dev");
    // Leaving the box shows the directory in force again.
    SetFocus(Child(IDC_DOWNLOAD_DIR));
    EXPECT_EQ(WindowText(Child(IDC_DEV_DIR)), L"E:\\dev");
    // A trailing backslash is not stored; the box keeps what was typed, as it is in force.
    SetFocus(Child(IDC_DEV_DIR));
    SetWindowTextW(Child(IDC_DEV_DIR), L"\\\\nas\\assets\\");
    EXPECT_EQ(GetConfig().devDir, L"\\\\nas\\assets");
    SetFocus(Child(IDC_DOWNLOAD_DIR));
    EXPECT_EQ(WindowText(Child(IDC_DEV_DIR)), L"\\\\nas\\assets\\");
    SetWindowTextW(Child(IDC_DEV_DIR), L"E:\\dev");

    SendMessageW(Child(IDC_AUTO_EXTRACT), BM_CLICK, 0, 0);
    EXPECT_FALSE(GetConfig().autoExtract);
    EXPECT_EQ(IniValue(ConfigPath(), L"AutoExtract"), L"0");
    EXPECT_TRUE(GetConfig().autoCopyToDev);
    SendMessageW(Child(IDC_AUTO_COPY), BM_CLICK, 0, 0);
    EXPECT_FALSE(GetConfig().autoCopyToDev);
    EXPECT_EQ(IniValue(ConfigPath(), L"AutoCopyToDev"), L"0");
    SendMessageW(Child(IDC_AUTO_EXTRACT), BM_CLICK, 0, 0);
    EXPECT_TRUE(GetConfig().autoExtract);
    EXPECT_EQ(IniValue(ConfigPath(), L"AutoExtract"), L"1");
}

namespace {

std::vector<std::wstring> g_pickerTitles;
std::wstring g_pickerAnswer;

bool AnswerPicker(const wchar_t* title, std::wstring* path) {
    g_pickerTitles.push_back(title);
    if (g_pickerAnswer.empty()) {
        return false;
    }
    *path = g_pickerAnswer;
    return true;
}

}  // namespace

TEST_F(SettingsStrip, BrowseStoresShowsAndCreatesTheChosenFolderAndCancelChangesNothing) {
    OpenWindow(false);
    SetFolderPickerForTesting(AnswerPicker);
    g_pickerAnswer = dir_ / L"新建\\深层";
    Command(IDC_BROWSE_DOWNLOAD_DIR);
    ASSERT_EQ(g_pickerTitles.size(), 1u);
    EXPECT_EQ(g_pickerTitles[0], L"选择下载目录");
    EXPECT_EQ(WindowText(Child(IDC_DOWNLOAD_DIR)), g_pickerAnswer);
    EXPECT_EQ(GetConfig().downloadDir, g_pickerAnswer);
    EXPECT_EQ(IniValue(ConfigPath(), L"DownloadDir"), g_pickerAnswer);
    EXPECT_TRUE(DirectoryExists(g_pickerAnswer));

    g_pickerAnswer = dir_ / L"dev2";
    Command(IDC_BROWSE_DEV_DIR);
    EXPECT_EQ(g_pickerTitles.back(), L"选择复制目录");
    EXPECT_EQ(GetConfig().devDir, g_pickerAnswer);
    EXPECT_EQ(WindowText(Child(IDC_DEV_DIR)), g_pickerAnswer);
    EXPECT_TRUE(DirectoryExists(g_pickerAnswer));

    const std::string fileBefore = ReadFileBytes(ConfigPath());
    g_pickerAnswer.clear();
    Command(IDC_BROWSE_DEV_DIR);
    EXPECT_EQ(g_pickerTitles.size(), 3u);
    EXPECT_EQ(GetConfig().devDir, dir_ / L"dev2");
    EXPECT_EQ(ReadFileBytes(ConfigPath()), fileBefore);
    SetFolderPickerForTesting(nullptr);
}

namespace {

int g_questionsAsked = 0;
HWND g_questionOwner = nullptr;
int g_answer = IDNO;

int AnswerQuestion(HWND owner) {
    ++g_questionsAsked;
    g_questionOwner = owner;
    return g_answer;
}

std::vector<TaskRef> g_installersStarted;

void RecordInstallerStart(const TaskRef& task) {
    g_installersStarted.push_back(task);
}

}  // namespace

TEST_F(InstallButton, NoCreatesNothingAndYesQueuesTheInstallerTaskAndStartsItsRoutine) {
    OpenWindow(false);
    SetInstallQuestionForTesting(AnswerQuestion);
    SetTaskThreadLauncherForTesting(RecordInstallerStart);
    g_installersStarted.clear();
    ResetRecords();
    SetTaskListOperationsForTesting({RecordRebuild, RecordRowUpdate});

    g_answer = IDNO;
    Command(IDC_INSTALL_WEBVIEW2);
    PumpMessages();
    EXPECT_EQ(g_questionsAsked, 1);
    EXPECT_EQ(g_questionOwner, window_);
    EXPECT_EQ(TaskCount(), 0u);
    EXPECT_EQ(g_rebuilds, 0);
    EXPECT_TRUE(g_installersStarted.empty());

    g_answer = IDYES;
    Command(IDC_INSTALL_WEBVIEW2);
    PumpMessages();
    ASSERT_EQ(TaskCount(), 1u);
    DownloadTask task;
    ASSERT_TRUE(CopyTaskAt(0, &task));
    EXPECT_EQ(task.name, "WebView2_Installer");
    EXPECT_EQ(task.url, "https://go.microsoft.com/fwlink/?linkid=2124703");
    // The file the routine writes, in the temporary folder, not one in the download directory.
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    EXPECT_EQ(task.filePath, std::wstring(temp) + L"WebView2_Bootstrapper.exe");
    EXPECT_EQ(task.status, TaskStatus::Queued);
    // Its own thread runs it, so the worker pipeline's retry must never take it.
    EXPECT_EQ(task.kind, TaskKind::RuntimeInstaller);
    EXPECT_EQ(task.progress, 0);
    EXPECT_FALSE(task.hasFinishTime);
    EXPECT_TRUE(task.extractDir.empty());
    EXPECT_EQ(g_rebuilds, 1);
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_CLEAR_TASKS)));
    ASSERT_EQ(g_installersStarted.size(), 1u);
    EXPECT_EQ(g_installersStarted[0].index, 0u);
    EXPECT_EQ(g_installersStarted[0].serial, task.serial);

    // While it waits or runs, the button does nothing; once it ended, it asks again.
    Command(IDC_INSTALL_WEBVIEW2);
    PumpMessages();
    EXPECT_EQ(g_questionsAsked, 2);
    EXPECT_EQ(TaskCount(), 1u);
    UpdateTaskStatus(g_installersStarted[0], TaskStatus::Failed, 0, "下载失败");
    Command(IDC_INSTALL_WEBVIEW2);
    PumpMessages();
    EXPECT_EQ(g_questionsAsked, 3);
    EXPECT_EQ(TaskCount(), 2u);
    EXPECT_EQ(g_installersStarted.size(), 2u);
    SetTaskThreadLauncherForTesting(nullptr);
    SetInstallQuestionForTesting(nullptr);
    SetTaskListOperationsForTesting({});
}

TEST_F(DownloadWindowMessages, F11FillsTheMonitorAndReturnsToTheWindowedSize) {
    OpenWindow(false);
    SendMessageW(window_, WM_KEYDOWN, VK_F11, 0);
    EXPECT_TRUE(g_fullScreen);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT frame = {};
    GetWindowRect(window_, &frame);
    EXPECT_TRUE(EqualRect(&frame, &monitor.rcMonitor));

    SendMessageW(window_, WM_KEYDOWN, VK_F11, 0);
    EXPECT_FALSE(g_fullScreen);
    GetWindowRect(window_, &frame);
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 100);
    EXPECT_EQ(frame.right - frame.left, 980);
    EXPECT_EQ(frame.bottom - frame.top, 200);
}

TEST_F(DownloadWindowMessages, ThePageAreaPaintsItsPlainBackground) {
    OpenWindow(true);
    const HWND page = Child(IDC_WEB_PAGE);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 8, 8);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    EXPECT_EQ(SendMessageW(page, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    EXPECT_EQ(GetPixel(dc, 3, 3), RGB(240, 240, 240));
    EXPECT_EQ(SendMessageW(page, WM_ERASEBKGND, 0, 0), 0);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

TEST_F(DownloadWindowMessages, ClosingEndsTheMessageLoopWithZero) {
    OpenWindow(false);
    const int quitsBefore = QuitMessagesSeen();
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(g_hTaskList, nullptr);
    EXPECT_EQ(g_hClearButton, nullptr);
    PumpMessages();
    EXPECT_EQ(QuitMessagesSeen(), quitsBefore + 1);
    EXPECT_EQ(LastQuitExitCode(), 0);
}

TEST_F(DownloadWindowMessages, ASecondShowBringsTheSameWindowBackFromMinimised) {
    const HWND window = OpenWindow(false);
    ShowWindow(window, SW_MINIMIZE);
    PumpMessages();
    ASSERT_TRUE(IsIconic(window));
    ShowDownloadWindow();
    PumpMessages();
    EXPECT_EQ(g_hDownloadWnd.load(), window);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(ClientSize().cx, 980);
    EXPECT_EQ(ClientSize().cy, 200);
}
