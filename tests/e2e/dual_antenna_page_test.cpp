// DualAntennaPage driven from outside against a simulated type 1 reader:
// the device ID across protocol versions and mode switches, the three baud
// lists and the dual-antenna box, the records Apply writes in both modes,
// the order of Apply's checks, the mode list restoring stored values, and
// the port button's closing and opening around a reply of another type.
#include "antenna_page_steps.h"
#include "protocol/device_info.h"

using namespace antenna_steps;

namespace {

// Greyed by closing the port in mode 0; mode 1 adds 1020-1023.
const std::set<int> kGreyedInModeZero = {IDC_IP_ADDRESS,   IDC_SUBNET_MASK,  IDC_GATEWAY,
                                         IDC_RS485_BAUD,   IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD,
                                         IDC_DUAL_ANTENNA, IDC_DUAL_WARNING, IDC_CONNECT_MODE,
                                         IDC_NAME_OR_ID,   IDC_APPLY};

// The tail of a record from byte 84: three bauds, byte 87, the box, the ID.
std::vector<uint8_t> WithTail(std::vector<uint8_t> head, std::vector<uint8_t> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class DualAntennaPageTest : public AntennaPageTest {
protected:
    void Identify(const Fields& fields = {}) {
        AntennaPageTest::Identify(DEVICE_TYPE_DUAL_ANTENNA, fields);
    }

    // The reader's addresses back in the three address controls.
    void RestoreAddresses() {
        SetIpAddress(Item(device, IDC_IP_ADDRESS), Ip(192, 168, 1, 100));
        SetIpAddress(Item(device, IDC_SUBNET_MASK), Ip(255, 255, 255, 0));
        SetIpAddress(Item(device, IDC_GATEWAY), Ip(192, 168, 1, 1));
    }
};

TEST_F(DualAntennaPageTest, DeviceIdFollowsTheProtocolVersionAndModeZeroRecordIsExact) {
    Identify({{"connectMode", "0"}, {"protocolVersion", "1"}, {"deviceId", "0x0000002A"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ComboSelection(Item(device, IDC_CONNECT_MODE)), 0);
    EXPECT_EQ(ItemText(device, IDC_CONNECT_MODE), kModeWait);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"0");  // a version 1 record has no device ID
    EXPECT_EQ(ControlsWhere(device, true), std::set<int>(std::begin(kModeOneControls), std::end(kModeOneControls)));

    ChooseMode(1);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备名称：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    ChooseMode(0);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"42");

    // The hidden platform controls are not read in mode 0, even blank.
    SendTo(Item(device, IDC_PLATFORM_IP), IPM_CLEARADDRESS);
    SetText(Item(device, IDC_PLATFORM_PORT), L"");
    SetText(Item(device, IDC_PASSWORD), L"");
    EXPECT_EQ(ApplyRecord(), WithTail(FactoryModeZeroHead(), {4, 4, 4, 0, 0, 0, 0, 0, 42}));

    // The typed ID is what goes out (conversions are tested natively).
    SetText(Item(device, IDC_NAME_OR_ID), L"-1");
    EXPECT_EQ(Bytes(ApplyRecord(), 89, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

    // A version 2 reply shows the stored ID at once.
    SetField("protocolVersion", "2");
    SetField("deviceId", "42");
    Requery();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"42");
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
}

TEST_F(DualAntennaPageTest, ModeOneShowsEveryControlAndApplyStopsAtTheFirstFailure) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    const std::pair<int, const wchar_t*> shown[] = {
        {IDC_VERSION, L"V2.1.8"},       {IDC_CONNECT_MODE, kModeConnect},   {IDC_NAME_LABEL, L"设备名称："},
        {IDC_NAME_OR_ID, L"reader01"},  {IDC_PASSWORD, L"pass1234"},        {IDC_PLATFORM_IP, L"192.168.1.10"},
        {IDC_PLATFORM_PORT, L"502"},    {IDC_RS485_BAUD, L"115200（默认）"},
    };
    for (const auto& s : shown) EXPECT_EQ(ItemText(device, s.first), s.second) << s.first;
    EXPECT_EQ(PasswordCharOf(device), L'*');
    EXPECT_TRUE(ControlsWhere(device, true).empty()) << "a control is hidden in mode 1";
    EXPECT_EQ(ControlsWhere(device, false), std::set<int>{IDC_PORT_LIST});
    for (int id : {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD}) {
        EXPECT_EQ(ComboCount(Item(device, id)), 5) << id;
        EXPECT_EQ(ComboSelection(Item(device, id)), 4) << id;
    }
    HWND modes = Item(device, IDC_CONNECT_MODE);
    ASSERT_EQ(ComboCount(modes), 2);
    EXPECT_EQ(ComboItem(modes, 0), kModeWait);
    EXPECT_EQ(ComboItem(modes, 1), kModeConnect);
    EXPECT_FALSE(Ticked(device, IDC_DUAL_ANTENNA));

    EXPECT_EQ(ApplyRecord(), WithTail(FactoryModeOneHead(), {4, 4, 4, 0, 0, 0, 0, 0, 0}));

    const struct {
        int mode;
        std::initializer_list<int> emptied;
        const wchar_t* message;
    } cases[] = {
        {1, {IDC_PLATFORM_IP, IDC_NAME_OR_ID}, L"平台IP格式不对"},
        {1, {IDC_PLATFORM_PORT, IDC_NAME_OR_ID}, L"平台端口不能为空"},
        {1, {IDC_NAME_OR_ID, IDC_PASSWORD}, L"设备名称不能为空"},
        {1, {IDC_PASSWORD, IDC_IP_ADDRESS}, L"设备密码不能为空"},
        {1, {IDC_GATEWAY}, L"IP格式不对"},
        {0, {IDC_SUBNET_MASK, IDC_NAME_OR_ID}, L"IP格式不对"},
        {0, {IDC_NAME_OR_ID}, L"设备ID不能为空"},
    };
    for (const auto& c : cases) {
        ChooseMode(c.mode);  // puts the stored name or ID and platform back
        RestoreAddresses();
        EmptyControls(device, c.emptied);
        EXPECT_EQ(ApplyRefused(), c.message) << Narrow(c.message) << " in mode " << c.mode;
    }

    // Mode 1 again: a long name is cut to 29 characters.
    ChooseMode(1);
    RestoreAddresses();
    SetText(Item(device, IDC_NAME_OR_ID), std::wstring(40, L'n'));
    std::vector<uint8_t> name(32, 0);
    std::fill(name.begin(), name.begin() + 29, 'n');
    EXPECT_EQ(Bytes(ApplyRecord(), 1, 32), name);

    // Any notification of the mode list puts the stored name back ...
    SetText(Item(device, IDC_NAME_OR_ID), L"edited");
    DropModeList();
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");

    // ... and masks a password shown in clear, without a new bitmap.
    Click(Item(device, IDC_EYE));
    ASSERT_TRUE(WaitFor([&] { return PasswordCharOf(device) == 0; }, 2000)) << "the eye did not unmask";
    const LRESULT clearImage = SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP);
    DropModeList();
    EXPECT_EQ(PasswordCharOf(device), L'*');
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"pass1234");
    EXPECT_EQ(SendTo(Item(device, IDC_EYE), BM_GETIMAGE, IMAGE_BITMAP), clearImage);
}

