// The task list as a real list view in a real parent window (under Xvfb), driven by the messages
// the download window and the user send it.
#include "base/win32.h"
#include "base/window_messages.h"
#include "tasks/task_table.h"
#include "ui/task_commands.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kListId = 2011;
constexpr int kClearButtonId = 2028;
constexpr int kListWidth = 865;
constexpr int kListHeight = 171;
constexpr wchar_t kEllipsis = L'\u2026';

// What the fake shell and the parent window saw.
std::vector<std::wstring> g_started;
std::vector<std::wstring> g_opened;
DWORD g_now = 0;
std::vector<bool> g_dblClickFlagAtNotify;

bool RecordStart(const std::wstring& commandLine) {
    g_started.push_back(commandLine);
    return true;
}
void RecordOpen(const std::wstring& folder) {
    g_opened.push_back(folder);
}
DWORD FakeTicks() {
    return g_now;
}

// The file manager by its full path in the Windows folder, never by bare name.
std::wstring ExplorerSelecting(const std::wstring& item) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return L"\"" + std::wstring(windows) + L"\\explorer.exe\" /select,\"" + item + L"\"";
}

// Routes the list's notifications as the download window does.
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(NM_DBLCLK)) {
        g_dblClickFlagAtNotify.push_back(g_listDblClickActive);
    }
    LRESULT result = 0;
    if (message == WM_NOTIFY && OnTaskListParentNotify(lParam, &result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DownloadTask MakeTask(const std::string& name, TaskStatus status, int progress = 0) {
    DownloadTask task;
    task.name = name;
    task.status = status;
    task.progress = progress;
    return task;
}

DownloadTask WithAllPaths(DownloadTask task) {
    task.filePath = L"D:\\dl\\file.zip";
    task.extractDir = L"D:\\dl\\extract";
    task.copyDestDir = L"D:\\dev\\dest";
    task.copyFirstItem = L"D:\\dev\\dest\\first.png";
    task.leftoverDir = L"D:\\dl\\leftover";
    return task;
}

bool IsLoneSurrogate(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (ch >= 0xD800 && ch <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return true;
            }
            ++i;
        } else if (ch >= 0xDC00 && ch <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

class TaskListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarnTaskListTestParent";
        RegisterClassW(&windowClass);
        parent_ = CreateWindowExW(0, L"TarnTaskListTestParent", L"list test", WS_OVERLAPPEDWINDOW, 0, 0, 1000,
                                  300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_VSCROLL | LVS_REPORT |
                                    LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                0, 30, kListWidth, kListHeight, parent_, reinterpret_cast<HMENU>(kListId),
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(list_, nullptr);
        clearButton_ = CreateWindowExW(0, L"BUTTON", L"clear", WS_CHILD | WS_VISIBLE | WS_DISABLED, 873, 70,
                                       100, 24, parent_, reinterpret_cast<HMENU>(kClearButtonId),
                                       GetModuleHandleW(nullptr), nullptr);
        g_hTaskList = list_;
        g_hClearButton = clearButton_;
        SetupTaskList();

        ClearTasks();
        g_started.clear();
        g_opened.clear();
        g_dblClickFlagAtNotify.clear();
        static const TaskShellCalls kRecorder = {RecordStart, RecordOpen};
        SetTaskShellCallsForTesting(&kRecorder);
        SetTaskListTickSourceForTesting(FakeTicks);
        // Far from the debounce state any earlier test in this process left behind.
        static DWORD base = 0x10000000u;
        base += 0x01000000u;
        g_now = base;
    }

    void TearDown() override {
        SetTaskShellCallsForTesting(nullptr);
        SetTaskListTickSourceForTesting(nullptr);
        g_hTaskList = nullptr;
        g_hClearButton = nullptr;
        if (parent_) {
            DestroyWindow(parent_);
        }
        ClearTasks();
    }

    void Fill(const std::vector<DownloadTask>& tasks) {
        ClearTasks();
        for (const DownloadTask& task : tasks) {
            AppendTask(task);
        }
        OnTaskUpdate(kAllTasksChanged);
    }

    int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }

    std::wstring Cell(int row, int column) const {
        std::vector<wchar_t> buffer(4096, L'\0');
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return buffer.data();
    }

    std::vector<std::wstring> RowCells(int row) const {
        std::vector<std::wstring> cells;
        for (int column = 0; column < 5; ++column) {
            cells.push_back(Cell(row, column));
        }
        return cells;
    }

    int ColumnWidth(int column) const {
        return static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }

    int ClientWidth() const {
        RECT client = {};
        GetClientRect(list_, &client);
        return client.right;
    }

    int NextItem(UINT flags) const {
        return static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), flags));
    }

    void Select(int row) {
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = row >= 0 ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
        SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }

    LPARAM PointOfRow(int row) const {
        RECT rect = {};
        rect.left = LVIR_BOUNDS;
        SendMessageW(list_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
        return MAKELPARAM(rect.left + 40, (rect.top + rect.bottom) / 2);
    }

    void DoubleClick(LPARAM point) { SendMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, point); }

    // A header item-changing notification as the header sends it while a divider is dragged.
    struct HeaderChange {
        LRESULT result;
        int width;
    };
    HeaderChange Drag(int column, int proposedWidth, UINT code = HDN_ITEMCHANGINGW) {
        HDITEMW item = {};
        item.mask = HDI_WIDTH;
        item.cxy = proposedWidth;
        NMHEADERW notify = {};
        notify.hdr.hwndFrom = ListView_GetHeader(list_);
        notify.hdr.idFrom = 0;
        notify.hdr.code = code;
        notify.iItem = column;
        notify.pitem = &item;
        const LRESULT result = SendMessageW(list_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
        return {result, item.cxy};
    }

    HWND parent_ = nullptr;
    HWND list_ = nullptr;
    HWND clearButton_ = nullptr;
};

