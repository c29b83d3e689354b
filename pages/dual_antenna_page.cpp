// DualAntennaPage: readers of type 1, with two antenna ports and an RS485
// port. Besides the addresses and the connection section it shows the
// RS485 baud (1027), the two antenna bauds (1013, 1014) and the
// dual-antenna box (1015) with its warning label (1026).
#include "pages/device_page.h"
#include "pages/pages.h"
#include "protocol/device_info.h"
#include "resources/resource.h"

namespace {

// UI thread only (see DevicePageState).
DevicePageState g_dualState = DEVICE_PAGE_STATE_INITIAL;

// Filled in this order, all under the one lists-filled flag.
const BaudCombo DUAL_BAUD_COMBOS[] = {
    {IDC_RS485_BAUD, BAUD_RS485},
    {IDC_ANTENNA0_BAUD, BAUD_ANTENNA0},
    {IDC_ANTENNA1_BAUD, BAUD_ANTENNA1},
    {0, BAUD_RS485},
};

// Greyed on closing; the mode 1 controls and 1004 follow in the shared frame.
const int DUAL_CLOSING_LIST[] = {IDC_IP_ADDRESS,   IDC_SUBNET_MASK, IDC_GATEWAY,
                                 IDC_RS485_BAUD,   IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD,
                                 IDC_DUAL_ANTENNA, IDC_DUAL_WARNING, IDC_CONNECT_MODE,
                                 IDC_NAME_OR_ID,   0};

// Opening the port takes these selections away before the reply refills them.
const int DUAL_OPENING_DESELECT[] = {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, 0};

void InitialiseDualSettings(HWND page, const DevicePageKind& kind, const PageView& view) {
    ShowAddresses(page, view);
    FillBaudCombos(page, kind, view);
    SetCheck(page, IDC_DUAL_ANTENNA, view.dualAntenna);
    EnableItems(page, {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA,
                       IDC_DUAL_WARNING},
                true);
}

// The dual-antenna box ticks itself and has no handler; Apply reads it.
const DevicePageKind DUAL_ANTENNA_PAGE = {
    DEVICE_TYPE_DUAL_ANTENNA, &g_dualState, /*hasModeCombo=*/true, DUAL_BAUD_COMBOS,
    // Opening empties no texts beyond 1005, deselects the bauds and unticks 1015.
    DUAL_CLOSING_LIST, nullptr, DUAL_OPENING_DESELECT, /*openingUntickDual=*/true,
    InitialiseDualSettings, nullptr};

}  // namespace

INT_PTR CALLBACK DualAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DevicePageProc(DUAL_ANTENNA_PAGE, page, msg, wParam, lParam);
}
