// SingleAntennaPage: readers of type 2, with one card-reading antenna.
// Its baud combo 1013 shows and feeds the antenna port 1 byte of both
// records; the antenna port 0 byte is never read and always sent as 0.
#include "pages/device_page.h"
#include "pages/pages.h"
#include "protocol/device_info.h"
#include "resources/resource.h"

namespace {

// UI thread only (see DevicePageState).
DevicePageState g_singleState = DEVICE_PAGE_STATE_INITIAL;

const BaudCombo SINGLE_BAUD_COMBOS[] = {
    {IDC_ANTENNA0_BAUD, BAUD_ANTENNA1},
    {0, BAUD_ANTENNA1},
};

// Greyed on closing; the mode 1 controls and 1004 follow in the shared frame.
const int SINGLE_CLOSING_LIST[] = {IDC_IP_ADDRESS,    IDC_SUBNET_MASK,  IDC_GATEWAY,
                                   IDC_ANTENNA0_BAUD, IDC_CONNECT_MODE, IDC_NAME_OR_ID, 0};

const int SINGLE_OPENING_DESELECT[] = {IDC_ANTENNA0_BAUD, 0};

void InitialiseSingleSettings(HWND page, const DevicePageKind& kind, const PageView& view) {
    ShowAddresses(page, view);
    FillBaudCombos(page, kind, view);
    EnableItems(page, {IDC_ANTENNA0_BAUD}, true);
}

const DevicePageKind SINGLE_ANTENNA_PAGE = {DEVICE_TYPE_SINGLE_ANTENNA, &g_singleState,
                                           /*hasModeCombo=*/true, SINGLE_BAUD_COMBOS,
                                           SINGLE_CLOSING_LIST, nullptr, SINGLE_OPENING_DESELECT,
                                           /*openingUntickDual=*/false, InitialiseSingleSettings,
                                           nullptr};

}  // namespace

INT_PTR CALLBACK SingleAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DevicePageProc(SINGLE_ANTENNA_PAGE, page, msg, wParam, lParam);
}
