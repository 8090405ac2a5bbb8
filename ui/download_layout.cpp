#include "ui/download_layout.h"

#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "webhost/browser_layout.h"
#include "webhost/browser_state.h"

#include "base/debug_trace.h"
#include "tasks/task_table.h"

#include <algorithm>

namespace {

constexpr UINT kPlaceFlags = SWP_NOZORDER | SWP_NOACTIVATE;
constexpr UINT kPlaceOnTopFlags = SWP_NOACTIVATE | SWP_SHOWWINDOW;

bool Exists(HWND control) {
    return control && IsWindow(control);
}

struct ClientArea {
    int cx;
    int cy;
};

ClientArea ClientSize(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return ClientArea{static_cast<int>(client.right - client.left),
                      static_cast<int>(client.bottom - client.top)};
}

void Place(HWND control, int x, int y, int width, int height) {
    if (Exists(control)) {
        SetWindowPos(control, nullptr, x, y, width, height, kPlaceFlags);
    }
}

// Above its siblings, so the list band covers the page area it overlaps.
void PlaceOnTop(HWND control, int x, int y, int width, int height) {
    if (Exists(control)) {
        SetWindowPos(control, HWND_TOP, x, y, width, height, kPlaceOnTopFlags);
    }
}

void Hide(HWND control) {
    if (Exists(control)) {
        ShowWindow(control, SW_HIDE);
    }
}

void Repaint(HWND control) {
    if (Exists(control)) {
        InvalidateRect(control, nullptr, TRUE);
    }
}

void FitColumns() {
    if (Exists(g_hTaskList)) {
        FitTaskListColumns(g_hTaskList);
    }
}

void HideListScrollBar() {
    if (Exists(g_hTaskList)) {
        ShowScrollBar(g_hTaskList, SB_HORZ, FALSE);
    }
}

// The normal-mode list band: list across the bottom, clear button in the column right of it.
void PlaceTaskBand(ClientArea client) {
    PlaceOnTop(g_hTaskList, 0, client.cy - kTaskBandHeight, client.cx - kButtonColumnWidth,
               kTaskBandHeight + 1);
    FitColumns();
    PlaceOnTop(g_hClearButton, client.cx - kButtonColumnInset, client.cy - kBandClearButtonBottomOffset,
               kClearButtonWidth, kClearButtonHeight);
    UpdateClearButtonState();
    Repaint(g_hClearButton);
}

void PlaceDownloaderOnlyButtons(ClientArea client) {
    Place(g_hClearButton, client.cx - kButtonColumnInset, kDownloaderOnlyClearButtonY, kClearButtonWidth,
          kClearButtonHeight);
    UpdateClearButtonState();
    Repaint(g_hClearButton);
    Place(g_hInstallButton, client.cx - kButtonColumnInset, client.cy - kInstallButtonBottomOffset,
          kInstallButtonWidth, kInstallButtonHeight);
}

void LayoutDownloaderOnlyOnSize(ClientArea client) {
    Hide(g_hWebPage);
    HideWebBrowserHost();
    Hide(g_hViewTasksButton);
    HideListScrollBar();
    Place(g_hTaskList, 0, kSettingsStripHeight, client.cx - kButtonColumnWidth,
          std::max(client.cy - kSettingsStripHeight, kMinPageHeight) + kDownloaderOnlyListBottomOverlap);
    FitColumns();
    PlaceDownloaderOnlyButtons(client);
}

void LayoutNormalOnSize(ClientArea client) {
    Place(g_hViewTasksButton, ViewTasksButtonX(client.cx), kViewTasksY, kViewTasksWidth, kViewTasksHeight);
    Repaint(g_hViewTasksButton);
    Hide(g_hInstallButton);
    Place(g_hWebPage, 0, kSettingsStripHeight, client.cx, client.cy - kSettingsStripHeight);
    if (g_taskListVisible) {
        PlaceTaskBand(client);
    }
    int browserHeight = client.cy - kSettingsStripHeight - (g_taskListVisible ? kTaskBandHeight : 0);
    if (FitWebBrowserOnSize(client.cx, std::max(browserHeight, kMinPageHeight))) {
        RaiseTaskBand();
    }
}

void RaiseOnTop(HWND control) {
    if (Exists(control)) {
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }
}

}  // namespace

