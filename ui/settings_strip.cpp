#include "ui/settings_strip.h"

#include "state/config.h"
#include "ui/control_ids.h"
#include "ui/ui_state.h"

#include <shlobj.h>

#include <memory>

namespace {

constexpr const wchar_t* kBrowseDownloadTitle = L"选择下载目录";
constexpr const wchar_t* kBrowseDevTitle = L"选择复制目录";

struct PidlDeleter {
    void operator()(ITEMIDLIST* items) const { CoTaskMemFree(items); }
};

bool ShellPickFolder(const wchar_t* title, std::wstring* path) {
    BROWSEINFOW info = {};
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    // The item list is freed on every path by its owner.
    std::unique_ptr<ITEMIDLIST, PidlDeleter> items(SHBrowseForFolderW(&info));
    if (!items) {
        return false;
    }
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(items.get(), buffer)) {
        return false;
    }
    *path = buffer;
    return true;
}

FolderPicker g_pickFolder = ShellPickFolder;

std::wstring ReadEditText(HWND window, int editId) {
    wchar_t buffer[kMaxDirectoryChars + 1] = {};
    GetDlgItemTextW(window, editId, buffer, static_cast<int>(kMaxDirectoryChars + 1));
    return buffer;
}

void StoreDirectory(int editId, const std::wstring& path) {
    UpdateConfig([&](AppConfig& config) {
        if (editId == IDC_DOWNLOAD_DIR) {
            config.downloadDir = path;
        } else {
            config.devDir = path;
        }
    });
}

}  // namespace

void OnDirectoryEditChanged(HWND window, int editId) {
    if (g_uiInitializing) {
        return;
    }
    const std::wstring path = TrimDirectorySeparators(ReadEditText(window, editId));
    if (IsUsableDirectory(path)) {
        StoreDirectory(editId, path);
    }
}

void OnDirectoryEditLeft(HWND window, int editId) {
    const AppConfig config = GetConfig();
    const std::wstring& inForce = editId == IDC_DOWNLOAD_DIR ? config.downloadDir : config.devDir;
    if (TrimDirectorySeparators(ReadEditText(window, editId)) != inForce) {
        SetDlgItemTextW(window, editId, inForce.c_str());
    }
}

void BrowseForDirectory(HWND window, int browseButtonId) {
    const bool download = browseButtonId == IDC_BROWSE_DOWNLOAD_DIR;
    std::wstring path;
    if (!g_pickFolder(download ? kBrowseDownloadTitle : kBrowseDevTitle, &path)) {
        return;
    }
    const int editId = download ? IDC_DOWNLOAD_DIR : IDC_DEV_DIR;
    // Setting the text raises EN_CHANGE, which stores the same path; storing it here as well keeps
    // the browse independent of the edit's notification.
    SetDlgItemTextW(window, editId, path.c_str());
    StoreDirectory(editId, path);
    // A folder that cannot be created is kept all the same: the user chose it.
    CreateDirectoryRecursive(path);
}

void OnTickBoxClicked(HWND window, int tickBoxId) {
    const bool ticked = IsDlgButtonChecked(window, tickBoxId) == BST_CHECKED;
    UpdateConfig([&](AppConfig& config) {
        if (tickBoxId == IDC_AUTO_EXTRACT) {
            config.autoExtract = ticked;
        } else {
            config.autoCopyToDev = ticked;
        }
    });
}

void SetFolderPickerForTesting(FolderPicker picker) {
    g_pickFolder = picker ? picker : ShellPickFolder;
}
