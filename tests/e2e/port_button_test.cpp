// The port button on each device page: closing greys the settings but
// keeps their values, opening empties and hides them until the reply, and
// a later reply of the page's type re-initialises the page in place.
#include "e2e_fixture.h"

namespace {

// The mode 1 controls a user edits.
const std::set<int> kModeOneEdits = {IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT};

std::set<int> Join(std::set<int> a, const std::set<int>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

struct PageRow {
    int type;
    std::set<int> greyedModeZero;  // closing in mode 1 greys kModeOneEdits too
    bool modeZeroHidesPlatform;    // false: the page shows mode 1 whatever the reader says
    const wchar_t* nameAfterModeZeroReply;
};

void PrintTo(const PageRow& row, std::ostream* os) { *os << "type " << row.type; }

class PortButton : public ReaderTest, public ::testing::WithParamInterface<PageRow> {};

TEST_P(PortButton, ClosingGreysOpeningEmptiesAndAReplyReinitialisesInPlace) {
    const PageRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(ShowReader(row.type));
    const std::wstring version = ItemText(device, IDC_VERSION);
    const RECT shown = WindowRect(app.main);
    if (Item(device, IDC_DUAL_ANTENNA) != nullptr) {
        ASSERT_NO_FATAL_FAILURE(Toggle(IDC_DUAL_ANTENNA));  // ticked by the user: opening unticks it
    }

    const std::set<int> greyedModeOne = row.modeZeroHidesPlatform ? Join(row.greyedModeZero, kModeOneEdits)
                                                                  : row.greyedModeZero;
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    EXPECT_EQ(ControlsWhere(device, false), greyedModeOne);
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    ExpectTexts({{IDC_VERSION, version.c_str()}, {IDC_NAME_OR_ID, L"reader01"}, {IDC_IP_ADDRESS, L"192.168.1.100"}});

    // The reply comes late so that the page can be seen waiting.
    SetFields({{"ipAddress", "10.1.2.3"}, {"connectMode", "0"}, {"deviceId", "77"}});
    SetFault("late:1500");
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    for (int id : {IDC_VERSION, IDC_WIFI_SSID, IDC_WIFI_PASSWORD})
        if (Item(device, id) != nullptr) { EXPECT_EQ(ItemText(device, id), L"") << id; }
    for (int id : kAddresses) EXPECT_TRUE(Blank(device, id)) << id;
    for (int id : {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_CONNECT_MODE})
        if (Item(device, id) != nullptr) { EXPECT_EQ(ComboSelection(Item(device, id)), -1) << id; }
    if (Item(device, IDC_DUAL_ANTENNA) != nullptr) { EXPECT_FALSE(Ticked(device, IDC_DUAL_ANTENNA)); }
    EXPECT_EQ(ControlsWhere(device, true), Join(kModeOneControls, {IDC_NAME_LABEL, IDC_NAME_OR_ID}));
    EXPECT_EQ(ControlsWhere(device, false), Join(greyedModeOne, {IDC_PORT_LIST}));
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01") << "hidden, not emptied";

    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, REPLY_WAIT_MS));
    SetFault("none");
    EXPECT_EQ(KindOf(device), PageOfType(row.type));
    EXPECT_EQ(Pages(app.main).size(), 1u);
    const RECT after = WindowRect(app.main);
    EXPECT_EQ(after.bottom - after.top, shown.bottom - shown.top);
    ExpectTexts({{IDC_IP_ADDRESS, L"10.1.2.3"}, {IDC_NAME_OR_ID, row.nameAfterModeZeroReply}});
    EXPECT_EQ(ControlsWhere(device, false), std::set<int>{IDC_PORT_LIST});
    EXPECT_EQ(ControlsWhere(device, true), row.modeZeroHidesPlatform ? kModeOneControls : std::set<int>{});

    // Closing in mode 0 leaves the hidden platform controls enabled.
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    EXPECT_EQ(ControlsWhere(device, false), row.greyedModeZero);
}

const std::set<int> kAntennaCommon = Join(kAddresses, {IDC_ANTENNA0_BAUD, IDC_CONNECT_MODE, IDC_NAME_OR_ID, IDC_APPLY});
const std::set<int> kDualExtra = {IDC_RS485_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA, IDC_DUAL_WARNING};

INSTANTIATE_TEST_SUITE_P(
    Pages, PortButton,
    ::testing::Values(
        PageRow{DEVICE_TYPE_DUAL_ANTENNA, Join(kAntennaCommon, kDualExtra), true, L"77"},
        PageRow{DEVICE_TYPE_SINGLE_ANTENNA, kAntennaCommon, true, L"77"},
        PageRow{DEVICE_TYPE_WIFI,
                Join(Join(kAntennaCommon, {IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA, IDC_DUAL_WARNING}),
                     {IDC_WIFI_SSID, IDC_WIFI_PASSWORD, IDC_DHCP}),
                true, L"77"},
        PageRow{DEVICE_TYPE_BASIC, Join(Join(kAddresses, kModeOneEdits), {IDC_NAME_OR_ID, IDC_APPLY}),
                false, L"reader01"}),
    [](const ::testing::TestParamInfo<PageRow>& info) { return std::string(PageKindName(PageOfType(info.param.type))); });

}  // namespace
