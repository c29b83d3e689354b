// Program entry: registers MainWindow's class, creates and centres the
// window at its start size (582 x 190 at 96 DPI, scaled with the window's
// DPI), and runs the message loop.
#include <windows.h>

#include "app/batch_window.h"
#include "app/display_scale.h"
#include "app/page_host.h"
#include "app/shell.h"
#include "app/window_dpi.h"
#include "resources/resource.h"

LRESULT CALLBACK MainWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

static const int TEXT_BUFFER = 100;

void RegisterShellClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, UINT style, int background) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_LARGE));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_SMALL));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    wchar_t title[TEXT_BUFFER] = L"";
    wchar_t className[TEXT_BUFFER] = L"";
    LoadStringW(instance, IDS_APP_TITLE, title, TEXT_BUFFER);
    LoadStringW(instance, IDS_WINDOW_CLASS, className, TEXT_BUFFER);

    RegisterShellClass(instance, className, MainWindowProc, CS_HREDRAW | CS_VREDRAW, COLOR_WINDOW);

    g_instance = instance;
    HWND window = CreateWindowExW(0, className, title, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                                  550, 180, START_WIDTH, START_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;

    const int dpi = WindowDpi(window);
    const int width = ScaleToDpi(START_WIDTH, dpi);
    const int height = ScaleToDpi(START_HEIGHT, dpi);
    SetWindowPos(window, HWND_NOTOPMOST, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_SHOWWINDOW);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (BatchWindowMessage(&message)) continue;  // its keyboard; the pages have none
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
