// BasicReaderPage: readers of type 52. The reader's addresses, its device
// name and password, and the platform it connects to; no connection-mode
// choice (Apply always writes connectMode 1).
#include "pages/device_page.h"
#include "pages/pages.h"
#include "protocol/device_info.h"
#include "resources/resource.h"

namespace {

// UI thread only (see DevicePageState).
DevicePageState g_basicState = DEVICE_PAGE_STATE_INITIAL;

const int CLOSING_LIST[] = {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_NAME_OR_ID,
                            IDC_PASSWORD,   IDC_EYE,         IDC_PLATFORM_IP, IDC_PLATFORM_PORT, 0};

void InitialiseSettings(HWND page, const DevicePageKind&, const PageView& view) {
    ShowAddresses(page, view);
}

const DevicePageKind BASIC_READER_PAGE = {
    DEVICE_TYPE_BASIC,
    &g_basicState,
    false,    // no connection-mode combo
    nullptr,  // no baud combos
    CLOSING_LIST,
    nullptr,  // opening empties only 1005 and the addresses ...
    nullptr,
    false,    // ... and hides the name and platform controls
    InitialiseSettings,
    nullptr,  // no commands beyond 1002, 1004, 1021
};

}  // namespace

INT_PTR CALLBACK BasicReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DevicePageProc(BASIC_READER_PAGE, page, msg, wParam, lParam);
}
