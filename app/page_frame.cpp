#include "app/page_frame.h"

#include <commctrl.h>

#include <climits>

#include "app/display_scale.h"
#include "app/window_dpi.h"

namespace {

// Posted to MainWindow: fit the frame again, once the pages have followed
// a change of DPI, work area or displays.
const UINT WM_FRAME_REFIT = WM_APP + 0x40;
// Posted to MainWindow by the focus hook: bring the focused control into view.
const UINT WM_FRAME_SHOW_FOCUS = WM_APP + 0x41;

const UINT_PTR WHEEL_SUBCLASS_ID = 1;

// UI thread only, like MainWindow.
struct FrameState {
    HWND window = nullptr;                  // MainWindow
    const PageTableEntry* entry = nullptr;  // the device page's row; nullptr: no device page
    HWND page = nullptr;                    // that page
    int scrollPos = 0;                      // the page row at the client area's top
    int wheelCarry = 0;                     // a part of a wheel notch not scrolled yet
    bool scrolls = false;                   // the scroll bar is shown
    bool syncing = false;                   // SyncScroll runs (its scroll bar resizes the client)
    HMONITOR monitor = nullptr;             // the monitor the frame was fitted on
    HHOOK focusHook = nullptr;
};
FrameState g_frame;

int Height(const RECT& r) { return r.bottom - r.top; }

RECT WindowRectOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

int ClientHeight(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return client.bottom;
}

// Rows of caption and frame; a minimised window has no client area to
// measure, so the system computes them.
int NonClientHeight(HWND window) {
    if (!IsIconic(window)) return Height(WindowRectOf(window)) - ClientHeight(window);
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    return Height(frame);
}

// The height of the window in its normal (restored) placement.
int RestoredHeight(HWND window) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    return Height(placement.rcNormalPosition);
}

// The client rows the device page needs at the window's DPI: at 96 DPI
// the page table's height, elsewhere the page's own.
int ContentHeight(HWND window) {
    if (g_frame.entry == nullptr) return 0;
    if (WindowDpi(window) == BASE_DPI) return START_HEIGHT + g_frame.entry->heightAdded - NonClientHeight(window);
    return IsWindow(g_frame.page) ? Height(WindowRectOf(g_frame.page)) : 0;
}

int FrameWidth(int dpi, bool scrolls) {
    return ScaleToDpi(START_WIDTH, dpi) + (scrolls ? SystemMetricForDpi(SM_CXVSCROLL, dpi) : 0);
}

// Gives MainWindow height rows (unless the work area holds fewer), its top
// moved up by topMovedUp and kept in its monitor's work area. A minimised
// or maximised window changes its restored placement, whose coordinates
// are relative to the work area; a minimised one stays minimised without
// being activated.
void FitFrame(HWND window, int height, int topMovedUp, UINT flags) {
    const int dpi = WindowDpi(window);
    const int minHeight = ScaleToDpi(DEVICE_PAGE_MIN_HEIGHT, dpi);
    g_frame.monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(g_frame.monitor, &monitor);
    const RECT& work = monitor.rcWork;

    if (IsIconic(window) || IsZoomed(window)) {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        GetWindowPlacement(window, &placement);
        RECT& normal = placement.rcNormalPosition;
        const FrameFit fit = FitFrameToWorkArea(normal.top - topMovedUp, height, 0, Height(work), minHeight);
        normal.top = fit.top;
        normal.bottom = fit.top + fit.height;
        normal.right = normal.left + FrameWidth(dpi, fit.scrolls);
        if (IsIconic(window)) placement.showCmd = SW_SHOWMINNOACTIVE;
        SetWindowPlacement(window, &placement);
        return;
    }
    const RECT rect = WindowRectOf(window);
    const FrameFit fit = FitFrameToWorkArea(rect.top - topMovedUp, height, work.top, work.bottom, minHeight);
    SetWindowPos(window, nullptr, rect.left, fit.top, FrameWidth(dpi, fit.scrolls), fit.height, flags);
}

