// SingleAntennaPage against a simulated type 2 reader: its one baud list
// bound to the antenna port 1 byte, the device ID across protocol
// versions, and the records Apply writes in both modes.
#include "antenna_page_steps.h"

using namespace antenna_steps;

namespace {

class SingleAntennaPageTest : public AntennaPageTest {};

TEST_F(SingleAntennaPageTest, AntennaByteDeviceIdAndBothModesRecords) {
    // Bytes 101, 102 and 105 belong to other pages: they must not leak in.
    Identify(DEVICE_TYPE_SINGLE_ANTENNA,
             {{"rs485Baud", "3"}, {"antenna0Baud", "1"}, {"antenna1Baud", "2"}, {"dualAntennaMode", "1"}});
    ASSERT_FALSE(HasFatalFailure());
    HWND antenna = Item(device, IDC_ANTENNA0_BAUD);
    EXPECT_EQ(ComboCount(antenna), 5);
    EXPECT_EQ(ItemText(device, IDC_ANTENNA0_BAUD), L"38400");
    EXPECT_EQ(ItemText(device, IDC_CONNECT_MODE), kModeConnect);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"pass1234");
    EXPECT_EQ(ApplyRecord(), FactoryRecord(1, {0, 0, 2, 0, 0, 0, 0, 0, 0}));

    SetFields({{"connectMode", "0"}, {"protocolVersion", "1"}, {"deviceId", "7"}});
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"0");  // a version 1 record has no device ID
    ChooseMode(1);
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"7");
    EXPECT_EQ(ApplyRecord(), FactoryRecord(0, {0, 0, 2, 0, 0, 0, 0, 0, 7}));

    // Only the first failed check speaks: the addresses before the ID.
    EmptyControls(device, {IDC_GATEWAY, IDC_NAME_OR_ID});
    EXPECT_EQ(ApplyRefused(), L"IP格式不对");

    // Version 2: the stored ID at once; an antenna index beyond the list
    // selects nothing and goes out as 255.
    SetFields({{"protocolVersion", "2"}, {"deviceId", "0x80000000"}, {"antenna1Baud", "7"}});
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"-2147483648");
    EXPECT_EQ(ComboSelection(antenna), -1);
    EXPECT_EQ(ApplyRecord(), FactoryRecord(0, {0, 0, 255, 0, 0, 0x80, 0, 0, 0}));
}

}  // namespace
