// The two antenna pages against simulated readers. DualAntennaPage (type
// 1): the device ID of a version 1 record and mode switches, the three
// baud lists and the dual-antenna box reaching their record bytes, both
// modes' records, and the mode list restoring stored values.
// SingleAntennaPage (type 2): its one baud list bound to the antenna port 1
// byte, the device ID across protocol versions, both modes' records.
#include "e2e_fixture.h"

namespace {

class DualAntennaPageTest : public ReaderTest {};

TEST_F(DualAntennaPageTest, DeviceIdListsAndBoxReachTheModeZeroRecord) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_DUAL_ANTENNA, {{"connectMode", "0"}, {"protocolVersion", "1"},
        {"deviceId", "42"}, {"rs485Baud", "9"}, {"antenna0Baud", "1"}, {"antenna1Baud", "3"}, {"dualAntennaMode", "2"}}));
    // A version 1 record has no device ID.
    ExpectTexts({{IDC_CONNECT_MODE, MODE_WAIT_TEXT}, {IDC_NAME_LABEL, L"设备ID："}, {IDC_NAME_OR_ID, L"0"},
                 {IDC_ANTENNA0_BAUD, L"19200"}, {IDC_ANTENNA1_BAUD, L"57600"}});
    EXPECT_EQ(ControlsWhere(device, true), kModeOneControls);
    EXPECT_EQ(ComboSelection(Item(device, IDC_RS485_BAUD)), -1);
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));

    ChooseMode(1);
    ExpectTexts({{IDC_NAME_LABEL, L"设备名称："}, {IDC_NAME_OR_ID, L"reader01"}});
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"42");

    // The hidden platform controls are not read in mode 0, even blank; the
    // out-of-range rs485 rate goes out as 255.
    EmptyControls(device, {IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_PASSWORD});
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(0).At(84, {255, 1, 3, 0, 1, 0, 0, 0, 42}).bytes);

    SetText(Item(device, IDC_NAME_OR_ID), L"-1");
    SelectCombo(Item(device, IDC_RS485_BAUD), 2);
    ASSERT_NO_FATAL_FAILURE(Toggle(IDC_DUAL_ANTENNA));
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(0).At(84, {2, 1, 3, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}).bytes);
}

TEST_F(DualAntennaPageTest, ModeOneShowsAndWritesTheReaderAndTheModeListRestores) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_DUAL_ANTENNA));
    ExpectTexts({{IDC_VERSION, L"V2.1.8"}, {IDC_CONNECT_MODE, MODE_CONNECT_TEXT}, {IDC_NAME_OR_ID, L"reader01"},
                 {IDC_PASSWORD, L"pass1234"}, {IDC_PLATFORM_IP, L"192.168.1.10"}, {IDC_PLATFORM_PORT, L"502"},
                 {IDC_RS485_BAUD, L"115200（默认）"}});
    EXPECT_EQ(PasswordChar(device), L'*');
    for (int id : {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD}) EXPECT_EQ(ComboCount(Item(device, id)), 5);
    ASSERT_EQ(ComboCount(Item(device, IDC_CONNECT_MODE)), 2);
    EXPECT_EQ(ComboItem(Item(device, IDC_CONNECT_MODE), 0), MODE_WAIT_TEXT);
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(1).At(84, {4, 4, 4}).bytes);

    // Any notification of the mode list puts the stored values back and
    // masks a password shown in clear, keeping the eye's picture.
    EmptyControls(device, {IDC_PLATFORM_IP});
    SetText(Item(device, IDC_NAME_OR_ID), L"edited");
    Click(Item(device, IDC_EYE));
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000)) << "the eye did not unmask";
    const LRESULT clearImage = SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP);
    DropModeList();
    ExpectTexts({{IDC_NAME_OR_ID, L"reader01"}, {IDC_PLATFORM_IP, L"192.168.1.10"}});
    EXPECT_EQ(PasswordChar(device), L'*');
    EXPECT_EQ(SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP), clearImage);
}

class SingleAntennaPageTest : public ReaderTest {};

TEST_F(SingleAntennaPageTest, AntennaByteDeviceIdAndBothModesRecords) {
    // Bytes 101, 102 and 105 belong to other pages: they must not leak in.
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_SINGLE_ANTENNA,
        {{"rs485Baud", "3"}, {"antenna0Baud", "1"}, {"antenna1Baud", "2"}, {"dualAntennaMode", "1"}}));
    HWND antenna = Item(device, IDC_ANTENNA0_BAUD);
    EXPECT_EQ(ComboCount(antenna), 5);
    ExpectTexts({{IDC_ANTENNA0_BAUD, L"38400"}, {IDC_CONNECT_MODE, MODE_CONNECT_TEXT}, {IDC_PASSWORD, L"pass1234"}});
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(1).At(84, {0, 0, 2}).bytes);

    SetFields({{"connectMode", "0"}, {"protocolVersion", "1"}, {"deviceId", "7"}});
    ASSERT_NO_FATAL_FAILURE(Requery());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"0");  // a version 1 record has no device ID
    ChooseMode(1);
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"7");
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(0).At(84, {0, 0, 2, 0, 0, 0, 0, 0, 7}).bytes);

    // Version 2: the stored ID at once; an antenna index beyond the list
    // selects nothing and goes out as 255.
    SetFields({{"protocolVersion", "2"}, {"deviceId", "0x80000000"}, {"antenna1Baud", "7"}});
    ASSERT_NO_FATAL_FAILURE(Requery());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"-2147483648");
    EXPECT_EQ(ComboSelection(antenna), -1);
    EXPECT_EQ(ApplyRecord(device), FactoryRecord(0).At(84, {0, 0, 255, 0, 0, 0x80, 0, 0, 0}).bytes);
}

}  // namespace
