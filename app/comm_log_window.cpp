// The communication log window: a top-level window owned by MainWindow
// listing the log's lines, with "复制" and "清空". It reads the ring at
// most ten times a second, whatever the traffic; closed, it costs the
// port threads nothing but the ring.
#include <windows.h>

#include <atomic>
#include <string>

#include "app/shell.h"
#include "app/system_menu.h"
#include "app/wintext.h"
#include "resources/resource.h"
#include "serial/comm_log.h"

namespace {

const wchar_t CLASS_NAME[] = L"TavrolinCommLog";
const UINT WM_COMM_LOG_CHANGED = WM_APP + 1;
const UINT_PTR REFRESH_TIMER = 1;
const UINT REFRESH_MS = 100;

// Sizes at 96 DPI, scaled to the screen's.
const int WINDOW_WIDTH = 760, WINDOW_HEIGHT = 420;
const int MARGIN = 6, BUTTON_WIDTH = 80, BUTTON_HEIGHT = 26, FONT_POINTS = 9;

// The open window, or nullptr. Written on the UI thread, read by the log's
// notification on whichever thread appended.
std::atomic<HWND> g_logWindow{nullptr};

// The window's parts; UI thread only.
struct LogView {
    HWND list = nullptr;
    HFONT font = nullptr;
    uint64_t shownUpTo = 0;  // sequence of the last line listed
    bool refreshDue = false; // the refresh timer runs
    int widest = 0;          // pixels of the widest line, for the horizontal scroll
    int dpi = 96;
};
LogView g_view;

int Scaled(int pixels) { return MulDiv(pixels, g_view.dpi, 96); }

void AddButton(HWND window, int id, UINT text) {
    wchar_t caption[32] = L"";
    LoadStringW(g_instance, text, caption, 32);
    CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance, nullptr);
}

void Layout(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const int margin = Scaled(MARGIN), width = Scaled(BUTTON_WIDTH), height = Scaled(BUTTON_HEIGHT);
    MoveWindow(GetDlgItem(window, IDC_LOG_COPY), margin, margin, width, height, TRUE);
    MoveWindow(GetDlgItem(window, IDC_LOG_CLEAR), 2 * margin + width, margin, width, height, TRUE);
    const int top = 2 * margin + height;
    MoveWindow(g_view.list, margin, top, client.right - 2 * margin, client.bottom - top - margin, TRUE);
}

void OnCreate(HWND window) {
    HDC screen = GetDC(nullptr);
    g_view = LogView();
    g_view.dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    g_view.font = CreateFontW(-MulDiv(FONT_POINTS, g_view.dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              FIXED_PITCH | FF_MODERN, L"NSimSun");
    g_view.list = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL,
                                  0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LOG_LIST)),
                                  g_instance, nullptr);
    SendMessageW(g_view.list, WM_SETFONT, reinterpret_cast<WPARAM>(g_view.font), FALSE);
    AddButton(window, IDC_LOG_COPY, IDS_LOG_COPY);
    AddButton(window, IDC_LOG_CLEAR, IDS_LOG_CLEAR);
    Layout(window);
}

// Lists the lines appended since the last refresh, keeping at most the
// ring's number of lines, and shows the newest.
void Refresh() {
    const std::vector<CommEntry> entries = TheCommLog().EntriesAfter(g_view.shownUpTo);
    if (entries.empty()) return;
    SendMessageW(g_view.list, WM_SETREDRAW, FALSE, 0);
    HDC dc = GetDC(g_view.list);
    HGDIOBJ previous = SelectObject(dc, g_view.font);
    for (const CommEntry& entry : entries) {
        const std::wstring line = Utf8ToWide(FormatCommEntry(entry).c_str());
        SendMessageW(g_view.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        SIZE size = {};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        if (size.cx > g_view.widest) g_view.widest = size.cx;
    }
    SelectObject(dc, previous);
    ReleaseDC(g_view.list, dc);
    g_view.shownUpTo = entries.back().sequence;
    while (SendMessageW(g_view.list, LB_GETCOUNT, 0, 0) > static_cast<LRESULT>(CommLog::CAPACITY))
        SendMessageW(g_view.list, LB_DELETESTRING, 0, 0);
    SendMessageW(g_view.list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(g_view.widest + Scaled(MARGIN)), 0);
    SendMessageW(g_view.list, LB_SETTOPINDEX, SendMessageW(g_view.list, LB_GETCOUNT, 0, 0) - 1, 0);
    SendMessageW(g_view.list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_view.list, nullptr, TRUE);
}

// Every line of the log on the clipboard, as Unicode text.
void CopyAll(HWND window) {
    const std::wstring text = Utf8ToWide(CommLogText(TheCommLog().EntriesAfter(0)).c_str());
    if (!OpenClipboard(window)) return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = memory != nullptr ? GlobalLock(memory) : nullptr;
    if (target != nullptr) {
        memcpy(target, text.c_str(), bytes);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    } else if (memory != nullptr) {
        GlobalFree(memory);
    }
    CloseClipboard();
}

void OnCommand(HWND window, int id) {
    switch (id) {
    case IDC_LOG_COPY: CopyAll(window); break;
    case IDC_LOG_CLEAR:
        TheCommLog().Clear();
        SendMessageW(g_view.list, LB_RESETCONTENT, 0, 0);
        g_view.widest = 0;
        SendMessageW(g_view.list, LB_SETHORIZONTALEXTENT, 0, 0);
        break;
    }
}

LRESULT CALLBACK CommLogWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_SIZE: Layout(window); return 0;
    case WM_COMM_LOG_CHANGED:
        if (!g_view.refreshDue) g_view.refreshDue = SetTimer(window, REFRESH_TIMER, REFRESH_MS, nullptr) != 0;
        return 0;
    case WM_TIMER:
        KillTimer(window, REFRESH_TIMER);
        g_view.refreshDue = false;
        Refresh();
        return 0;
    case WM_COMMAND: OnCommand(window, LOWORD(wParam)); return 0;
    case WM_DESTROY:
        TheCommLog().SetNotify(nullptr);
        g_logWindow = nullptr;
        DeleteObject(g_view.font);
        g_view = LogView();
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

void ShowCommLogWindow(HWND owner) {
    HWND window = g_logWindow.load();
    if (window != nullptr) {
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return;
    }
    RegisterShellClass(g_instance, CLASS_NAME, CommLogWindowProc, 0, COLOR_BTNFACE);

    wchar_t title[32] = L"";
    LoadStringW(g_instance, IDS_MENU_COMM_LOG, title, 32);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    window = CreateWindowExW(0, CLASS_NAME, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             MulDiv(WINDOW_WIDTH, dpi, 96), MulDiv(WINDOW_HEIGHT, dpi, 96), owner, nullptr,
                             g_instance, nullptr);
    if (window == nullptr) return;
    g_logWindow = window;
    TheCommLog().SetNotify([] {
        HWND open = g_logWindow.load();
        if (open != nullptr) PostMessageW(open, WM_COMM_LOG_CHANGED, 0, 0);
    });
    Refresh();
    ShowWindow(window, SW_SHOWNORMAL);
}
