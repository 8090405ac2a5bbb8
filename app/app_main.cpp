#include "app/app_main.h"

#include "api/http_server.h"
#include "app/app_messages.h"
#include "app/app_state.h"
#include "app/config.h"
#include "app/debug_trace.h"
#include "app/tray_window.h"
#include "app/unique_handle.h"
#include "ui/download_window.h"
#include "webhost/browser_teardown.h"

#include <commctrl.h>
#include <objbase.h>

#include <thread>

namespace {

constexpr const wchar_t* kTrayWindowTitle = L"下载助手";

std::thread g_serverThread;

void LoadAppIcon(HINSTANCE instance) {
    g_hAppIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kAppIconResourceId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

void InitControlClasses() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES;
    InitCommonControlsEx(&controls);
}

// A second start must not flash a window of its own: it asks the running instance (found by its
// tray window) to bring its download window forward, and lets it take the foreground.
void ActivateRunningInstance() {
    const HWND trayWindow = FindWindowW(kTrayWindowClass, nullptr);
    if (!trayWindow) {
        return;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(trayWindow, &processId);
    if (processId != 0) {
        AllowSetForegroundWindow(processId);
    }
    PostMessageW(trayWindow, WM_SHOW_DOWNLOAD_WINDOW, 0, 0);
}

void CreateTrayWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = TrayWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = g_hAppIcon;
    windowClass.hIconSm = g_hAppIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassExW(&windowClass);
    g_hTrayWnd = CreateWindowExW(0, kTrayWindowClass, kTrayWindowTitle, 0, 0, 0, 1, 1, nullptr, nullptr,
                                 instance, nullptr);
}

// The server thread's entry: no exception may leave a thread.
void ServerThreadMain() {
    try {
        RunHttpServer();
    } catch (...) {
        DebugTrace(L"RunHttpServer ended with an exception");
    }
}

void RunMessageLoop() {
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_QUIT) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Shutdown() {
    g_serverRunning.exchange(false);
    DestroyWebBrowserControl();
    const HWND downloadWindow = g_hDownloadWnd.load();
    if (downloadWindow && IsWindow(downloadWindow)) {
        DestroyWindow(downloadWindow);
        g_hDownloadWnd.store(nullptr);
    }
    if (g_serverThread.joinable()) {
        g_serverThread.join();
    }
}

}  // namespace

LONG WINAPI CrashExceptionFilter(EXCEPTION_POINTERS* exceptionInfo) {
    const EXCEPTION_RECORD* record = exceptionInfo ? exceptionInfo->ExceptionRecord : nullptr;
    if (record) {
        DebugTrace(L"Unhandled exception 0x%08lX at %p", record->ExceptionCode, record->ExceptionAddress);
        if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
            const ULONG_PTR kind = record->ExceptionInformation[0];
            const wchar_t* kindText = kind == 0 ? L"Reading" : (kind == 1 ? L"Writing" : L"Executing");
            DebugTrace(L"Access violation: %s address %p", kindText,
                       reinterpret_cast<void*>(record->ExceptionInformation[1]));
        }
    }
    if (exceptionInfo && exceptionInfo->ContextRecord) {
        DebugTrace(L"Context flags 0x%08lX", exceptionInfo->ContextRecord->ContextFlags);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunApplication(HINSTANCE instance) {
    SetUnhandledExceptionFilter(CrashExceptionFilter);
    LoadAppIcon(instance);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    InitControlClasses();
    LoadConfig();
    DebugTrace(L"WinMain started, g_exeDir=%s", g_exeDir.c_str());

    UniqueHandle instanceMutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName));
    const DWORD mutexError = GetLastError();
    if (instanceMutex && mutexError == ERROR_ALREADY_EXISTS) {
        ActivateRunningInstance();
        CoUninitialize();
        return 0;
    }

    CreateTrayWindow(instance);
    g_serverThread = std::thread(ServerThreadMain);
    ShowDownloadWindow();

    RunMessageLoop();

    Shutdown();
    instanceMutex.reset();
    CoUninitialize();
    return 0;
}
