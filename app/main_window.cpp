// MainWindow: the frame that hosts one page at a time.
#include <windows.h>
#include <commctrl.h>

#include "app/display_scale.h"
#include "app/page_host.h"
#include "app/reply_handling.h"
#include "app/shell.h"
#include "app/window_dpi.h"
#include "pages/pages.h"
#include "resources/resource.h"
#include "serial/receive_path.h"

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;
std::atomic<HWND> g_currentPage{nullptr};

LRESULT CALLBACK MainWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

static DLGPROC PageProcedure(PageKind page) {
    switch (page) {
    case PAGE_PORT_SELECT: return PortSelectPageProc;
    case PAGE_BASIC_READER: return BasicReaderPageProc;
    case PAGE_DUAL_ANTENNA: return DualAntennaPageProc;
    case PAGE_SINGLE_ANTENNA: return SingleAntennaPageProc;
    case PAGE_WIFI_READER: return WifiReaderPageProc;
    }
    return PortSelectPageProc;
}

static void CreatePage(HWND window, int templateId, PageKind page) {
    CreateDialogParamW(g_instance, MAKEINTRESOURCEW(templateId), window, PageProcedure(page), 0);
}

static void OnCreate(HWND window) {
    g_mainWindow = window;
    // With visual styles the IP address controls need their class registered by name.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    StartReceivePath(HandleFrame);
    SetPropW(window, L"Tavrolin__20220905_KW", reinterpret_cast<HANDLE>(1));
    CreatePage(window, IDD_PORT_SELECT, PAGE_PORT_SELECT);
}

// Grows MainWindow for a device page, keeping it about centred and inside
// its monitor's work area. A minimised or maximised window grows in its
// restored placement (whose coordinates are relative to the work area).
static void GrowForPage(HWND window, const PageTableEntry& entry) {
    const PageGrowth growth = ScaledGrowth(entry, WindowDpi(window));
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;

    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    if (IsIconic(window) || IsZoomed(window)) {
        RECT& normal = placement.rcNormalPosition;
        const int height = normal.bottom - normal.top + growth.heightAdded;
        normal.top = KeepTopInWorkArea(normal.top - growth.topMovedUp, height, 0, work.bottom - work.top);
        normal.bottom = normal.top + height;
        SetWindowPlacement(window, &placement);
        return;
    }
    RECT rect;
    GetWindowRect(window, &rect);
    const int height = rect.bottom - rect.top + growth.heightAdded;
    const int top = KeepTopInWorkArea(rect.top - growth.topMovedUp, height, work.top, work.bottom);
    SetWindowPos(window, nullptr, rect.left, top, rect.right - rect.left, height, SWP_NOZORDER | SWP_FRAMECHANGED);
}

// Moved to a monitor of another scale: the suggested rectangle keeps the
// window's size in proportion; the page scales itself with its dialog.
static void OnDpiChanged(HWND window, const RECT* suggested) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

static void OnDeviceInfo(HWND window, const int32_t* portIndexAndType) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    const int restoredHeight = placement.rcNormalPosition.bottom - placement.rcNormalPosition.top;
    const PageSwitch change = ChoosePageSwitch(restoredHeight, portIndexAndType[1], WindowDpi(window));

    if (change.destroyCurrent) {
        HWND current = g_currentPage.load();
        if (current != nullptr) DestroyWindow(current);
        // Forget it unless a page recorded itself meanwhile.
        g_currentPage.compare_exchange_strong(current, nullptr);
    }
    switch (change.step) {
    case SWITCH_NOTHING:
        break;
    case SWITCH_REINIT_CURRENT:
        SendMessageW(g_currentPage.load(), WM_INITDIALOG, 0, 0);
        break;
    case SWITCH_NEW_PORT_SELECT:
        CreatePage(window, IDD_PORT_SELECT, PAGE_PORT_SELECT);
        break;
    case SWITCH_NEW_DEVICE_PAGE:
        GrowForPage(window, *change.entry);
        CreatePage(window, change.entry->templateId, change.entry->page);
        break;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(window, reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DEVICE_INFO:
        OnDeviceInfo(window, reinterpret_cast<const int32_t*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}