TEST_F(TaskListTest, SetupGivesFiveColumnsWithFixedWidthsAndNoHorizontalScrollBar) {
    const wchar_t* const titles[] = {L"文件名", L"文件路径", L"状态", L"进度", L"时间"};
    const int formats[] = {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_CENTER, LVCFMT_CENTER, LVCFMT_RIGHT};
    for (int column = 0; column < 5; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT | LVCF_FMT;
        info.pszText = title;
        info.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                                 reinterpret_cast<LPARAM>(&info)));
        EXPECT_STREQ(title, titles[column]);
        EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, formats[column]) << column;
    }
    EXPECT_EQ(ColumnWidth(0), 250);
    EXPECT_EQ(ColumnWidth(1), ClientWidth() - 512);
    EXPECT_EQ(ColumnWidth(2), 80);
    EXPECT_EQ(ColumnWidth(3), 70);
    EXPECT_EQ(ColumnWidth(4), 90);
    const DWORD extended = static_cast<DWORD>(SendMessageW(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER),
              static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER));
    EXPECT_FALSE(GetWindowLongPtrW(list_, GWL_STYLE) & WS_HSCROLL);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(list_, GWLP_WNDPROC)), TaskListSubclassProc);
}

TEST_F(TaskListTest, FittingFollowsTheListWidthAboveTheMinimumOnly) {
    SetWindowPos(list_, nullptr, 0, 0, 1400, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    FitTaskListColumns(list_);
    EXPECT_EQ(ColumnWidth(1), ClientWidth() - 512);
    EXPECT_GT(ColumnWidth(1), 800);
    // Narrow enough that the path column would fall under its minimum: it keeps 80.
    SetWindowPos(list_, nullptr, 0, 0, 580, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_GT(ClientWidth(), 560);
    ASSERT_LT(ClientWidth(), 512 + 80);
    FitTaskListColumns(list_);
    EXPECT_EQ(ColumnWidth(1), 80);
    EXPECT_EQ(ColumnWidth(0), 250);
    // At 560 pixels or less nothing changes.
    SetWindowPos(list_, nullptr, 0, 0, 1400, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    FitTaskListColumns(list_);
    const int wide = ColumnWidth(1);
    SetWindowPos(list_, nullptr, 0, 0, 500, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    FitTaskListColumns(list_);
    EXPECT_EQ(ColumnWidth(1), wide);
    FitTaskListColumns(nullptr);
}

TEST_F(TaskListTest, RebuildShowsEveryTaskInOrderAndSelectsTheLast) {
    OnTaskUpdate(kAllTasksChanged);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(NextItem(LVNI_SELECTED), -1);
    EXPECT_FALSE(IsWindowEnabled(clearButton_));

    Fill({MakeTask("a", TaskStatus::Queued), MakeTask("b", TaskStatus::Downloading, 40),
          MakeTask("c", TaskStatus::Failed)});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(0, 0), L"a.zip");
    EXPECT_EQ(Cell(1, 0), L"b.zip");
    EXPECT_EQ(Cell(2, 0), L"c.zip");
    EXPECT_EQ(Cell(1, 2), L"下载中");
    EXPECT_EQ(NextItem(LVNI_SELECTED), 2);
    EXPECT_EQ(NextItem(LVNI_FOCUSED), 2);
    EXPECT_TRUE(IsWindowEnabled(clearButton_));

    // A rebuild after removals leaves no stale rows.
    Fill({MakeTask("only", TaskStatus::Pending)});
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 0), L"only.zip");
    ClearTasks();
    OnTaskUpdate(kAllTasksChanged);
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(IsWindowEnabled(clearButton_));
}

TEST_F(TaskListTest, AnIndexUpdateRewritesOnlyThatRow) {
    Fill({MakeTask("a", TaskStatus::Pending), MakeTask("b", TaskStatus::Pending),
          MakeTask("c", TaskStatus::Pending)});
    const std::vector<std::wstring> row0 = RowCells(0);
    const std::vector<std::wstring> row2 = RowCells(2);
    const std::vector<DownloadTask> tasks = SnapshotTasks();
    for (size_t index = 0; index < tasks.size(); ++index) {
        UpdateTaskFields(TaskRef{index, tasks[index].serial}, [](DownloadTask& task) {
            task.status = TaskStatus::Downloading;
            task.progress = 42;
            task.filePath = L"D:\\dl\\x.zip";
            task.name = "renamed";
        });
    }
    OnTaskUpdate(1);
    EXPECT_EQ(RowCells(0), row0);
    EXPECT_EQ(RowCells(2), row2);
    EXPECT_EQ(RowCells(1),
              (std::vector<std::wstring>{L"b.zip", L"D:\\dl\\x.zip", L"下载中", L"42%", L"42%"}));

    // Indexes outside the table or the rows change nothing.
    AppendTask(MakeTask("new", TaskStatus::Completed));
    for (const WPARAM outside : {WPARAM{3}, WPARAM{4}, static_cast<WPARAM>(-2), WPARAM{0x80000000u}}) {
        OnTaskUpdate(outside);
        EXPECT_EQ(Rows(), 3);
        EXPECT_EQ(RowCells(0), row0);
        EXPECT_EQ(RowCells(2), row2);
    }
    // Only the low 32 bits name the row.
    OnTaskUpdate(static_cast<WPARAM>(0x100000002ull));
    EXPECT_EQ(Cell(2, 2), L"下载中");
    EXPECT_EQ(RowCells(0), row0);
}

TEST_F(TaskListTest, NamesEndInZipExactlyOnce) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"pack", L"pack.zip"},
        {"pack.rar", L"pack.rar.zip"},
        {"PACK.ZIP", L"PACK.ZIP"},
        {"a.ZiP", L"a.ZiP"},
        {"", L".zip"},
        {"zip", L"zip.zip"},
        {".zip", L".zip"},
        {"xzip", L"xzip.zip"},
        {"pack.zip.7z", L"pack.zip.7z.zip"},
        {"素材包", L"素材包.zip"},
        {"素材包.ZIP", L"素材包.ZIP"},
    };
    std::vector<DownloadTask> tasks;
    for (const auto& c : cases) {
        tasks.push_back(MakeTask(c.first, TaskStatus::Pending));
    }
    Fill(tasks);
    for (int i = 0; i < static_cast<int>(tasks.size()); ++i) {
        EXPECT_EQ(Cell(i, 0), cases[i].second) << cases[i].first;
    }
}

