// DualAntennaPage against a simulated type 1 reader: the device ID across
// protocol versions and mode switches, the three baud lists and the
// dual-antenna box reaching their record bytes, both modes' records, and
// the mode list restoring stored values.
#include "antenna_page_steps.h"

using namespace antenna_steps;

namespace {

class DualAntennaPageTest : public AntennaPageTest {};

TEST_F(DualAntennaPageTest, DeviceIdListsAndBoxReachTheModeZeroRecord) {
    Identify(DEVICE_TYPE_DUAL_ANTENNA, {{"connectMode", "0"}, {"protocolVersion", "1"}, {"deviceId", "42"},
                                        {"rs485Baud", "9"}, {"antenna0Baud", "1"}, {"antenna1Baud", "3"},
                                        {"dualAntennaMode", "2"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_CONNECT_MODE), kModeWait);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"0");  // a version 1 record has no device ID
    EXPECT_EQ(ControlsWhere(device, true), kModeOneControls);
    EXPECT_EQ(ComboSelection(Item(device, IDC_RS485_BAUD)), -1);
    EXPECT_EQ(ItemText(device, IDC_ANTENNA0_BAUD), L"19200");
    EXPECT_EQ(ItemText(device, IDC_ANTENNA1_BAUD), L"57600");
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));

    ChooseMode(1);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备名称：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"42");

    // The hidden platform controls are not read in mode 0, even blank; the
    // out-of-range rs485 rate goes out as 255.
    EmptyControls(device, {IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_PASSWORD});
    EXPECT_EQ(ApplyRecord(), FactoryRecord(0, {255, 1, 3, 0, 1, 0, 0, 0, 42}));

    SetText(Item(device, IDC_NAME_OR_ID), L"-1");
    SelectCombo(Item(device, IDC_RS485_BAUD), 2);
    Click(Item(device, IDC_DUAL_ANTENNA));
    ASSERT_TRUE(WaitFor([&] { return !Ticked(device, IDC_DUAL_ANTENNA); }, 2000));
    EXPECT_EQ(Bytes(ApplyRecord(), 84, 9), (std::vector<uint8_t>{2, 1, 3, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

    // A version 2 reply shows the stored ID at once.
    SetFields({{"protocolVersion", "2"}, {"deviceId", "42"}});
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"42");
}

TEST_F(DualAntennaPageTest, ModeOneShowsAndWritesTheReaderAndTheModeListRestores) {
    Identify(DEVICE_TYPE_DUAL_ANTENNA);
    ASSERT_FALSE(HasFatalFailure());
    const std::pair<int, const wchar_t*> shown[] = {
        {IDC_VERSION, L"V2.1.8"},      {IDC_CONNECT_MODE, kModeConnect}, {IDC_NAME_OR_ID, L"reader01"},
        {IDC_PASSWORD, L"pass1234"},   {IDC_PLATFORM_IP, L"192.168.1.10"}, {IDC_PLATFORM_PORT, L"502"},
        {IDC_RS485_BAUD, L"115200（默认）"}};
    for (const auto& s : shown) EXPECT_EQ(ItemText(device, s.first), s.second) << s.first;
    EXPECT_EQ(PasswordCharOf(device), L'*');
    for (int id : {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD}) EXPECT_EQ(ComboCount(Item(device, id)), 5);
    ASSERT_EQ(ComboCount(Item(device, IDC_CONNECT_MODE)), 2);
    EXPECT_EQ(ComboItem(Item(device, IDC_CONNECT_MODE), 0), kModeWait);
    EXPECT_EQ(ApplyRecord(), FactoryRecord(1, {4, 4, 4, 0, 0, 0, 0, 0, 0}));

    // Only the first failed check speaks.
    EmptyControls(device, {IDC_PLATFORM_IP, IDC_NAME_OR_ID});
    EXPECT_EQ(ApplyRefused(), L"平台IP格式不对");

    // Any notification of the mode list puts the stored values back and
    // masks a password shown in clear, keeping the eye's picture.
    SetText(Item(device, IDC_NAME_OR_ID), L"edited");
    Click(Item(device, IDC_EYE));
    ASSERT_TRUE(WaitFor([&] { return PasswordCharOf(device) == 0; }, 2000)) << "the eye did not unmask";
    const LRESULT clearImage = SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP);
    DropModeList();
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_IP), L"192.168.1.10");
    EXPECT_EQ(PasswordCharOf(device), L'*');
    EXPECT_EQ(SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP), clearImage);
}

}  // namespace
