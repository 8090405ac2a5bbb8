#include "ui/task_list.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/text_util.h"
#include "base/unique_handle.h"
#include "ui/control_ids.h"
#include "ui/task_menu.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

HWND g_hTaskList = nullptr;

namespace {

enum TaskListColumn {
    kNameColumn = 0,
    kPathColumn = 1,
    kStatusColumn = 2,
    kProgressColumn = 3,
    kTimeColumn = 4
};
constexpr int kColumnCount = 5;

constexpr int kNameColumnWidth = 250;
constexpr int kInitialPathColumnWidth = 400;
constexpr int kStatusColumnWidth = 80;
constexpr int kProgressColumnWidth = 70;
constexpr int kTimeColumnWidth = 90;
constexpr int kMinPathColumnWidth = 80;
// The four fixed columns take 490 pixels; 22 more stay free for the vertical scroll bar, so the
// path column gets what is left of the client width after 512.
constexpr int kPathColumnReserve = 512;
// At this client width or less the columns are left as they are.
constexpr int kMinFitWidth = 560;

// Units kept at the end of a shortened text, so the extension of a name and the last folders of a
// path stay readable.
constexpr size_t kNameTailUnits = 8;
constexpr size_t kPathTailUnits = 160;
constexpr wchar_t kEllipsis = L'\u2026';

// Wine's tooltip control keeps at most 1024 units of text, so each of the tip's three lines is held
// well below a third of that.
constexpr size_t kTipLineMax = 320;
constexpr size_t kTipTailUnits = 200;
// A row that draws a progress bar carries this flag and its percentage (0..100) as its item data;
// rows in a final status carry 0 and draw their percentage as plain text.
constexpr LPARAM kBarRowFlag = 0x10000;
constexpr LPARAM kBarPercentMask = 0xFFFF;
// Space between the progress cell's edges and its bar.
constexpr int kBarInset = 2;

// Widest tooltip before its lines wrap; also what lets it break lines at "\r\n" at all.
constexpr int kTipMaxWidth = 640;
// Leads the time of the next automatic try in the tip of a download that waits for it.
constexpr const wchar_t* kNextTryText = L"\r\n下次重试：";

WNDPROC g_listOwnProc = nullptr;
bool g_adjustingColumns = false;
int g_lastResizedColumn = -1;

// The tooltip shown over the list: its control, the row its text was made for (-1: none) and the
// text last given to it.
HWND g_hTaskTip = nullptr;
int g_tipRow = -1;
std::wstring g_tipText;

// Shortens `text` to at most maxUnits by replacing its middle with an ellipsis, keeping about
// tailUnits at the end. Never splits a surrogate pair.
std::wstring ElideMiddle(const std::wstring& text, size_t maxUnits, size_t tailUnits) {
    if (text.size() <= maxUnits) {
        return text;
    }
    size_t head = maxUnits - 1 - tailUnits;
    if (head > 0 && IsHighSurrogate(text[head - 1])) {
        --head;
    }
    size_t tailStart = text.size() - tailUnits;
    if (IsLowSurrogate(text[tailStart])) {
        ++tailStart;
    }
    return text.substr(0, head) + kEllipsis + text.substr(tailStart);
}

const std::wstring& FirstNonEmpty(std::initializer_list<const std::wstring*> candidates) {
    static const std::wstring kNone;
    for (const std::wstring* candidate : candidates) {
        if (!candidate->empty()) {
            return *candidate;
        }
    }
    return kNone;
}

void SetCellText(int row, int column, const std::wstring& text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(g_hTaskList, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int ListClientWidth(HWND list) {
    RECT client = {};
    GetClientRect(list, &client);
    return client.right - client.left;
}

void HideHorizontalScrollBar(HWND list) {
    const LONG_PTR style = GetWindowLongPtrW(list, GWL_STYLE);
    if (style & WS_HSCROLL) {
        SetWindowLongPtrW(list, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_HSCROLL));
    }
    ShowScrollBar(list, SB_HORZ, FALSE);
}

int ColumnWidth(HWND list, int column) {
    return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void SetColumnWidth(HWND list, int column, int width) {
    SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
}

int SelectedRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Stops the list from painting while all its rows are replaced. WM_SETREDRAW works by clearing and
// setting the visible style, so a hidden list is left alone: turning drawing back on would show it.
class RedrawPause {
  public:
    explicit RedrawPause(HWND list) : list_(list) {
        paused_ = (GetWindowLongPtrW(list_, GWL_STYLE) & WS_VISIBLE) != 0;
        if (paused_) {
            SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
        }
    }
    ~RedrawPause() {
        if (paused_) {
            SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list_, nullptr, TRUE);
        }
    }
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

  private:
    HWND list_;
    bool paused_ = false;
};

LRESULT PassOn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(g_listOwnProc, window, message, wParam, lParam);
}

// Only the path column may be dragged: every other divider snaps back to its fixed width, and the
// path column stays between its minimum and what the client width leaves.
LRESULT OnHeaderItemChanging(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    NMHEADERW* header = reinterpret_cast<NMHEADERW*>(lParam);
    if (g_adjustingColumns || !header->pitem) {
        return PassOn(list, message, wParam, lParam);
    }
    g_lastResizedColumn = header->iItem;
    int& width = header->pitem->cxy;
    switch (header->iItem) {
        case kNameColumn:
            width = kNameColumnWidth;
            break;
        case kStatusColumn:
            width = kStatusColumnWidth;
            break;
        case kProgressColumn:
            width = kProgressColumnWidth;
            break;
        case kTimeColumn:
            width = kTimeColumnWidth;
            break;
        case kPathColumn: {
            const int maxWidth = ListClientWidth(list) - kPathColumnReserve;
            width = std::max(width, kMinPathColumnWidth);
            width = std::min(width, maxWidth);
            break;
        }
        default:
            break;
    }
    return 0;
}

int FixedColumnWidth(int column) {
    switch (column) {
        case kNameColumn:
            return kNameColumnWidth;
        case kStatusColumn:
            return kStatusColumnWidth;
        case kProgressColumn:
            return kProgressColumnWidth;
        case kTimeColumn:
            return kTimeColumnWidth;
        default:
            return 0;
    }
}

// Brings the column the user last dragged back into its range once the drag ends. Header controls
// that ignore the width adjusted in the item-changing notification would otherwise keep the
// dragged width, so the fixed columns are restored here as well.
LRESULT OnHeaderItemChanged(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_adjustingColumns) {
        const int column = g_lastResizedColumn;
        g_lastResizedColumn = -1;
        const int fixedWidth = FixedColumnWidth(column);
        if (column == kPathColumn || fixedWidth > 0) {
            g_adjustingColumns = true;
            const int width = ColumnWidth(list, column);
            if (column == kPathColumn) {
                const int maxWidth = ListClientWidth(list) - kPathColumnReserve;
                if (width > maxWidth) {
                    SetColumnWidth(list, column, maxWidth);
                }
                if (width < kMinPathColumnWidth) {
                    SetColumnWidth(list, column, kMinPathColumnWidth);
                }
            } else if (width != fixedWidth) {
                SetColumnWidth(list, column, fixedWidth);
            }
            HideHorizontalScrollBar(list);
            g_adjustingColumns = false;
            // The list sizes its column from the width this notification carries; let it carry the
            // corrected one, or the list would draw the column at the width just undone.
            NMHEADERW* header = reinterpret_cast<NMHEADERW*>(lParam);
            if (header->iItem == column && header->pitem && (header->pitem->mask & HDI_WIDTH)) {
                header->pitem->cxy = ColumnWidth(list, column);
            }
        }
    }
    return PassOn(list, message, wParam, lParam);
}

