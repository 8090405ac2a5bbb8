#include "webhost/browser_host_window.h"

#include "base/win32.h"

namespace {

bool g_webHostClassRegistered = false;

}  // namespace

bool RegisterWebHostClass() {
    if (!g_webHostClassRegistered) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kWebHostClass;
        // A class this process registered earlier counts as registered.
        g_webHostClassRegistered =
            RegisterClassExW(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }
    return g_webHostClassRegistered;
}
