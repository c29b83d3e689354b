// WifiReaderPage: readers of type 3. The reader's WiFi network (1010, 1011),
// its addressing, fixed or by DHCP (1012), its two antenna bauds (1013,
// 1014) and the dual-antenna box (1015) with its warning label (1026); the
// connection section and everything else come from the shared device page.
#include "app/wintext.h"
#include "pages/device_page.h"
#include "pages/pages.h"
#include "protocol/device_info.h"
#include "resources/resource.h"

namespace {

// UI thread only (see DevicePageState).
DevicePageState g_wifiState = DEVICE_PAGE_STATE_INITIAL;

// Antenna 0 first, then antenna 1; the mode list follows under the same
// lists-filled flag.
const BaudCombo WIFI_BAUD_COMBOS[] = {
    {IDC_ANTENNA0_BAUD, BAUD_ANTENNA0},
    {IDC_ANTENNA1_BAUD, BAUD_ANTENNA1},
    {0, BAUD_ANTENNA0},
};

// Greyed in this order when the port closes; the shared frame adds the mode 1
// controls (when 1016 is not on mode 0) and Apply.
const int WIFI_CLOSING_LIST[] = {IDC_WIFI_SSID,     IDC_WIFI_PASSWORD, IDC_IP_ADDRESS,
                                 IDC_SUBNET_MASK,   IDC_GATEWAY,       IDC_DHCP,
                                 IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA,
                                 IDC_DUAL_WARNING,  IDC_CONNECT_MODE,  IDC_NAME_OR_ID,
                                 0};

// Opening the port empties the WiFi texts after the version label, and takes
// the antenna selections away; the DHCP box keeps its state.
const int WIFI_OPENING_EMPTY_TEXTS[] = {IDC_WIFI_SSID, IDC_WIFI_PASSWORD, 0};
const int WIFI_OPENING_DESELECT[] = {IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, 0};

// With DHCP the reader's own address is shown for information only; Apply
// neither reads nor sends the three controls. Their enabled state stays as
// it was (enabled on a fresh page, greyed after a close and reopen). The
// mask and gateway are emptied so that a previous reply's values cannot
// linger under a DHCP reader and be sent once the box is unticked.
void ShowDhcpAddresses(HWND page, const PageView& view) {
    SetCheck(page, IDC_DHCP, true);
    SetAddress(page, IDC_IP_ADDRESS, view.ipAddress);
    ClearAddress(page, IDC_SUBNET_MASK);
    ClearAddress(page, IDC_GATEWAY);
}

void InitialiseWifiSettings(HWND page, const DevicePageKind& kind, const PageView& view) {
    SetItemTextGbk(page, IDC_WIFI_SSID, view.wifiSsid);
    SetItemTextGbk(page, IDC_WIFI_PASSWORD, view.wifiPassword);
    EnableItems(page, {IDC_WIFI_SSID, IDC_WIFI_PASSWORD, IDC_DHCP}, true);
    if (view.dhcp) {
        ShowDhcpAddresses(page, view);
    } else {
        SetCheck(page, IDC_DHCP, false);
        ShowAddresses(page, view);
    }
    FillBaudCombos(page, kind, view);
    SetCheck(page, IDC_DUAL_ANTENNA, view.dualAntenna);
    EnableItems(page, {IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA, IDC_DUAL_WARNING},
                true);
}

// The box has already toggled itself. Ticked: the addresses come from DHCP,
// so the three controls grey out empty. Unticked: they come back enabled and
// empty, waiting for the user's addresses.
void OnDhcpBox(HWND page) {
    const bool dhcp = IsChecked(page, IDC_DHCP);
    EnableItems(page, {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}, !dhcp);
    if (dhcp) {
        ClearAddress(page, IDC_IP_ADDRESS);
        ClearAddress(page, IDC_SUBNET_MASK);
        ClearAddress(page, IDC_GATEWAY);
    }
}

bool WifiCommand(HWND page, const DevicePageKind&, int id) {
    switch (id) {
    case IDC_DHCP: OnDhcpBox(page); return true;
    default: return false;
    }
}

const DevicePageKind WIFI_READER_PAGE = {
    DEVICE_TYPE_WIFI,
    &g_wifiState,
    true,  // connection-mode combo 1016
    WIFI_BAUD_COMBOS,
    WIFI_CLOSING_LIST,
    WIFI_OPENING_EMPTY_TEXTS,
    WIFI_OPENING_DESELECT,
    true,  // opening unticks 1015
    InitialiseWifiSettings,
    WifiCommand,
};

}  // namespace

INT_PTR CALLBACK WifiReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DevicePageProc(WIFI_READER_PAGE, page, msg, wParam, lParam);
}