LRESULT OnNotify(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && header->hwndFrom == ListView_GetHeader(list)) {
        if (header->code == HDN_ITEMCHANGINGW) {
            return OnHeaderItemChanging(list, message, wParam, lParam);
        }
        if (header->code == HDN_ITEMCHANGEDW) {
            return OnHeaderItemChanged(list, message, wParam, lParam);
        }
    }
    return PassOn(list, message, wParam, lParam);
}

// The selected row wins; the row under the pointer counts only when none is selected.
LRESULT OnDoubleClick(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    g_listDblClickActive = true;
    int row = SelectedRow(list);
    if (row < 0) {
        LVHITTESTINFO hit = {};
        hit.pt.x = GET_X_LPARAM(lParam);
        hit.pt.y = GET_Y_LPARAM(lParam);
        row = static_cast<int>(SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    }
    if (row >= 0) {
        OpenTaskDirectory(row);
    }
    const LRESULT result = PassOn(list, message, wParam, lParam);
    g_listDblClickActive = false;
    return result;
}

LRESULT OnKeyDown(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (wParam == VK_RETURN) {
        const int row = SelectedRow(list);
        if (row >= 0) {
            OpenTaskDirectory(row);
            return 0;
        }
    }
    return PassOn(list, message, wParam, lParam);
}

// Scrolling repaints the list over the clear button where the two overlap; raise the button again.
LRESULT OnScroll(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = PassOn(list, message, wParam, lParam);
    const HWND clearButton = GetDlgItem(GetParent(list), IDC_CLEAR_TASKS);
    if (clearButton && IsWindowVisible(clearButton)) {
        SetWindowPos(clearButton, HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        InvalidateRect(clearButton, nullptr, TRUE);
        UpdateWindow(clearButton);
    }
    return result;
}

LPARAM RowBarData(const DownloadTask& task) {
    return IsFinalStatus(task.status) ? 0 : kBarRowFlag | std::clamp<LPARAM>(task.progress, 0, 100);
}

// Columns 1..4 in the order 2, 3, 4, 1.
void WriteRowCells(int row, const DownloadTask& task) {
    wchar_t percent[32] = {};
    swprintf(percent, sizeof(percent) / sizeof(percent[0]), L"%d%%", task.progress);
    std::wstring time = percent;
    if (task.hasFinishTime) {
        wchar_t clock[64] = {};
        swprintf(clock, sizeof(clock) / sizeof(clock[0]), L"%02d:%02d:%02d", task.finishTime.wHour,
                 task.finishTime.wMinute, task.finishTime.wSecond);
        time = clock;
    }
    SetCellText(row, kStatusColumn, TaskStatusListWord(task.status));
    SetCellText(row, kProgressColumn, percent);
    SetCellText(row, kTimeColumn, time);
    SetCellText(row, kPathColumn, TaskPathCellText(task));
}

void SetRowBar(int row, const DownloadTask& task) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = RowBarData(task);
    SendMessageW(g_hTaskList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// The progress cell of a running task: a framed bar filled to its percentage, the cell's own text
// centred over it, in highlight colours over the filled part and window colours over the rest.
void DrawProgressCell(HWND list, const NMLVCUSTOMDRAW& draw) {
    const int row = static_cast<int>(draw.nmcd.dwItemSpec);
    RECT cell = {};
    cell.top = kProgressColumn;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell))) {
        return;
    }
    wchar_t buffer[32] = {};
    LVITEMW item = {};
    item.iSubItem = kProgressColumn;
    item.pszText = buffer;
    item.cchTextMax = static_cast<int>(sizeof(buffer) / sizeof(buffer[0]));
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    const std::wstring text = buffer;

    const HDC dc = draw.nmcd.hdc;
    const bool selected =
        (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
    const int background = !selected ? COLOR_WINDOW : GetFocus() == list ? COLOR_HIGHLIGHT : COLOR_BTNFACE;
    FillRect(dc, &cell, GetSysColorBrush(background));
    RECT bar = cell;
    InflateRect(&bar, -kBarInset, -kBarInset);
    FillRect(dc, &bar, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT inner = bar;
    InflateRect(&inner, -1, -1);
    const int percent = static_cast<int>(draw.nmcd.lItemlParam & kBarPercentMask);
    RECT filled = inner;
    filled.right = inner.left + (inner.right - inner.left) * percent / 100;
    FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
    RECT empty = inner;
    empty.left = filled.right;
    // The text is drawn twice at the same place, each time clipped to one part of the bar.
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const int x = (inner.left + inner.right - extent.cx) / 2;
    const int y = (inner.top + inner.bottom - extent.cy) / 2;
    SetBkMode(dc, TRANSPARENT);
    if (filled.right > filled.left) {
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        ExtTextOutW(dc, x, y, ETO_CLIPPED, &filled, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    }
    if (empty.right > empty.left) {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        ExtTextOutW(dc, x, y, ETO_CLIPPED, &empty, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    }
}

// The one tool covers the whole list; the text follows the row under the pointer.
TTTOOLINFOW TipTool(HWND list) {
    TTTOOLINFOW tool = {};
    // The size comctl32 before version 6 accepts too; the fields after it are not used.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = list;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = const_cast<wchar_t*>(g_tipText.c_str());
    return tool;
}

// The list view's own info tips are not implemented by every comctl32 (Wine's sends no
// LVN_GETINFOTIP), so the list has a tooltip of its own that it feeds from a hit test.
void CreateTaskTip(HWND list) {
    if (g_hTaskTip && IsWindow(g_hTaskTip)) {
        DestroyWindow(g_hTaskTip);
    }
    g_tipRow = -1;
    g_tipText.clear();
    g_hTaskTip = CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, list, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!g_hTaskTip) {
        const DWORD error = GetLastError();
        DebugTrace(L"SetupTaskList: no tooltip (error %lu)", error);
        return;
    }
    TTTOOLINFOW tool = TipTool(list);
    SendMessageW(g_hTaskTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(g_hTaskTip, TTM_SETMAXTIPWIDTH, 0, kTipMaxWidth);
}

void SetTipText(HWND list, const std::wstring& text) {
    if (!g_hTaskTip || text == g_tipText) {
        return;
    }
    g_tipText = text;
    TTTOOLINFOW tool = TipTool(list);
    SendMessageW(g_hTaskTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

// A new row under the pointer hides the tip, so that it comes back beside that row with its text.
void FollowPointer(HWND list, LPARAM point) {
    LVHITTESTINFO hit = {};
    hit.pt.x = GET_X_LPARAM(point);
    hit.pt.y = GET_Y_LPARAM(point);
    const int row =
        static_cast<int>(SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row == g_tipRow) {
        return;
    }
    g_tipRow = row;
    DownloadTask task;
    const bool found = row >= 0 && CopyTaskAt(static_cast<size_t>(row), &task);
    SendMessageW(g_hTaskTip, TTM_POP, 0, 0);
    SetTipText(list, found ? TaskTipText(task) : std::wstring());
}

LRESULT OnMouse(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_hTaskTip) {
        if (message == WM_MOUSEMOVE) {
            FollowPointer(list, lParam);
        }
        MSG relayed = {};
        relayed.hwnd = list;
        relayed.message = message;
        relayed.wParam = wParam;
        relayed.lParam = lParam;
        relayed.time = static_cast<DWORD>(GetMessageTime());
        const DWORD position = GetMessagePos();
        relayed.pt.x = GET_X_LPARAM(position);
        relayed.pt.y = GET_Y_LPARAM(position);
        SendMessageW(g_hTaskTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    return PassOn(list, message, wParam, lParam);
}

LRESULT RouteTaskListMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NOTIFY:
            return OnNotify(list, message, wParam, lParam);
        case WM_LBUTTONDBLCLK:
            return OnDoubleClick(list, message, wParam, lParam);
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            return OnMouse(list, message, wParam, lParam);
        case WM_KEYDOWN:
            return OnKeyDown(list, message, wParam, lParam);
        case WM_CONTEXTMENU:
            return OnTaskListContextMenu(list, lParam);
        case WM_VSCROLL:
        case WM_MOUSEWHEEL:
            return OnScroll(list, message, wParam, lParam);
        case WM_COMMAND:
            // Buttons placed over the list report to it; the download window owns their commands.
            SendMessageW(GetParent(list), WM_COMMAND, wParam, lParam);
            return 0;
        default:
            return PassOn(list, message, wParam, lParam);
    }
}

void InsertColumn(HWND list, int index, const wchar_t* title, int width, int format) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(title);
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

// The name with ".zip" ensured, whole.
std::wstring TaskShownName(const std::string& utf8Name) {
    std::string shown = utf8Name;
    bool endsInZip = false;
    if (shown.size() >= 4) {
        std::string tail = shown.substr(shown.size() - 4);
        for (char& ch : tail) {
            if (ch >= 'A' && ch <= 'Z') {
                ch = static_cast<char>(ch - 'A' + 'a');
            }
        }
        endsInZip = tail == ".zip";
    }
    if (!endsInZip) {
        shown += ".zip";
    }
    return Utf8ToWide(shown);
}

const std::wstring& TaskShownPath(const DownloadTask& task) {
    const std::wstring* path = nullptr;
    switch (task.status) {
        case TaskStatus::Copying:
        case TaskStatus::Completed:
            path = &FirstNonEmpty({&task.leftoverDir, &task.copyDestDir, &task.copyFirstItem,
                                   &task.extractDir, &task.filePath});
            break;
        case TaskStatus::AlreadyExists:
            path = &FirstNonEmpty({&task.extractDir, &task.copyDestDir, &task.filePath});
            break;
        default:
            path = &FirstNonEmpty({&task.filePath, &task.extractDir});
            break;
    }
    return *path;
}

}  // namespace

std::wstring TaskNameCellText(const std::string& utf8Name) {
    return ElideMiddle(TaskShownName(utf8Name), kTaskNameCellMax, kNameTailUnits);
}

std::wstring TaskPathCellText(const DownloadTask& task) {
    const std::wstring& path = TaskShownPath(task);
    if (path.empty()) {
        return L"-";
    }
    return ElideMiddle(path, kTaskPathCellMax, kPathTailUnits);
}

std::wstring TaskTipText(const DownloadTask& task) {
    std::wstring tip = ElideMiddle(TaskShownName(task.name), kTipLineMax, kTipTailUnits);
    const std::wstring& path = TaskShownPath(task);
    if (!path.empty()) {
        tip += L"\r\n" + ElideMiddle(path, kTipLineMax, kTipTailUnits);
    }
    const bool retryWaits = task.status == TaskStatus::Queued && task.hasNextTry;
    const bool explains =
        task.status == TaskStatus::Failed || task.status == TaskStatus::Completed || retryWaits;
    if (explains && !task.error.empty()) {
        tip += L"\r\n" + ElideMiddle(Utf8ToWide(task.error), kTipLineMax, kTipTailUnits);
    }
    if (retryWaits) {
        wchar_t next[32] = {};
        swprintf(next, sizeof(next) / sizeof(next[0]), L"%02d:%02d:%02d", task.nextTryTime.wHour,
                 task.nextTryTime.wMinute, task.nextTryTime.wSecond);
        tip += std::wstring(kNextTryText) + next;
    }
    return tip;
}

bool OnTaskListParentNotify(LPARAM lParam, LRESULT* result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!header || !g_hTaskList || header->hwndFrom != g_hTaskList ||
        header->code != static_cast<UINT>(NM_CUSTOMDRAW)) {
        return false;
    }
    const auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            *result = CDRF_NOTIFYITEMDRAW;
            break;
        case CDDS_ITEMPREPAINT:
            *result = (draw->nmcd.lItemlParam & kBarRowFlag) ? CDRF_NOTIFYSUBITEMDRAW : CDRF_DODEFAULT;
            break;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
            if (draw->iSubItem == kProgressColumn && (draw->nmcd.lItemlParam & kBarRowFlag)) {
                DrawProgressCell(g_hTaskList, *draw);
                *result = CDRF_SKIPDEFAULT;
            } else {
                *result = CDRF_DODEFAULT;
            }
            break;
        default:
            *result = CDRF_DODEFAULT;
            break;
    }
    return true;
}

void SetupTaskList() {
    const HWND list = g_hTaskList;
    if (!list) {
        return;
    }
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    // Subclassing twice would make the list's own procedure ours and recurse forever.
    const WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(list, GWLP_WNDPROC));
    if (current != TaskListSubclassProc) {
        g_listOwnProc = current;
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TaskListSubclassProc));
    }
    InsertColumn(list, kNameColumn, L"文件名", kNameColumnWidth, LVCFMT_LEFT);
    InsertColumn(list, kPathColumn, L"文件路径", kInitialPathColumnWidth, LVCFMT_LEFT);
    InsertColumn(list, kStatusColumn, L"状态", kStatusColumnWidth, LVCFMT_CENTER);
    InsertColumn(list, kProgressColumn, L"进度", kProgressColumnWidth, LVCFMT_CENTER);
    InsertColumn(list, kTimeColumn, L"时间", kTimeColumnWidth, LVCFMT_RIGHT);
    HideHorizontalScrollBar(list);
    FitTaskListColumns(list);
    CreateTaskTip(list);
}