TEST_F(DualAntennaPageTest, StoredValuesOutsideTheListsAndTheDualBox) {
    Identify({{"rs485Baud", "9"},
              {"antenna0Baud", "1"},
              {"antenna1Baud", "3"},
              {"dualAntennaMode", "2"},
              {"connectMode", "2"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ComboSelection(Item(device, IDC_RS485_BAUD)), -1);
    EXPECT_EQ(ItemText(device, IDC_ANTENNA0_BAUD), L"19200");
    EXPECT_EQ(ItemText(device, IDC_ANTENNA1_BAUD), L"57600");
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));
    // An unknown mode: no selection, the mode 1 controls shown.
    EXPECT_EQ(ComboSelection(Item(device, IDC_CONNECT_MODE)), -1);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备名称：");
    EXPECT_TRUE(ControlsWhere(device, true).empty());

    std::vector<uint8_t> record = ApplyRecord();
    ASSERT_EQ(record.size(), 93u);
    EXPECT_EQ(record[0], 1);
    EXPECT_EQ(Bytes(record, 65, 6), (std::vector<uint8_t>{192, 168, 1, 10, 0x01, 0xF6}));
    EXPECT_EQ(Bytes(record, 84, 9), (std::vector<uint8_t>{255, 1, 3, 0, 1, 0, 0, 0, 0}));

    // The box changes only its own tick.
    const std::set<int> disabled = ControlsWhere(device, false), hidden = ControlsWhere(device, true);
    Click(Item(device, IDC_DUAL_ANTENNA));
    ASSERT_TRUE(WaitFor([&] { return !Ticked(device, IDC_DUAL_ANTENNA); }, 2000));
    EXPECT_EQ(ControlsWhere(device, false), disabled);
    EXPECT_EQ(ControlsWhere(device, true), hidden);
    EXPECT_EQ(ItemText(device, IDC_DUAL_WARNING), L"！！！此模式需要两个天线接口都连接好读卡天线");

    SelectCombo(Item(device, IDC_RS485_BAUD), 2);
    EXPECT_EQ(Bytes(ApplyRecord(), 84, 5), (std::vector<uint8_t>{2, 1, 3, 0, 0}));
}

