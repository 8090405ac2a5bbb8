// A download window in the test process: settings in a scratch directory, the browser runtime
// reported present or absent, and the window torn down after each test.
#pragma once

#include "base/win32.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <string>

class DownloadWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates and shows the window in normal mode (runtime present) or downloader-only mode, and
    // runs the messages its creation posts.
    HWND OpenWindow(bool runtimeInstalled);
    // Resizes the window so that its client area is width x height, and runs the messages.
    void SetClientSize(int width, int height);
    SIZE ClientSize() const;
    HWND Child(int id) const { return GetDlgItem(window_, id); }
    // Sends WM_COMMAND as a click of the button `id` (or a notification `code` of it).
    void Command(int id, UINT code = BN_CLICKED);

    std::wstring ConfigPath() const { return dir_ / L"TarnDown.ini"; }
    std::wstring DownloadDir() const { return dir_ / L"downloads"; }
    std::wstring DevDir() const { return dir_ / L"dev"; }

    TempDir dir_{L"ui"};
    HWND window_ = nullptr;
};

// Expects the child's rectangle in its parent's client coordinates.
#define EXPECT_CHILD_AT(child, x, y, width, height)                                                       \
    do {                                                                                                  \
        const RECT actual_ = ChildRect(child);                                                            \
        EXPECT_EQ(actual_.left, (x)) << "left of control " << GetDlgCtrlID(child);                        \
        EXPECT_EQ(actual_.top, (y)) << "top of control " << GetDlgCtrlID(child);                          \
        EXPECT_EQ(actual_.right - actual_.left, (width)) << "width of control " << GetDlgCtrlID(child);   \
        EXPECT_EQ(actual_.bottom - actual_.top, (height)) << "height of control " << GetDlgCtrlID(child); \
    } while (false)
