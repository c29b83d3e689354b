// PortSelectPage: pick a serial port and identify the reader on it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/reply_handling.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "forms/reply_countdown.h"
#include "pages/pages.h"
#include "pages/port_list.h"
#include "resources/resource.h"
#include "serial/comm_log.h"
#include "serial/serial_link.h"

// Page state, process-wide; used on the UI thread only.
static int32_t g_portSelectPortOpen = 0;   // the port button has opened the port
static HWND g_portSelectPortList = nullptr;   // 1001 of the page, taken at WM_INITDIALOG

static const UINT_PTR REPLY_TIMER = 1;
static const UINT REPLY_TIMER_MS = 1000;
// The port list's text is read with a 10-character buffer.
static const size_t PORT_NAME_LIMIT = 9;

static void InitPortSelectPage(HWND page) {
    g_currentPage.store(page);
    // A new page shows "打开串口": its first press must open, even when an
    // information reply closed the port under an earlier page.
    g_portSelectPortOpen = 0;

    g_portSelectPortList = GetDlgItem(page, IDC_PORT_LIST);
    FillPortList(g_portSelectPortList);
    SendMessageW(g_portSelectPortList, CB_SETCURSEL, 0, 0);
}

static void OpenChosenPort(HWND page) {
    const std::string path = "\\\\.\\" + GetWindowTextGbk(g_portSelectPortList, PORT_NAME_LIMIT);
    if (!OpenPort(path.c_str())) {
        ShowInfoMessage(page, "打开串口失败", nullptr);
        return;
    }
    g_portSelectPortOpen = 1;
    g_replyCountdown.store(3);
    SendQueryInfo();
    SetTimer(page, REPLY_TIMER, REPLY_TIMER_MS, nullptr);
    SetItemTextUtf8(page, IDC_PORT_BUTTON, "关闭串口");
    EnableWindow(g_portSelectPortList, FALSE);
}

static void CloseChosenPort(HWND page) {
    ClosePort();
    g_portSelectPortOpen = 0;
    KillTimer(page, REPLY_TIMER);
    SetItemTextUtf8(page, IDC_PORT_BUTTON, "打开串口");
    EnableWindow(g_portSelectPortList, TRUE);
}

static void OnPortButton(HWND page) {
    if (g_portSelectPortOpen) {
        CloseChosenPort(page);
    } else {
        OpenChosenPort(page);
    }
}

static void OnReplyTimer(HWND page) {
    if (!TickReplyCountdown(&g_replyCountdown)) return;
    TheCommLog().AddEvent(COMM_REPLY_TIMEOUT);
    ShowInfoMessage(page, "不能和设备正常通信，请检查设备是否上电", nullptr);
    // A port lost while the message was up is closed already: the press
    // would open it again.
    if (!g_portSelectPortOpen) return;
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_PORT_BUTTON, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_PORT_BUTTON)));
}

INT_PTR CALLBACK PortSelectPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        InitPortSelectPage(page);
        FitLabelsToDpi(page);
        return TRUE;
    case WM_DPICHANGED_AFTERPARENT:
        FitLabelsToDpi(page);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PORT_BUTTON:
            OnPortButton(page);
            break;
        case IDC_PORT_LIST:
            OnPortListNotification(g_portSelectPortList, HIWORD(wParam));
            break;
        }
        return 0;
    case WM_PAGE_CLOSE_PORT:
        if (g_portSelectPortOpen) CloseChosenPort(page);
        return 0;
    case WM_PAGE_PORTS_CHANGED:
        OnPortsChanged(g_portSelectPortList);
        return 0;
    case WM_TIMER:
        if (wParam == REPLY_TIMER) OnReplyTimer(page);
        return 0;
    }
    return 0;
}