int ViewTasksButtonX(int clientWidth) {
    return clientWidth > kViewTasksWideThreshold ? clientWidth - kViewTasksRightInset : kViewTasksNarrowX;
}

void LayoutOnSize(HWND window) {
    const ClientArea client = ClientSize(window);
    if (g_webView2Missing) {
        LayoutDownloaderOnlyOnSize(client);
    } else {
        LayoutNormalOnSize(client);
    }
}

void ShowTaskListBand(HWND window, bool visible) {
    const ClientArea client = ClientSize(window);
    if (visible) {
        Place(g_hWebPage, 0, kSettingsStripHeight, client.cx,
              client.cy - kSettingsStripHeight - kTaskBandHeight);
        PlaceTaskBand(client);
        DebugTrace(L"Task list shown at y=%d, size=%dx%d", client.cy - kTaskBandHeight,
                   client.cx - kButtonColumnWidth, kTaskBandHeight + 1);
    } else {
        Hide(g_hTaskList);
        Hide(g_hClearButton);
        Place(g_hWebPage, 0, kSettingsStripHeight, client.cx, client.cy - kSettingsStripHeight);
    }
}

void LayoutPageAreaAndList(HWND window) {
    const ClientArea client = ClientSize(window);
    if (Exists(g_hWebPage)) {
        const int band = g_taskListVisible ? kTaskBandHeight : 0;
        Place(g_hWebPage, 0, kSettingsStripHeight, client.cx,
              std::max(client.cy - kSettingsStripHeight - band, kMinPageHeight));
        UpdateWindow(g_hWebPage);
    }
    if (g_webView2Missing) {
        Place(g_hTaskList, 0, kSettingsStripHeight, client.cx - kButtonColumnWidth,
              std::max(client.cy - kSettingsStripHeight + kDownloaderOnlyListBottomOverlap,
                       kMinDownloaderOnlyListHeight));
        FitColumns();
        PlaceDownloaderOnlyButtons(client);
    } else if (g_taskListVisible) {
        PlaceTaskBand(client);
    } else {
        Hide(g_hTaskList);
        Hide(g_hClearButton);
    }
}

void LayoutForMissingRuntime(HWND window) {
    Hide(g_hWebPage);
    HideWebBrowserHost();
    Hide(g_hViewTasksButton);
    if (Exists(g_hTaskList)) {
        ShowWindow(g_hTaskList, SW_SHOW);
        const ClientArea client = ClientSize(window);
        const int listWidth = client.cx - kButtonColumnWidth;
        const int listHeight = std::max(client.cy - kSettingsStripHeight, kMinPageHeight);
        SetWindowPos(g_hTaskList, nullptr, 0, kSettingsStripHeight, listWidth, listHeight + 1,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        HideListScrollBar();
        FitColumns();
        Place(g_hClearButton, listWidth + 8, kDownloaderOnlyClearButtonY, kClearButtonWidth,
              kClearButtonHeight);
        UpdateClearButtonState();
        Repaint(g_hClearButton);
        Place(g_hInstallButton, listWidth + 8, listHeight - 10, kInstallButtonWidth, kInstallButtonHeight);
    }
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

void RaiseTaskBand() {
    if (!g_taskListVisible) {
        return;
    }
    RaiseOnTop(g_hTaskList);
    RaiseOnTop(g_hClearButton);
    UpdateClearButtonState();
    Repaint(g_hClearButton);
}

int ClientWidth(HWND window) {
    return ClientSize(window).cx;
}

int BrowserHeight(HWND window) {
    const int band = g_taskListVisible && Exists(g_hTaskList) ? kTaskBandHeight : 0;
    return std::max(ClientSize(window).cy - kSettingsStripHeight - band, kMinPageHeight);
}

// Takes g_taskMutex (through TaskCount) only to read the table's size; no message is sent under it.
void UpdateClearButtonState() {
    if (Exists(g_hClearButton)) {
        EnableWindow(g_hClearButton, TaskCount() > 0 ? TRUE : FALSE);
    }
}
