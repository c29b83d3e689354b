// MainWindow: the frame that hosts one page at a time.
#include <windows.h>
#include <commctrl.h>

#include "app/display_scale.h"
#include "app/page_host.h"
#include "app/port_events.h"
#include "app/reply_handling.h"
#include "app/shell.h"
#include "app/system_menu.h"
#include "app/window_dpi.h"
#include "pages/pages.h"
#include "resources/resource.h"
#include "serial/receive_path.h"

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;
std::atomic<HWND> g_currentPage{nullptr};
bool g_replacingPages = false;

// The page table's row of the device page MainWindow hosts, nullptr while
// it hosts none (start-up size). UI thread only.
static const PageTableEntry* g_shownDevicePage = nullptr;

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

// Destroys every page MainWindow hosts (its child windows) without ending
// the program, then forgets the current page unless one recorded itself
// meanwhile.
static void DestroyPages(HWND window) {
    HWND current = g_currentPage.load();
    g_replacingPages = true;
    while (HWND child = GetWindow(window, GW_CHILD)) DestroyWindow(child);
    g_replacingPages = false;
    g_currentPage.compare_exchange_strong(current, nullptr);
}

static void OnCreate(HWND window) {
    g_mainWindow = window;
    // The IP address controls need their class registered by name (with visual styles too).
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    StartPortEvents(window);
    StartReceivePath(HandleFrame);
    SetPropW(window, L"Tavrolin__20220905_KW", reinterpret_cast<HANDLE>(1));
    AddSystemMenuItems(window);
    CreatePage(window, IDD_PORT_SELECT, PAGE_PORT_SELECT);
}

// Resizes MainWindow for a device page, keeping it about centred and
// inside its monitor's work area. A minimised or maximised window changes
// its restored placement (whose coordinates are relative to the work
// area); a minimised one stays minimised without being activated.
static void GrowForPage(HWND window, const WindowChange& change) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;

    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    if (IsIconic(window) || IsZoomed(window)) {
        RECT& normal = placement.rcNormalPosition;
        const int height = normal.bottom - normal.top + change.heightAdded;
        normal.top = KeepTopInWorkArea(normal.top - change.topMovedUp, height, 0, work.bottom - work.top);
        normal.bottom = normal.top + height;
        if (IsIconic(window)) placement.showCmd = SW_SHOWMINNOACTIVE;
        SetWindowPlacement(window, &placement);
        return;
    }
    RECT rect;
    GetWindowRect(window, &rect);
    const int height = rect.bottom - rect.top + change.heightAdded;
    const int top = KeepTopInWorkArea(rect.top - change.topMovedUp, height, work.top, work.bottom);
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
    const int32_t shownType = g_shownDevicePage != nullptr ? g_shownDevicePage->deviceType : 0;
    const int dpi = WindowDpi(window);
    const PageSwitch change = ChoosePageSwitch(restoredHeight, shownType, portIndexAndType[1], dpi);

    if (change.destroyCurrent) DestroyPages(window);
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
        GrowForPage(window, ChangeForPage(g_shownDevicePage, *change.entry, dpi));
        g_shownDevicePage = change.entry;
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
        ClosePortAtExit();
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(window, reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DEVICE_INFO:
        OnDeviceInfo(window, reinterpret_cast<const int32_t*>(lParam));
        return 0;
    case WM_PORT_LOST:
        OnPortLost();
        return 0;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        return TRUE;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(wParam);
        return TRUE;
    case WM_INITMENUPOPUP:
        if (HIWORD(lParam)) UpdateSystemMenuItems(window);  // the window menu
        break;
    case WM_SYSCOMMAND:
        if (OnSystemMenuCommand(window, static_cast<UINT>(wParam & 0xFFF0))) return 0;
        break;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}
