// SingleAntennaPage driven from outside against a simulated type 2 reader:
// its one baud list bound to the antenna port 1 byte, the device ID across
// protocol versions, the records Apply writes in both modes, the order of
// Apply's checks, and the port button's closing and opening around a reply
// of another type.
#include "antenna_page_steps.h"
#include "protocol/device_info.h"

using namespace antenna_steps;

namespace {

// What closing the port greys in mode 0; mode 1 adds 1020-1023.
const std::set<int> kClosedModeZero = {IDC_IP_ADDRESS,    IDC_SUBNET_MASK,  IDC_GATEWAY, IDC_ANTENNA0_BAUD,
                                       IDC_CONNECT_MODE, IDC_NAME_OR_ID, IDC_APPLY};

// The record's bytes from 84: only byte 86 (the antenna) and the ID vary.
std::vector<uint8_t> Record(std::vector<uint8_t> head, uint8_t antenna, uint32_t deviceId) {
    const uint8_t tail[] = {0,
                            0,
                            antenna,
                            0,
                            0,
                            uint8_t(deviceId >> 24),
                            uint8_t(deviceId >> 16),
                            uint8_t(deviceId >> 8),
                            uint8_t(deviceId)};
    head.insert(head.end(), std::begin(tail), std::end(tail));
    return head;
}

class SingleAntennaPageTest : public AntennaPageTest {
protected:
    void Identify(const Fields& fields = {}) {
        AntennaPageTest::Identify(DEVICE_TYPE_SINGLE_ANTENNA, fields);
    }

    HWND Antenna() { return Item(device, IDC_ANTENNA0_BAUD); }
};

TEST_F(SingleAntennaPageTest, DeviceIdAndAntennaByteAcrossProtocolVersions) {
    // Bytes 101, 102 and 105 belong to other pages: they must not leak in.
    Identify({{"connectMode", "0"},
              {"protocolVersion", "1"},
              {"deviceId", "7"},
              {"rs485Baud", "3"},
              {"antenna0Baud", "1"},
              {"antenna1Baud", "2"},
              {"dualAntennaMode", "1"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ComboCount(Antenna()), 5);
    EXPECT_EQ(ItemText(device, IDC_ANTENNA0_BAUD), L"38400");
    EXPECT_EQ(ItemText(device, IDC_CONNECT_MODE), kModeWait);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"0");

    ChooseMode(1);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"7");
    EXPECT_EQ(ApplyRecord(), Record(FactoryModeZeroHead(), 2, 7));

    // Mode 0 checks: the addresses come before the device ID.
    SetText(Item(device, IDC_NAME_OR_ID), L"");
    SendTo(Item(device, IDC_GATEWAY), IPM_CLEARADDRESS);
    EXPECT_EQ(ApplyRefused(), L"IP格式不对");
    SetIpAddress(Item(device, IDC_GATEWAY), Ip(192, 168, 1, 1));
    EXPECT_EQ(ApplyRefused(), L"设备ID不能为空");

    // Version 2: the stored ID at once, written back byte for byte.
    SetField("protocolVersion", "2");
    SetField("deviceId", "0x80000000");
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"-2147483648");
    EXPECT_EQ(Bytes(ApplyRecord(), 89, 4), (std::vector<uint8_t>{0x80, 0, 0, 0}));

    // An antenna index beyond the list: no selection, sent as 255.
    SetField("antenna1Baud", "7");
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ComboSelection(Antenna()), -1);
    EXPECT_EQ(ApplyRecord(), Record(FactoryModeZeroHead(), 255, 0x80000000u));
}

TEST_F(SingleAntennaPageTest, ModeOneRecordChecksClosingAndAReplyOfAnotherType) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_CONNECT_MODE), kModeConnect);
    EXPECT_EQ(ItemText(device, IDC_ANTENNA0_BAUD), L"115200（默认）");
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"pass1234");
    EXPECT_EQ(PasswordCharOf(device), L'*');
    EXPECT_TRUE(ControlsWhere(device, true).empty()) << "a control is hidden in mode 1";
    EXPECT_EQ(ApplyRecord(), Record(FactoryModeOneHead(), 4, 0));

    SetText(Item(device, IDC_PLATFORM_PORT), L"");
    SetText(Item(device, IDC_NAME_OR_ID), L"");
    EXPECT_EQ(ApplyRefused(), L"平台端口不能为空");
    ChooseMode(1);  // the stored values back
    SendTo(Item(device, IDC_PLATFORM_IP), IPM_CLEARADDRESS);
    SendTo(Item(device, IDC_IP_ADDRESS), IPM_CLEARADDRESS);
    EXPECT_EQ(ApplyRefused(), L"平台IP格式不对");
    ChooseMode(1);
    SetIpAddress(Item(device, IDC_IP_ADDRESS), Ip(192, 168, 1, 100));

    // Closing in mode 1 greys the platform controls too; values stay.
    PressPortButton(L"打开串口");
    ASSERT_FALSE(HasFatalFailure());
    std::set<int> closed = kClosedModeZero;
    closed.insert({IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT});
    EXPECT_EQ(ControlsWhere(device, false), closed);
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_IP), L"192.168.1.10");
    EXPECT_EQ(ComboSelection(Antenna()), 4);

    // A type 1 reader answers the next query, late enough to see the page wait.
    SetField("deviceType", "1");
    SetField("antenna0Baud", "3");
    SetField("antenna1Baud", "1");
    SetField("gateway", "10.1.2.254");
    SetField("connectMode", "0");
    SetField("deviceId", "5");
    SetFault("late:1500");
    PressPortButton(L"关闭串口");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"");
    EXPECT_NE(SendTo(Item(device, IDC_GATEWAY), IPM_ISBLANK), 0);
    EXPECT_EQ(ComboSelection(Antenna()), -1);
    EXPECT_EQ(ComboSelection(Item(device, IDC_CONNECT_MODE)), -1);
    std::set<int> hidden(std::begin(kModeOneControls), std::end(kModeOneControls));
    hidden.insert({IDC_NAME_LABEL, IDC_NAME_OR_ID});
    EXPECT_EQ(ControlsWhere(device, true), hidden);
    closed.insert(IDC_PORT_LIST);
    EXPECT_EQ(ControlsWhere(device, false), closed);

    // Re-initialised in place, the record read with this page's layout.
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, REPLY_WAIT_MS));
    SetFault("none");
    EXPECT_EQ(KindOf(device), PAGE_SINGLE);
    EXPECT_EQ(Pages(app.main).size(), 1u);
    EXPECT_EQ(WindowRect(app.main).bottom - WindowRect(app.main).top, 190 + 402);
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"10.1.2.254");
    EXPECT_EQ(ComboSelection(Antenna()), 1);
    EXPECT_EQ(ComboCount(Antenna()), 5);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"5");
    EXPECT_EQ(ControlsWhere(device, true), std::set<int>(std::begin(kModeOneControls), std::end(kModeOneControls)));

    // Closing in mode 0: the hidden platform controls stay enabled.
    PressPortButton(L"打开串口");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ControlsWhere(device, false), kClosedModeZero);
}

}  // namespace
