// The settings strip's commands: the two directory edits, their folder browsers and the two tick
// boxes. Every change is saved to the settings file at once.
#pragma once

#include "base/win32.h"

#include <string>

// EN_CHANGE of a directory edit; ignored while the controls are being created. Only an absolute
// path is saved (see IsUsableDirectory), without trailing separators: an empty box or a "D" typed
// on the way must not make tasks write to the current drive's root or the working directory.
void OnDirectoryEditChanged(HWND window, int editId);
// EN_KILLFOCUS of a directory edit: a text that was not saved is replaced by the directory in force,
// so the box never shows a setting that does not apply.
void OnDirectoryEditLeft(HWND window, int editId);
// A browse button: asks for a folder and, when one is chosen, shows, saves and creates it.
void BrowseForDirectory(HWND window, int browseButtonId);
// A tick box was clicked: stores its state.
void OnTickBoxClicked(HWND window, int tickBoxId);

// Test seam: asks the user for a folder with `title`; true and the path when one was chosen.
using FolderPicker = bool (*)(const wchar_t* title, std::wstring* path);
void SetFolderPickerForTesting(FolderPicker picker);