TEST_F(TaskListTest, PathAndTimeCellsFollowTheStatus) {
    struct Case {
        DownloadTask task;
        std::wstring path;
        std::wstring status;
    };
    DownloadTask copyingNoLeftover = WithAllPaths(MakeTask("x", TaskStatus::Copying));
    copyingNoLeftover.leftoverDir.clear();
    DownloadTask completedOnlyFirstItem = MakeTask("x", TaskStatus::Completed);
    completedOnlyFirstItem.copyFirstItem = L"D:\\dev\\dest\\first.png";
    completedOnlyFirstItem.filePath = L"D:\\dl\\file.zip";
    DownloadTask existsNoExtract = WithAllPaths(MakeTask("x", TaskStatus::AlreadyExists));
    existsNoExtract.extractDir.clear();
    DownloadTask existsOnlyFile = MakeTask("x", TaskStatus::AlreadyExists);
    existsOnlyFile.filePath = L"D:\\dl\\file.zip";
    existsOnlyFile.leftoverDir = L"D:\\not\\shown";
    DownloadTask extractingNoFile = WithAllPaths(MakeTask("x", TaskStatus::Extracting));
    extractingNoFile.filePath.clear();
    DownloadTask failedNothing = MakeTask("x", TaskStatus::Failed);
    failedNothing.copyDestDir = L"D:\\not\\shown";
    const Case cases[] = {
        {WithAllPaths(MakeTask("x", TaskStatus::Queued)), L"D:\\dl\\file.zip", L"排队中"},
        {WithAllPaths(MakeTask("x", TaskStatus::Pending)), L"D:\\dl\\file.zip", L"等待中"},
        {WithAllPaths(MakeTask("x", TaskStatus::Downloading)), L"D:\\dl\\file.zip", L"下载中"},
        {extractingNoFile, L"D:\\dl\\extract", L"解压中"},
        {WithAllPaths(MakeTask("x", TaskStatus::Copying)), L"D:\\dl\\leftover", L"复制中"},
        {copyingNoLeftover, L"D:\\dev\\dest", L"复制中"},
        {WithAllPaths(MakeTask("x", TaskStatus::Completed)), L"D:\\dl\\leftover", L"已完成"},
        {completedOnlyFirstItem, L"D:\\dev\\dest\\first.png", L"已完成"},
        {WithAllPaths(MakeTask("x", TaskStatus::Failed)), L"D:\\dl\\file.zip", L"失败"},
        {failedNothing, L"-", L"失败"},
        {WithAllPaths(MakeTask("x", TaskStatus::AlreadyExists)), L"D:\\dl\\extract", L"已存在"},
        {existsNoExtract, L"D:\\dev\\dest", L"已存在"},
        {existsOnlyFile, L"D:\\dl\\file.zip", L"已存在"},
        {MakeTask("x", static_cast<TaskStatus>(42)), L"-", L"等待中"},
    };
    std::vector<DownloadTask> tasks;
    for (const Case& c : cases) {
        tasks.push_back(c.task);
    }
    Fill(tasks);
    for (int i = 0; i < static_cast<int>(tasks.size()); ++i) {
        // Tasks that would share one file get files of their own from the table; a row shows its own.
        DownloadTask stored;
        ASSERT_TRUE(CopyTaskAt(static_cast<size_t>(i), &stored));
        const std::wstring expected = cases[i].path == L"D:\\dl\\file.zip" ? stored.filePath : cases[i].path;
        EXPECT_EQ(Cell(i, 1), expected) << "case " << i;
        EXPECT_EQ(Cell(i, 2), cases[i].status) << "case " << i;
    }

    // Before a final status the time column repeats the percentage; after, it shows the finish time.
    DownloadTask running = MakeTask("r", TaskStatus::Downloading, 37);
    DownloadTask finished = MakeTask("f", TaskStatus::Completed, 100);
    finished.hasFinishTime = true;
    finished.finishTime.wHour = 7;
    finished.finishTime.wMinute = 5;
    finished.finishTime.wSecond = 9;
    Fill({running, finished});
    EXPECT_EQ(Cell(0, 3), L"37%");
    EXPECT_EQ(Cell(0, 4), L"37%");
    EXPECT_EQ(Cell(1, 3), L"100%");
    EXPECT_EQ(Cell(1, 4), L"07:05:09");
}