void FitTaskListColumns(HWND list) {
    if (!list || !IsWindow(list)) {
        return;
    }
    const int width = ListClientWidth(list);
    if (width <= kMinFitWidth) {
        return;
    }
    const int widths[kColumnCount] = {kNameColumnWidth,
                                      std::max(width - kPathColumnReserve, kMinPathColumnWidth),
                                      kStatusColumnWidth, kProgressColumnWidth, kTimeColumnWidth};
    g_adjustingColumns = true;
    for (int column = 0; column < kColumnCount; ++column) {
        SetColumnWidth(list, column, widths[column]);
    }
    g_adjustingColumns = false;
    ShowScrollBar(list, SB_HORZ, FALSE);
}

// The rows come from one snapshot of the table, so they are consistent with each other.
void RebuildTaskList() {
    const HWND list = g_hTaskList;
    if (!list) {
        return;
    }
    RedrawPause pause(list);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    // The rows the tip was made for are gone; the next pointer move finds the row again.
    g_tipRow = -1;
    SendMessageW(g_hTaskTip, TTM_POP, 0, 0);
    SetTipText(list, std::wstring());
    {
        const std::vector<DownloadTask> tasks = SnapshotTasks();
        const int count = static_cast<int>(tasks.size());
        for (int i = 0; i < count; ++i) {
            const DownloadTask& task = tasks[static_cast<size_t>(i)];
            const std::wstring name = TaskNameCellText(task.name);
            LVITEMW item = {};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = i;
            item.pszText = const_cast<wchar_t*>(name.c_str());
            item.lParam = RowBarData(task);
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            WriteRowCells(i, task);
        }
        if (count > 0) {
            LVITEMW state = {};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(count - 1),
                         reinterpret_cast<LPARAM>(&state));
            SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
        }
        HideHorizontalScrollBar(list);
    }
}

void UpdateTaskRow(int row, const DownloadTask& task) {
    if (!g_hTaskList) {
        return;
    }
    SetRowBar(row, task);
    WriteRowCells(row, task);
    if (row == g_tipRow) {
        SetTipText(g_hTaskList, TaskTipText(task));
    }
}

LRESULT CALLBACK TaskListSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return RouteTaskListMessage(window, message, wParam, lParam);
    } catch (...) {
        DebugTrace(L"TaskListSubclassProc: message %u failed", message);
        g_listDblClickActive = false;
        g_adjustingColumns = false;
        return 0;
    }
}