// Every page at the scroll position (a page MainWindow adds beside the
// device page follows it too).
void PlacePages(HWND window) {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r = WindowRectOf(child);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        if (r.top != -g_frame.scrollPos)
            SetWindowPos(child, nullptr, r.left, -g_frame.scrollPos, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The scroll bar and the pages' place for the client area the window has
// now: a bar while the page is taller than the client area, none (and
// nothing touched) while it fits.
void SyncScroll(HWND window) {
    if (g_frame.syncing || IsIconic(window)) return;
    const int content = ContentHeight(window);
    const int view = ClientHeight(window);
    const bool scrolls = content > view;
    if (!scrolls && !g_frame.scrolls) return;
    g_frame.syncing = true;
    g_frame.scrolls = scrolls;
    g_frame.scrollPos = scrolls ? ClampScroll(g_frame.scrollPos, view, content) : 0;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMax = scrolls ? content - 1 : 0;
    info.nPage = scrolls ? static_cast<UINT>(view) : 0;
    info.nPos = g_frame.scrollPos;
    SetScrollInfo(window, SB_VERT, &info, TRUE);  // shows or hides the bar
    PlacePages(window);
    g_frame.syncing = false;
}

void ScrollTo(HWND window, int pos) {
    pos = ClampScroll(pos, ClientHeight(window), ContentHeight(window));
    if (pos == g_frame.scrollPos) return;
    g_frame.scrollPos = pos;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_POS;
    info.nPos = pos;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
    PlacePages(window);
}

// A line of the page's text: 8 dialog units of its font.
int LineHeight() {
    RECT line = {0, 0, 0, 8};
    if (IsWindow(g_frame.page)) MapDialogRect(g_frame.page, &line);
    return line.bottom > 0 ? line.bottom : 8;
}

void OnVScroll(HWND window, int code, int thumb) {
    const int line = LineHeight();
    const int view = ClientHeight(window);
    const int page = view > 2 * line ? view - line : line;  // a view, less a line kept in sight
    int pos = g_frame.scrollPos;
    switch (code) {
    case SB_LINEUP: pos -= line; break;
    case SB_LINEDOWN: pos += line; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = ContentHeight(window); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = thumb; break;  // a page is far lower than 65536 rows
    default: return;
    }
    ScrollTo(window, pos);
}

bool OnWheel(HWND window, WPARAM wParam) {
    if (!g_frame.scrolls) return false;
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    const int rows = WheelRows(GET_WHEEL_DELTA_WPARAM(wParam), lines == WHEEL_PAGESCROLL ? -1 : static_cast<int>(lines),
                               LineHeight(), ClientHeight(window), &g_frame.wheelCarry);
    ScrollTo(window, g_frame.scrollPos + rows);
    return true;
}

// The control with the focus, on its page (the field of an address
// control or the edit of a combo box stands for its control), shown whole
// where the page scrolls.
void ShowFocus(HWND window) {
    HWND control = GetFocus();
    if (!g_frame.scrolls || !IsChild(window, control) || GetParent(control) == window) return;
    while (GetParent(GetParent(control)) != window) control = GetParent(control);
    RECT r = WindowRectOf(control);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    const int pos = g_frame.scrollPos;
    ScrollTo(window, ScrollToShow(pos, ClientHeight(window), ContentHeight(window), r.top + pos, r.bottom + pos));
}

// Focus moves by a click, by the program or by the system; the view
// follows once it has moved.
LRESULT CALLBACK FocusHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_SETFOCUS && g_frame.scrolls && IsChild(g_frame.window, reinterpret_cast<HWND>(wParam)))
        PostMessageW(g_frame.window, WM_FRAME_SHOW_FOCUS, 0, 0);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool IsComboBox(HWND control) {
    wchar_t name[16] = L"";
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, L"ComboBox") == 0;
}

