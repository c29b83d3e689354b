#include "app/port_events.h"

#include <dbt.h>

#include "app/reply_handling.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "resources/resource.h"
#include "serial/serial_link.h"

namespace {

// Set once by StartPortEvents, read by the thread that finds a port lost.
HWND g_portEventWindow = nullptr;

void PostPortLost() { PostMessageW(g_portEventWindow, WM_PORT_LOST, 0, 0); }

}  // namespace

// The page closes the port through its own closing steps.
void ClosePortOfCurrentPage() {
    g_replyCountdown.store(0);
    HWND page = g_currentPage.load();
    if (page != nullptr) SendMessageW(page, WM_PAGE_CLOSE_PORT, 0, 0);
    ClosePort();
}

bool IsPortArrivalOrRemoval(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    return header != nullptr && header->dbch_devicetype == DBT_DEVTYP_PORT;
}

void StartPortEvents(HWND window) {
    g_portEventWindow = window;
    SetPortLostHandler(PostPortLost);
}

void OnPortLost() {
    // A port opened since the loss is another one: the user has moved on.
    if (g_portHandle.load() != INVALID_HANDLE_VALUE) return;
    ClosePortOfCurrentPage();
    MessageBoxW(g_currentPage.load(), ResourceText(IDS_PORT_LOST).c_str(), ResourceText(IDS_MESSAGE_CAPTION).c_str(),
                MB_ICONINFORMATION);
}

void OnDeviceChange(WPARAM event, LPARAM data) {
    if (!IsPortArrivalOrRemoval(event, data)) return;
    HWND page = g_currentPage.load();
    if (page != nullptr) SendMessageW(page, WM_PAGE_PORTS_CHANGED, 0, 0);
}

void OnPowerBroadcast(WPARAM event) {
    // An adapter may come back under another number, or without its line
    // settings: after resume the page shows the port closed.
    if (event == PBT_APMSUSPEND) ClosePortOfCurrentPage();
}

void ClosePortAtExit() { ClosePort(); }