// The progress cell of a running task is a bar filled to its percentage; a final row keeps the plain
// text. Read from the list's own painting into a bitmap.
TEST_F(TaskListTest, RunningRowsDrawABarFilledToTheirPercentage) {
    Fill({MakeTask("a", TaskStatus::Downloading, 40), MakeTask("b", TaskStatus::Extracting, 100),
          MakeTask("c", TaskStatus::Queued, 0), MakeTask("d", TaskStatus::Completed, 100),
          MakeTask("e", TaskStatus::Downloading, 250)});
    Select(-1);
    RECT client = {};
    GetClientRect(list_, &client);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    ReleaseDC(nullptr, screen);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(list_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT);
    // Whether the progress cell of `row` shows the bar colour at `fraction` of its width.
    const auto filledAt = [&](int row, double fraction) {
        RECT cell = {};
        cell.top = 3;
        cell.left = LVIR_BOUNDS;
        SendMessageW(list_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
        // The bar's first row of pixels, above the centred text.
        const int x = cell.left + static_cast<int>((cell.right - cell.left) * fraction);
        return GetPixel(dc, x, cell.top + 3) == bar;
    };
    EXPECT_TRUE(filledAt(0, 0.1));
    EXPECT_TRUE(filledAt(0, 0.35));
    EXPECT_FALSE(filledAt(0, 0.88));
    EXPECT_TRUE(filledAt(1, 0.9));
    EXPECT_FALSE(filledAt(2, 0.1));
    EXPECT_FALSE(filledAt(3, 0.1));
    EXPECT_FALSE(filledAt(3, 0.9));
    EXPECT_TRUE(filledAt(4, 0.9));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    // The cells still read as the percentage the bar shows.
    EXPECT_EQ(Cell(0, 3), L"40%");
    EXPECT_EQ(Cell(4, 3), L"250%");
    EXPECT_EQ(Cell(3, 3), L"100%");
}

// The tip names the task whole, and says why a failed task failed or what a completed one left.
TEST_F(TaskListTest, TheTipShowsTheWholeNameAndPathAndWhyATaskFailed) {
    DownloadTask failed = MakeTask("broken", TaskStatus::Failed);
    failed.filePath = L"D:\\dl\\broken_20261208_101500.zip";
    failed.error = "HTTP 404 error";
    EXPECT_EQ(TaskTipText(failed), L"broken.zip\r\nD:\\dl\\broken_20261208_101500.zip\r\nHTTP 404 error");
    DownloadTask noted = WithAllPaths(MakeTask("素材", TaskStatus::Completed, 100));
    noted.error = "待处理";
    EXPECT_EQ(TaskTipText(noted), L"素材.zip\r\nD:\\dl\\leftover\r\n待处理");
    // An error left over from an earlier stage is not the reason for a running task.
    DownloadTask running = MakeTask("r.ZIP", TaskStatus::Downloading, 5);
    running.error = "stale";
    EXPECT_EQ(TaskTipText(running), L"r.ZIP");
    // A download waiting for its next automatic try says why it waits and until when.
    DownloadTask waiting = MakeTask("w", TaskStatus::Queued);
    waiting.error = "HTTP 503 error";
    waiting.hasNextTry = true;
    waiting.nextTryTime.wHour = 9;
    waiting.nextTryTime.wMinute = 5;
    waiting.nextTryTime.wSecond = 30;
    EXPECT_EQ(TaskTipText(waiting), L"w.zip\r\nHTTP 503 error\r\n下次重试：09:05:30");

    // What the cells shorten, the tip shows whole, within what a tooltip holds.
    const std::string longName(300, 'n');
    DownloadTask longOne = MakeTask(longName, TaskStatus::Failed);
    longOne.filePath = L"D:\\" + std::wstring(100000, L'p') + L"\\tail.zip";
    longOne.error = std::string(5000, 'e');
    const std::wstring tip = TaskTipText(longOne);
    EXPECT_EQ(tip.substr(0, 304), std::wstring(longName.begin(), longName.end()) + L".zip");
    EXPECT_LT(tip.size(), 1024u);
    EXPECT_NE(tip.find(L"\\tail.zip\r\n"), std::wstring::npos);
    EXPECT_EQ(tip.back(), L'e');
}

TEST_F(TaskListTest, OverlongNamesAndPathsAreShortenedInTheMiddle) {
    const std::string longName(300, 'n');
    std::string emojiName;
    for (int i = 0; i < 200; ++i) {
        emojiName += "\xF0\x9F\x93\xA6";  // U+1F4E6, a surrogate pair in UTF-16
    }
    std::wstring longPath = L"D:\\downloads\\";
    while (longPath.size() < 400) {
        longPath += L"folder\\";
    }
    longPath += L"end.zip";
    const std::wstring hugePath = L"C:\\" + std::wstring(100000, L'p') + L"\\tail.zip";
    const std::wstring exactPath = L"D:\\" + std::wstring(256, L'e');  // 259 units: shown whole
    const std::wstring overPath = L"D:\\" + std::wstring(257, L'o');   // 260 units: shortened

    std::vector<DownloadTask> tasks = {MakeTask(longName, TaskStatus::Pending),
                                       MakeTask(emojiName, TaskStatus::Pending)};
    for (const std::wstring* path :
         std::vector<const std::wstring*>{&longPath, &hugePath, &exactPath, &overPath}) {
        DownloadTask task = MakeTask("p", TaskStatus::Downloading);
        task.filePath = *path;
        tasks.push_back(task);
    }
    Fill(tasks);

    const std::wstring name = Cell(0, 0);
    EXPECT_EQ(name.size(), kTaskNameCellMax);
    EXPECT_EQ(name.substr(0, 100), std::wstring(100, L'n'));
    EXPECT_EQ(name.substr(name.size() - 5), L"n.zip");
    EXPECT_NE(name.find(kEllipsis), std::wstring::npos);

    const std::wstring emoji = Cell(1, 0);
    EXPECT_LE(emoji.size(), kTaskNameCellMax);
    EXPECT_FALSE(IsLoneSurrogate(emoji));
    EXPECT_EQ(emoji.substr(emoji.size() - 4), L".zip");

    for (int row : {2, 3}) {
        const std::wstring path = Cell(row, 1);
        const std::wstring& original = row == 2 ? longPath : hugePath;
        EXPECT_LE(path.size(), kTaskPathCellMax);
        EXPECT_EQ(path.substr(0, 3), original.substr(0, 3));
        EXPECT_EQ(path.substr(path.size() - 9), original.substr(original.size() - 9));
        EXPECT_NE(path.find(kEllipsis), std::wstring::npos);
    }
    EXPECT_EQ(Cell(4, 1), exactPath);
    EXPECT_EQ(Cell(5, 1).size(), kTaskPathCellMax);
    EXPECT_NE(Cell(5, 1).find(kEllipsis), std::wstring::npos);
}

TEST_F(TaskListTest, HeaderDragsSnapFixedColumnsBackAndClampThePathColumn) {
    const int maxPath = ClientWidth() - 512;
    EXPECT_EQ(Drag(0, 400).width, 250);
    EXPECT_EQ(Drag(0, 400).result, 0);
    EXPECT_EQ(Drag(2, 10).width, 80);
    EXPECT_EQ(Drag(3, 300).width, 70);
    EXPECT_EQ(Drag(4, 0).width, 90);
    EXPECT_EQ(Drag(1, 10).width, 80);
    EXPECT_EQ(Drag(1, 5000).width, maxPath);
    EXPECT_EQ(Drag(1, 200).width, 200);
    // Columns the list does not have pass through untouched.
    EXPECT_EQ(Drag(7, 123).width, 123);

    // Through the real header: its item-changing notification reaches the list's procedure.
    const HWND header = ListView_GetHeader(list_);
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    item.cxy = 500;
    SendMessageW(header, HDM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(ColumnWidth(0), 250);
    item.cxy = 5000;
    SendMessageW(header, HDM_SETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(ColumnWidth(1), maxPath);
    item.cxy = 3;
    SendMessageW(header, HDM_SETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(ColumnWidth(1), 80);

    // A drag with the mouse on the header's dividers, as the user does it.
    const auto mouseDrag = [&](int fromX, int toX) {
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(fromX, 5));
        SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((fromX + toX) / 2, 5));
        SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(toX, 5));
        SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(toX, 5));
    };
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(200, 0));
    ASSERT_EQ(ColumnWidth(1), 200);
    mouseDrag(250, 400);
    EXPECT_EQ(ColumnWidth(0), 250);
    mouseDrag(450, 1500);
    EXPECT_EQ(ColumnWidth(1), maxPath);
    mouseDrag(250 + maxPath, 260);
    EXPECT_EQ(ColumnWidth(1), 80);
    mouseDrag(250 + 80 + 80, 600);
    EXPECT_EQ(ColumnWidth(2), 80);

    // A notification without an item description is not ours to change.
    NMHEADERW bare = {};
    bare.hdr.hwndFrom = header;
    bare.hdr.code = HDN_ITEMCHANGINGW;
    bare.iItem = 0;
    SendMessageW(list_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&bare));
}