// While the page scrolls, the wheel over any of its controls scrolls it:
// the controls that would take the wheel for themselves give it to
// MainWindow, a closed combo box (its edit included) above all, which
// would otherwise change its value unseen. An open list keeps its wheel.
LRESULT CALLBACK WheelToPageProc(HWND control, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_MOUSEWHEEL && g_frame.scrolls) {
        HWND combo = IsComboBox(control) ? control : IsComboBox(GetParent(control)) ? GetParent(control) : nullptr;
        if (combo == nullptr || !SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0))
            return SendMessageW(g_frame.window, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(control, WheelToPageProc, id);
    return DefSubclassProc(control, msg, wParam, lParam);
}

BOOL CALLBACK GiveWheelToPage(HWND control, LPARAM) {
    SetWindowSubclass(control, WheelToPageProc, WHEEL_SUBCLASS_ID, 0);
    return TRUE;
}

// The frame for the page's height at the window's DPI now, on the work
// area the window is on now; the top moves up half the height added.
void FitFrameToPage(HWND window, UINT flags) {
    const int current = RestoredHeight(window);
    const PageGrowth growth = GrowthForPageHeight(ContentHeight(window), NonClientHeight(window), current);
    FitFrame(window, current + growth.heightAdded, growth.topMovedUp, flags);
}

void Refit(HWND window) {
    if (g_frame.entry == nullptr) return;
    FitFrameToPage(window, SWP_NOZORDER | SWP_NOACTIVATE);
    SyncScroll(window);
}

// Moved to a monitor of another scale: the suggested rectangle keeps the
// window's size in proportion and the page scales itself with its dialog;
// the frame is fitted again once it has.
void OnDpiChanged(HWND window, const RECT* suggested) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageW(window, WM_FRAME_REFIT, 0, 0);
}

}  // namespace

void ShowDevicePage(HWND window, const PageTableEntry* shown, const PageTableEntry& next, CreatePageFn create) {
    g_frame.window = window;
    g_frame.entry = nullptr;  // no page to scroll until the new one is there
    g_frame.page = nullptr;
    g_frame.scrollPos = 0;
    g_frame.wheelCarry = 0;
    const int dpi = WindowDpi(window);
    const UINT flags = SWP_NOZORDER | SWP_FRAMECHANGED;
    if (dpi == BASE_DPI) {
        g_frame.entry = &next;
        FitFrame(window, START_HEIGHT + next.heightAdded, ChangeForPage(shown, next, dpi).topMovedUp, flags);
        g_frame.page = create(window, next);
    } else {
        g_frame.page = create(window, next);
        g_frame.entry = &next;
        FitFrameToPage(window, flags);
    }
    EnumChildWindows(g_frame.page, GiveWheelToPage, 0);
    if (g_frame.focusHook == nullptr)
        g_frame.focusHook = SetWindowsHookExW(WH_CBT, FocusHook, nullptr, GetCurrentThreadId());
    SyncScroll(window);
}

bool PageFrameMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    switch (msg) {
    case WM_SIZE:
        SyncScroll(window);
        return true;
    case WM_VSCROLL:
        OnVScroll(window, LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_MOUSEWHEEL:
        return OnWheel(window, wParam);
    case WM_DPICHANGED:
        OnDpiChanged(window, reinterpret_cast<const RECT*>(lParam));
        return true;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETWORKAREA) PostMessageW(window, WM_FRAME_REFIT, 0, 0);
        return false;
    case WM_DISPLAYCHANGE:
        PostMessageW(window, WM_FRAME_REFIT, 0, 0);
        return false;
    case WM_EXITSIZEMOVE:  // moved by the user, perhaps onto another monitor
        if (MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) != g_frame.monitor) PostMessageW(window, WM_FRAME_REFIT, 0, 0);
        return false;
    case WM_FRAME_REFIT:
        Refit(window);
        return true;
    case WM_FRAME_SHOW_FOCUS:
        ShowFocus(window);
        return true;
    }
    return false;
}
