#include "ui/task_menu.h"

#include "base/unique_handle.h"
#include "tasks/task_runner.h"
#include "ui/task_open.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {

constexpr const wchar_t* kRetryText = L"重试";
constexpr const wchar_t* kOpenFolderText = L"打开文件夹";
constexpr const wchar_t* kCancelText = L"取消";
// The menu returns the chosen command to its caller and posts nothing, so these need no place in
// the window's command numbering.
constexpr UINT kRetryCommand = 1;
constexpr UINT kOpenFolderCommand = 2;
constexpr UINT kCancelCommand = 3;

// The row under a screen point, or -1.
int RowAt(HWND list, POINT screen) {
    LVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(list, &hit.pt);
    return static_cast<int>(SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
}

// The selected row and a point on it for a menu the keyboard asked for; false when none is selected.
bool SelectedRowPoint(HWND list, int* row, POINT* screen) {
    *row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (*row < 0) {
        return false;
    }
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(*row), reinterpret_cast<LPARAM>(&rect));
    *screen = POINT{rect.left, rect.bottom};
    ClientToScreen(list, screen);
    return true;
}

// The menu reflects the task as it is now: it is built for each showing and destroyed after it.
UINT TrackTaskMenu(HWND list, int row, POINT screen) {
    DownloadTask task;
    if (!CopyTaskAt(static_cast<size_t>(row), &task)) {
        return 0;
    }
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) {
        return 0;
    }
    const UINT retryState = CanRetryTask(task) ? MF_ENABLED : MF_GRAYED;
    AppendMenuW(menu.get(), MF_STRING | retryState, kRetryCommand, kRetryText);
    AppendMenuW(menu.get(), MF_STRING, kOpenFolderCommand, kOpenFolderText);
    const UINT cancelState = CanCancelTask(task) ? MF_ENABLED : MF_GRAYED;
    AppendMenuW(menu.get(), MF_STRING | cancelState, kCancelCommand, kCancelText);
    return static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y,
                                            0, GetParent(list), nullptr));
}

// The task may have changed while the menu was open; the retry is refused then by the table.
void RetryTaskAt(int row) {
    TaskRef ref;
    if (PrepareRetry(static_cast<size_t>(row), &ref) == RetryOutcome::Started) {
        StartTask(ref);
    }
}

}  // namespace

LRESULT OnTaskListContextMenu(HWND list, LPARAM lParam) {
    int row = -1;
    POINT screen = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (screen.x == -1 && screen.y == -1) {
        if (!SelectedRowPoint(list, &row, &screen)) {
            return 0;
        }
    } else {
        row = RowAt(list, screen);
    }
    if (row < 0) {
        return 0;
    }
    switch (TrackTaskMenu(list, row, screen)) {
        case kRetryCommand:
            RetryTaskAt(row);
            break;
        case kCancelCommand:
            // Refused by the runner when the task moved past its download meanwhile.
            CancelTask(static_cast<size_t>(row));
            break;
        case kOpenFolderCommand:
            OpenTaskDirectory(row);
            break;
        default:
            break;
    }
    return 0;
}
