// MainWindow: the frame that hosts one page at a time.
#include <windows.h>
#include <commctrl.h>

#include "app/batch_window.h"
#include "app/page_frame.h"
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

static HWND CreatePage(HWND window, int templateId, PageKind page) {
    return CreateDialogParamW(g_instance, MAKEINTRESOURCEW(templateId), window, PageProcedure(page), 0);
}

static HWND CreateDevicePage(HWND window, const PageTableEntry& entry) {
    return CreatePage(window, entry.templateId, entry.page);
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
    case SWITCH_NEW_DEVICE_PAGE: {
        const PageTableEntry* shown = g_shownDevicePage;
        g_shownDevicePage = change.entry;
        ShowDevicePage(window, shown, *change.entry, CreateDevicePage);
        break;
    }
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT frameResult = 0;
    if (PageFrameMessage(window, msg, wParam, lParam, &frameResult)) return frameResult;
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
    case WM_CLOSE:
        if (!BatchWindowLetsProgramClose()) return 0;  // a batch run holds the port: it ends first
        break;
    case WM_DESTROY:
        ClosePortAtExit();
        PostQuitMessage(0);
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