TEST_F(DualAntennaPageTest, ClosingGreysOpeningEmptiesAndAnotherTypeReinitialisesInPlace) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    const RECT shown = WindowRect(app.main);
    Click(Item(device, IDC_DUAL_ANTENNA));  // ticked by the user: opening unticks it
    ASSERT_TRUE(WaitFor([&] { return Ticked(device, IDC_DUAL_ANTENNA); }, 2000));

    PressPortButton(L"打开串口");
    ASSERT_FALSE(HasFatalFailure());
    std::set<int> greyed = kGreyedInModeZero;
    greyed.insert({IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT});
    EXPECT_EQ(ControlsWhere(device, false), greyed);
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"V2.1.8");
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"192.168.1.100");
    EXPECT_EQ(ComboSelection(Item(device, IDC_RS485_BAUD)), 4);
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));
    EXPECT_EQ(ComboSelection(Item(device, IDC_CONNECT_MODE)), 1);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_PORT), L"502");

    // The reader on the cable now reports type 2; its reply comes late so
    // that the page can be seen waiting.
    SetField("deviceType", "2");
    SetField("ipAddress", "10.1.2.3");
    SetField("rs485Baud", "1");
    SetField("antenna0Baud", "0");
    SetField("antenna1Baud", "2");
    SetField("dualAntennaMode", "3");
    SetField("connectMode", "0");
    SetField("deviceId", "77");
    SetFault("late:1500");
    PressPortButton(L"关闭串口");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"");
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY})
        EXPECT_NE(SendTo(Item(device, id), IPM_ISBLANK), 0) << id;
    for (int id : {IDC_RS485_BAUD, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_CONNECT_MODE})
        EXPECT_EQ(ComboSelection(Item(device, id)), -1) << id;
    EXPECT_FALSE(Ticked(device, IDC_DUAL_ANTENNA));
    std::set<int> hiddenWhileWaiting(std::begin(kModeOneControls), std::end(kModeOneControls));
    hiddenWhileWaiting.insert({IDC_NAME_LABEL, IDC_NAME_OR_ID});
    EXPECT_EQ(ControlsWhere(device, true), hiddenWhileWaiting);
    greyed.insert(IDC_PORT_LIST);  // opening disables the port list again
    EXPECT_EQ(ControlsWhere(device, false), greyed);
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");  // hidden, not emptied

    // The reply re-initialises this page with the record read as type 1.
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, REPLY_WAIT_MS));
    SetFault("none");
    EXPECT_EQ(KindOf(device), PAGE_DUAL);
    EXPECT_EQ(Pages(app.main).size(), 1u);
    const RECT after = WindowRect(app.main);
    EXPECT_EQ(after.bottom - after.top, shown.bottom - shown.top);
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.1.2.3");
    EXPECT_EQ(ComboSelection(Item(device, IDC_RS485_BAUD)), 1);
    EXPECT_EQ(ComboSelection(Item(device, IDC_ANTENNA0_BAUD)), 0);
    EXPECT_EQ(ComboSelection(Item(device, IDC_ANTENNA1_BAUD)), 2);
    EXPECT_EQ(ComboCount(Item(device, IDC_ANTENNA1_BAUD)), 5) << "lists filled again";
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));
    EXPECT_EQ(ComboSelection(Item(device, IDC_CONNECT_MODE)), 0);
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备ID：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"77");
    EXPECT_EQ(ControlsWhere(device, false), std::set<int>{IDC_PORT_LIST});
    EXPECT_EQ(ControlsWhere(device, true), std::set<int>(std::begin(kModeOneControls), std::end(kModeOneControls)));

    // Closing in mode 0 leaves the hidden platform controls enabled.
    PressPortButton(L"打开串口");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ControlsWhere(device, false), kGreyedInModeZero);
}

}  // namespace
