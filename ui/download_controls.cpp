#include "ui/download_controls.h"

#include "base/debug_trace.h"
#include "base/window_messages.h"
#include "state/config.h"
#include "ui/control_ids.h"
#include "ui/download_layout.h"
#include "ui/settings_strip.h"
#include "ui/task_list.h"
#include "ui/ui_state.h"
#include "ui/web_page_area.h"
#include "webhost/browser_host_window.h"
#include "webhost/browser_state.h"

#include <commctrl.h>

namespace {

constexpr const wchar_t* kDownloadDirLabel = L"下载目录:";
constexpr const wchar_t* kDevDirLabel = L"Dev目录:";
constexpr const wchar_t* kBrowseText = L"浏览...";
constexpr const wchar_t* kAutoExtractText = L"自动解压";
constexpr const wchar_t* kAutoCopyText = L"自动分类复制";
constexpr const wchar_t* kViewTasksText = L"查看任务";
constexpr const wchar_t* kClearTasksText = L"清空任务";
constexpr const wchar_t* kInstallText = L"安装WebView2";

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kTaskListStyle =
    WS_CHILD | WS_CLIPSIBLINGS | WS_VSCROLL | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
// Where the normal-mode clear button starts; the first layout moves it into the list band.
constexpr int kCreatedClearButtonRightOffset = 97;
constexpr int kCreatedClearButtonBottomOffset = 145;
constexpr UINT kRaiseFlags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW;

struct ChildControl {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int id;
    int x, y, width, height;
};

HWND CreateControl(HWND parent, const ChildControl& control) {
    return CreateWindowExW(0, control.className, control.text, control.style, control.x, control.y,
                           control.width, control.height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                           GetModuleHandleW(nullptr), nullptr);
}

// The edit is created empty and filled afterwards so that its length limit applies to the text it
// shows; the EN_CHANGE this raises is ignored because the controls are still being created.
void CreateDirectoryEdit(HWND parent, int id, int x, int width, const std::wstring& text) {
    const HWND edit =
        CreateControl(parent, {L"EDIT", L"", kChildStyle | WS_BORDER | ES_AUTOHSCROLL, id, x, 4, width, 22});
    SendMessageW(edit, EM_SETLIMITTEXT, kMaxDirectoryChars, 0);
    SetWindowTextW(edit, text.c_str());
}

void CreateTickBox(HWND parent, int id, const wchar_t* text, int x, int width, bool ticked) {
    const HWND box =
        CreateControl(parent, {L"BUTTON", text, kChildStyle | BS_AUTOCHECKBOX, id, x, 8, width, 20});
    SendMessageW(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void CreateSettingsStrip(HWND window, int clientWidth) {
    const AppConfig config = GetConfig();
    CreateControl(window, {L"STATIC", kDownloadDirLabel, kChildStyle, 0, 10, 8, 80, 20});
    CreateDirectoryEdit(window, IDC_DOWNLOAD_DIR, 95, 200, config.downloadDir);
    CreateControl(window, {L"BUTTON", kBrowseText, kChildStyle | BS_PUSHBUTTON, IDC_BROWSE_DOWNLOAD_DIR, 300,
                           4, 55, 22});
    CreateControl(window, {L"STATIC", kDevDirLabel, kChildStyle, 0, 365, 8, 60, 20});
    CreateDirectoryEdit(window, IDC_DEV_DIR, 430, 250, config.devDir);
    CreateControl(window,
                  {L"BUTTON", kBrowseText, kChildStyle | BS_PUSHBUTTON, IDC_BROWSE_DEV_DIR, 685, 4, 55, 22});
    CreateTickBox(window, IDC_AUTO_EXTRACT, kAutoExtractText, 760, 90, config.autoExtract);
    CreateTickBox(window, IDC_AUTO_COPY, kAutoCopyText, 855, 110, config.autoCopyToDev);
    if (!g_webView2Missing) {
        g_hViewTasksButton = CreateControl(
            window, {L"BUTTON", kViewTasksText, kChildStyle | BS_PUSHBUTTON, IDC_VIEW_TASKS,
                     ViewTasksButtonX(clientWidth), kViewTasksY, kViewTasksWidth, kViewTasksHeight});
    }
}

void CreateListAndButtons(HWND window, int width, int height) {
    if (g_webView2Missing) {
        g_hTaskList =
            CreateControl(window, {WC_LISTVIEWW, L"", kTaskListStyle, IDC_TASK_LIST, 0, kSettingsStripHeight,
                                   width - kButtonColumnWidth,
                                   height - kSettingsStripHeight + kDownloaderOnlyListBottomOverlap});
        g_hClearButton =
            CreateControl(window, {L"BUTTON", kClearTasksText, kChildStyle | WS_DISABLED | BS_PUSHBUTTON,
                                   IDC_CLEAR_TASKS, width - kButtonColumnInset, kDownloaderOnlyClearButtonY,
                                   kClearButtonWidth, kClearButtonHeight});
        g_hInstallButton =
            CreateControl(window, {L"BUTTON", kInstallText, kChildStyle | BS_PUSHBUTTON, IDC_INSTALL_WEBVIEW2,
                                   width - kButtonColumnInset, height - kInstallButtonBottomOffset,
                                   kInstallButtonWidth, kInstallButtonHeight});
        SetWindowPos(g_hClearButton, HWND_TOP, 0, 0, 0, 0, kRaiseFlags);
        SetWindowPos(g_hInstallButton, HWND_TOP, 0, 0, 0, 0, kRaiseFlags);
        return;
    }
    g_hTaskList = CreateControl(window, {WC_LISTVIEWW, L"", kTaskListStyle, IDC_TASK_LIST, -1,
                                         height - kTaskBandHeight, width + 2, kTaskBandHeight + 1});
    // Hidden with the list: the list band is closed until the user opens it.
    g_hClearButton = CreateControl(
        window, {L"BUTTON", kClearTasksText, WS_CHILD | WS_DISABLED | BS_PUSHBUTTON, IDC_CLEAR_TASKS,
                 width - kCreatedClearButtonRightOffset, height - kCreatedClearButtonBottomOffset,
                 kClearButtonWidth, kClearButtonHeight});
}

}  // namespace

void CreateDownloadControls(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    g_uiInitializing = true;
    CreateSettingsStrip(window, width);
    RegisterWebPageClass();
    RegisterWebHostClass();
    if (!g_webView2Missing) {
        g_hWebPage = CreateControl(window, {kWebPageClass, L"", kChildStyle | WS_CLIPSIBLINGS, IDC_WEB_PAGE,
                                            0, kSettingsStripHeight, width, height - kSettingsStripHeight});
    }
    CreateListAndButtons(window, width, height);
    SetupTaskList();
    if (g_webView2Missing) {
        ShowWindow(g_hTaskList, SW_SHOW);
        g_taskListVisible = true;
        ShowScrollBar(g_hTaskList, SB_HORZ, FALSE);
    } else {
        ShowWindow(g_hTaskList, SW_HIDE);
        g_taskListVisible = false;
    }
    g_uiInitializing = false;
    DebugTrace(L"WM_CREATE: Posting WM_USER+200 to init WebView2...");
    PostMessageW(window, WM_LAYOUT_AND_BROWSER, 0, 0);
}