TEST_F(TaskListTest, ThePathColumnIsCorrectedWhenADragEndsOutOfRange) {
    // The list shrinks under a wide path column (no fitting), then a drag of that column ends: the
    // item-changed notification brings it back within the new client width ...
    SetWindowPos(list_, nullptr, 0, 0, 700, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    const int maxPath = ClientWidth() - 512;
    ASSERT_GT(ColumnWidth(1), maxPath);
    Drag(1, 100);
    Drag(1, ColumnWidth(1), HDN_ITEMCHANGEDW);
    EXPECT_EQ(ColumnWidth(1), maxPath);

    // ... but only after a drag of the path column itself.
    SetWindowPos(list_, nullptr, 0, 0, 550, kListHeight, SWP_NOMOVE | SWP_NOZORDER);
    const int tinyMax = ClientWidth() - 512;
    ASSERT_LT(tinyMax, 80);
    Drag(0, 100);
    Drag(1, ColumnWidth(1), HDN_ITEMCHANGEDW);
    EXPECT_EQ(ColumnWidth(1), maxPath);

    // Narrower than the minimum allows: first lowered to what the width leaves, then raised to 80.
    Drag(1, 100);
    Drag(1, ColumnWidth(1), HDN_ITEMCHANGEDW);
    EXPECT_EQ(ColumnWidth(1), tinyMax);
    Drag(1, 100);
    Drag(1, ColumnWidth(1), HDN_ITEMCHANGEDW);
    EXPECT_EQ(ColumnWidth(1), 80);
    EXPECT_FALSE(GetWindowLongPtrW(list_, GWL_STYLE) & WS_HSCROLL);
}

TEST_F(TaskListTest, DoubleClickOpensOnceWithin500MillisecondsPerRow) {
    DownloadTask first = MakeTask("first", TaskStatus::Completed);
    first.copyFirstItem = L"D:\\dev\\anim\\effect\\sfx_a.png";
    first.copyDestDir = L"D:\\dev\\anim\\effect";
    DownloadTask second = MakeTask("second", TaskStatus::Completed);
    second.copyDestDir = L"D:\\dev\\scene\\map";
    Fill({first, second});
    Select(-1);
    ASSERT_EQ(NextItem(LVNI_SELECTED), -1);
    const std::wstring selectFirst = ExplorerSelecting(L"D:\\dev\\anim\\effect\\sfx_a.png");

    const DWORD start = g_now;
    DoubleClick(PointOfRow(0));
    ASSERT_EQ(g_started, std::vector<std::wstring>{selectFirst});
    g_now = start + 499;
    DoubleClick(PointOfRow(0));
    EXPECT_EQ(g_started.size(), 1u);
    g_now = start + 500;
    DoubleClick(PointOfRow(0));
    EXPECT_EQ(g_started.size(), 2u);

    // Two different rows in quick succession both open.
    Select(1);
    g_now += 1;
    DoubleClick(PointOfRow(1));
    EXPECT_EQ(g_opened, std::vector<std::wstring>{L"D:\\dev\\scene\\map"});
    Select(0);
    g_now += 1;
    DoubleClick(PointOfRow(0));
    EXPECT_EQ(g_started.size(), 3u);

    // The elapsed time is an unsigned difference, so it survives the tick count wrapping.
    Select(1);
    g_now = 0xFFFFFF00u;
    DoubleClick(PointOfRow(1));
    EXPECT_EQ(g_opened.size(), 2u);
    g_now = 0x50;
    DoubleClick(PointOfRow(1));
    EXPECT_EQ(g_opened.size(), 2u);

    // The download window is told which NM_DBLCLK belongs to the list's own handling.
    ASSERT_FALSE(g_dblClickFlagAtNotify.empty());
    for (const bool flag : g_dblClickFlagAtNotify) {
        EXPECT_TRUE(flag);
    }
    EXPECT_FALSE(g_listDblClickActive);
}

TEST_F(TaskListTest, DoubleClickPrefersTheSelectedRowOverThePointer) {
    DownloadTask a = MakeTask("a", TaskStatus::Failed);
    a.extractDir = L"D:\\dl\\a_extract";
    DownloadTask b = MakeTask("b", TaskStatus::AlreadyExists);
    b.extractDir = L"D:\\dl\\b_extract";
    Fill({a, b});
    Select(1);
    DoubleClick(PointOfRow(0));
    EXPECT_EQ(g_opened, std::vector<std::wstring>{L"D:\\dl\\b_extract"});

    // On empty space with nothing selected nothing opens.
    Select(-1);
    ASSERT_EQ(NextItem(LVNI_SELECTED), -1);
    g_now += 10000;
    DoubleClick(MAKELPARAM(40, kListHeight - 10));
    EXPECT_EQ(g_opened.size(), 1u);
    EXPECT_TRUE(g_started.empty());
    EXPECT_FALSE(g_listDblClickActive);
}

TEST_F(TaskListTest, EnterOpensTheSelectedRowAndIsConsumed) {
    DownloadTask a = MakeTask("a", TaskStatus::Completed);
    a.leftoverDir = L"D:\\dl\\pending";
    a.copyFirstItem = L"D:\\dev\\x.png";
    Fill({a});
    EXPECT_EQ(SendMessageW(list_, WM_KEYDOWN, VK_RETURN, 0), 0);
    EXPECT_EQ(g_opened, std::vector<std::wstring>{L"D:\\dl\\pending"});

    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED;
    SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    g_now += 10000;
    SendMessageW(list_, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(g_opened.size(), 1u);
}

TEST_F(TaskListTest, OpenChoosesTheFolderByStatus) {
    DownloadTask existsFile = MakeTask("e", TaskStatus::AlreadyExists);
    existsFile.filePath = L"D:\\dl\\pack_20240101_120000.zip";
    DownloadTask existsRoot = MakeTask("r", TaskStatus::AlreadyExists);
    existsRoot.filePath = L"D:\\pack.zip";
    DownloadTask completedOnlyFile = MakeTask("c", TaskStatus::Completed);
    completedOnlyFile.filePath = L"D:\\dl\\c.zip";
    DownloadTask running = WithAllPaths(MakeTask("d", TaskStatus::Downloading));
    DownloadTask failedDest = MakeTask("f", TaskStatus::Failed);
    failedDest.copyDestDir = L"D:\\dev\\dest";
    failedDest.extractDir = L"D:\\dl\\x";
    DownloadTask quoted = MakeTask("q", TaskStatus::Completed);
    quoted.copyFirstItem = L"D:\\dev\\a\" /e,\"C:\\x";
    DownloadTask bareFile = MakeTask("b", TaskStatus::AlreadyExists);
    bareFile.filePath = L"pack.zip";
    Fill({existsFile, existsRoot, completedOnlyFile, running, failedDest, quoted, bareFile});
    for (int i = 0; i < 7; ++i) {
        OpenTaskDirectory(i);
    }
    OpenTaskDirectory(99);
    OpenTaskDirectory(-1);
    EXPECT_EQ(g_opened,
              (std::vector<std::wstring>{L"D:\\dl", L"D:\\", L"D:\\dev\\dest", L"D:\\dev\\a\" /e,\"C:"}));
    EXPECT_TRUE(g_started.empty());

    // A path too long for the list's cell still reaches the file manager whole.
    DownloadTask deep = MakeTask("d", TaskStatus::Completed);
    deep.copyFirstItem = L"D:\\dev\\" + std::wstring(400, L'd') + L"\\sfx_a.png";
    Fill({deep});
    g_now += 1000;
    OpenTaskDirectory(0);
    EXPECT_EQ(g_started, std::vector<std::wstring>{ExplorerSelecting(deep.copyFirstItem)});
}

TEST_F(TaskListTest, ScrollingRaisesTheVisibleClearButton) {
    // Visibility is what this is about, so the parent is shown (the only test that waits for that).
    ShowWindow(parent_, SW_SHOWNA);
    ASSERT_TRUE(IsWindowVisible(clearButton_));
    std::vector<DownloadTask> tasks(30, MakeTask("t", TaskStatus::Pending));
    Fill(tasks);
    for (const UINT message : {UINT{WM_VSCROLL}, UINT{WM_MOUSEWHEEL}}) {
        SetWindowPos(clearButton_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ASSERT_NE(GetWindow(parent_, GW_CHILD), clearButton_);
        const WPARAM wParam =
            message == WM_VSCROLL ? SB_LINEDOWN : MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA));
        SendMessageW(list_, message, wParam, 0);
        EXPECT_EQ(GetWindow(parent_, GW_CHILD), clearButton_) << message;
    }
    // A hidden button stays hidden.
    ShowWindow(clearButton_, SW_HIDE);
    SetWindowPos(clearButton_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(list_, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_FALSE(IsWindowVisible(clearButton_));
    EXPECT_NE(GetWindow(parent_, GW_CHILD), clearButton_);
}

}  // namespace
