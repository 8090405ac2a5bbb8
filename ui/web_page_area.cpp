#include "ui/web_page_area.h"

#include "base/unique_handle.h"

namespace {

bool g_webPageClassRegistered = false;

void FillClient(HWND window, HDC dc) {
    RECT client = {};
    GetClientRect(window, &client);
    UniqueGdiObject brush(CreateSolidBrush(kWebPageBackground));
    if (brush) {
        FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));
    }
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint = {};
    const HDC dc = BeginPaint(window, &paint);
    if (dc) {
        FillClient(window, dc);
    }
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnEraseBackground(HWND window, WPARAM wParam) {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    if (!dc) {
        return 0;
    }
    FillClient(window, dc);
    return 1;
}

// A class this process registered earlier counts as registered.
bool RegisterOnce(const WNDCLASSEXW& windowClass) {
    if (RegisterClassExW(&windowClass)) {
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

LRESULT CALLBACK WebPageWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            return OnPaint(window);
        case WM_ERASEBKGND:
            return OnEraseBackground(window, wParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterWebPageClass() {
    if (!g_webPageClassRegistered) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WebPageWndProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
        windowClass.lpszClassName = kWebPageClass;
        g_webPageClassRegistered = RegisterOnce(windowClass);
    }
    return g_webPageClassRegistered;
}
