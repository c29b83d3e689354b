// WifiReaderPage against the simulated reader: what the page shows for a
// reply, the DHCP box, the 157-byte records Apply writes, the order of the
// Apply checks, closing and reopening the port, and replies that arrive
// while the page is shown.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "protocol/device_info.h"
#include "serial/line.h"

namespace {

const wchar_t* const IP_INVALID = L"IP格式不对";
const wchar_t* const NAME_LABEL = L"设备名称：";
const wchar_t* const ID_LABEL = L"设备ID：";

const size_t WIFI_RECORD = 157;

// The mode 1 controls: shown with the platform section, hidden in mode 0.
const int PLATFORM_IDS[] = {IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP_LABEL,
                            IDC_PLATFORM_IP, IDC_PLATFORM_PORT_LABEL, IDC_PLATFORM_PORT};

bool Ticked(HWND box) { return SendTo(box, BM_GETCHECK) == BST_CHECKED; }
bool Blank(HWND address) { return SendTo(address, IPM_ISBLANK) != 0; }
void ClearIp(HWND address) { SendTo(address, IPM_CLEARADDRESS); }

// Types text into one of the four fields of an address control, the way a
// user fills a single field (the field edits are its children in order).
void SetIpField(HWND address, int field, const std::wstring& text) {
    HWND edit = FindWindowExW(address, nullptr, L"Edit", nullptr);
    for (int i = 0; i < field && edit != nullptr; ++i) edit = FindWindowExW(address, edit, L"Edit", nullptr);
    ASSERT_NE(edit, nullptr);
    SetText(edit, text);
}

// A ConfigRecord as the reader should receive it, built field by field.
struct Expected {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(WIFI_RECORD, 0);
    Expected& Byte(size_t at, uint8_t value) {
        bytes[at] = value;
        return *this;
    }
    Expected& Text(size_t at, const std::string& text) {
        std::memcpy(&bytes[at], text.data(), text.size());
        return *this;
    }
    Expected& U32(size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
        return *this;
    }
};

class WifiPage : public ReaderTest {
protected:
    // Identifies a WiFi reader with these fields and waits until its page
    // has finished initialising.
    void ShowPage(const Fields& fields = {}) {
        wifi = IdentifyReader(DEVICE_TYPE_WIFI, fields);
        ASSERT_NE(wifi, nullptr);
        Settle();
    }

    // A message sent from here is handled only once the program's UI thread
    // is back in its loop, so every handler before it has finished.
    void Settle() { SendTo(app.main, WM_NULL); }

    HWND C(int id) { return Item(wifi, id); }
    std::wstring T(int id) { return ItemText(wifi, id); }

    void Press(int id) {
        Click(C(id));
        Settle();
    }

    // The user picks a connection mode: the selection, then the combo's
    // notification to the page.
    void ChooseMode(int index) {
        SelectCombo(C(IDC_CONNECT_MODE), index);
        SendTo(wifi, WM_COMMAND, MAKEWPARAM(IDC_CONNECT_MODE, CBN_SELCHANGE),
              reinterpret_cast<LPARAM>(C(IDC_CONNECT_MODE)));
    }

    // Opens and closes the list of 1016 without choosing anything.
    void DropModeList() {
        SendTo(C(IDC_CONNECT_MODE), CB_SHOWDROPDOWN, TRUE);
        Settle();
        SendTo(C(IDC_CONNECT_MODE), CB_SHOWDROPDOWN, FALSE);
        Settle();
    }

    // Apply that must reach the reader: its record, after "配置成功".
    std::vector<uint8_t> ApplyOk() {
        const size_t before = static_cast<size_t>(FramesReceived());
        Click(C(IDC_APPLY));
        EXPECT_TRUE(SimRunnerWaitFrames(runner, before + 1, REPLY_WAIT_MS)) << "no record sent";
        EXPECT_EQ(AnswerMessageBox(app, REPLY_WAIT_MS), CONFIG_DONE_TEXT);
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
        if (frames.size() <= before) return {};
        const SimReceivedFrame& f = frames.back();
        EXPECT_EQ(f.command, 3);
        EXPECT_TRUE(f.crcOk);
        EXPECT_EQ(f.raw.size(), FRAME_HEADER_SIZE + WIFI_RECORD);
        if (f.raw.size() != FRAME_HEADER_SIZE + WIFI_RECORD) return {};
        return std::vector<uint8_t>(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
    }

    // Apply that must stop with exactly one message and send nothing.
    void ApplyFails(const std::wstring& message) {
        const int before = FramesReceived();
        Click(C(IDC_APPLY));
        EXPECT_EQ(AnswerMessageBox(app, 3000), message);
        EXPECT_EQ(WaitMessageBox(app, 400), nullptr) << "a second message followed";
        EXPECT_EQ(FramesReceived(), before);
    }

    void ExpectPlatformShown(bool shown) {
        for (int id : PLATFORM_IDS) EXPECT_EQ(IsWindowVisible(C(id)) != FALSE, shown) << "control " << id;
    }

    // Sends an information reply as if the reader had spoken on its own:
    // the simulated reader leaves the line and the reply is written by hand.
    void PushReply(const SimReader& reader) {
        SimRunnerStop(runner);
        runner = nullptr;
        std::string error;
        SerialLine* line = LineOpen(simPort, &error);
        ASSERT_NE(line, nullptr) << error;
        const std::vector<uint8_t> frame = SimInfoReplyFrame(&reader);
        EXPECT_TRUE(LineWrite(line, frame.data(), frame.size()));
        LineClose(line);
    }

    HWND wifi = nullptr;
};

SimReader WifiReader(const Fields& fields) {
    SimReader reader;
    SimInit(&reader, DEVICE_TYPE_WIFI);
    for (const auto& f : fields) {
        std::string error;
        EXPECT_TRUE(SimSetField(&reader, f.first, f.second, &error)) << error;
    }
    return reader;
}

// The reader's factory record, mode 1, with the page's fixed parts.
Expected FactoryMode1() {
    Expected e;
    e.Byte(0, 1).Text(1, "reader01").Text(33, "pass1234").U32(65, MAKEIPADDRESS(192, 168, 1, 10));
    e.Byte(69, 0x01).Byte(70, 0xF6).Byte(85, 4).Byte(86, 4);
    e.Text(89, "FactoryAP").Text(121, "wifipass123");
    return e;
}

}  // namespace

TEST_F(WifiPage, DhcpReplyAndTheDhcpBox) {
    ShowPage({{"dhcpEnabled", "1"},
              {"ipAddress", "10.1.2.3"},
              {"subnetMask", "255.255.0.0"},
              {"gateway", "10.1.0.1"},
              {"wifiSsid", "hex:B0ECB9ABCAD2"}});  // "办公室" in GBK

    // Fresh page: the box ticked, only the reader's own address shown, and
    // all three controls as the template made them.
    EXPECT_TRUE(Ticked(C(IDC_DHCP)));
    EXPECT_EQ(T(IDC_IP_ADDRESS), L"10.1.2.3");
    EXPECT_TRUE(Blank(C(IDC_SUBNET_MASK)));
    EXPECT_TRUE(Blank(C(IDC_GATEWAY)));
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DHCP}) EXPECT_TRUE(IsWindowEnabled(C(id))) << id;
    EXPECT_EQ(T(IDC_VERSION), L"V2.1.8");
    EXPECT_EQ(T(IDC_WIFI_SSID), L"办公室");
    EXPECT_EQ(T(IDC_WIFI_PASSWORD), L"wifipass123");
    for (int id : {IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD}) {
        EXPECT_EQ(ComboCount(C(id)), 5);
        EXPECT_EQ(ComboSelection(C(id)), 4);
        EXPECT_EQ(ComboItem(C(id), 4), L"115200（默认）");
    }
    // Index 0 must be mode 0 whatever the sorted style would make of it.
    ASSERT_EQ(ComboCount(C(IDC_CONNECT_MODE)), 2);
    EXPECT_EQ(ComboItem(C(IDC_CONNECT_MODE), 0), L"等待平台连接（默认）");
    EXPECT_EQ(ComboItem(C(IDC_CONNECT_MODE), 1), L"主动连接平台");
    EXPECT_EQ(ComboSelection(C(IDC_CONNECT_MODE)), 1);
    EXPECT_EQ(T(IDC_NAME_LABEL), NAME_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(T(IDC_PLATFORM_IP), L"192.168.1.10");
    EXPECT_EQ(T(IDC_PLATFORM_PORT), L"502");
    ExpectPlatformShown(true);

    // With DHCP the addresses are neither read nor sent, whatever they show.
    SetIpAddress(C(IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 255, 0));
    const std::string office("\xB0\xEC\xB9\xAB\xCA\xD2\0\0\0", 9);  // over "FactoryAP"
    std::vector<uint8_t> record = ApplyOk();
    EXPECT_EQ(record, FactoryMode1().Byte(71, 1).Text(89, office).bytes);

    // Untick, tick, untick: ticking greys and empties the three, unticking
    // gives them back empty.
    Press(IDC_DHCP);
    EXPECT_FALSE(Ticked(C(IDC_DHCP)));
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) EXPECT_TRUE(IsWindowEnabled(C(id))) << id;
    Press(IDC_DHCP);
    EXPECT_TRUE(Ticked(C(IDC_DHCP)));
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) {
        EXPECT_FALSE(IsWindowEnabled(C(id))) << id;
        EXPECT_TRUE(Blank(C(id))) << id;
    }
    Press(IDC_DHCP);
    EXPECT_FALSE(Ticked(C(IDC_DHCP)));
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) {
        EXPECT_TRUE(IsWindowEnabled(C(id))) << id;
        EXPECT_TRUE(Blank(C(id))) << id;
    }

    // Fixed addressing wants all three, one field each at least.
    ApplyFails(IP_INVALID);
    SetIpAddress(C(IDC_IP_ADDRESS), MAKEIPADDRESS(10, 0, 0, 5));
    ApplyFails(IP_INVALID);
    SetIpAddress(C(IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 255, 0));
    ApplyFails(IP_INVALID);
    SetIpField(C(IDC_GATEWAY), 3, L"1");  // the blank fields go out as 0
    record = ApplyOk();
    EXPECT_EQ(record, FactoryMode1()
                          .U32(72, MAKEIPADDRESS(10, 0, 0, 5))
                          .U32(76, MAKEIPADDRESS(255, 255, 255, 0))
                          .U32(80, MAKEIPADDRESS(0, 0, 0, 1))
                          .Text(89, office)
                          .bytes);
}

TEST_F(WifiPage, RecordsOfBothModesAndTheOrderOfChecks) {
    ShowPage({{"connectMode", "0"}, {"deviceId", "-2147483648"}, {"antenna0Baud", "7"}, {"dualAntennaMode", "1"}});

    EXPECT_EQ(ComboSelection(C(IDC_CONNECT_MODE)), 0);
    EXPECT_EQ(T(IDC_NAME_LABEL), ID_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"-2147483648");
    ExpectPlatformShown(false);
    EXPECT_EQ(ComboSelection(C(IDC_ANTENNA0_BAUD)), -1);
    EXPECT_EQ(ComboSelection(C(IDC_ANTENNA1_BAUD)), 4);
    EXPECT_TRUE(Ticked(C(IDC_DUAL_ANTENNA)));
    EXPECT_FALSE(Ticked(C(IDC_DHCP)));
    EXPECT_EQ(T(IDC_SUBNET_MASK), L"255.255.255.0");

    // Mode 0 as received: the fixed name and password, no platform, the ID
    // written back as it came, no antenna 0 rate.
    Expected mode0;
    mode0.Text(1, "admin").Text(33, "602417");
    mode0.U32(72, MAKEIPADDRESS(192, 168, 1, 100)).U32(76, MAKEIPADDRESS(255, 255, 255, 0));
    mode0.U32(80, MAKEIPADDRESS(192, 168, 1, 1));
    mode0.Byte(85, 255).Byte(86, 4).Byte(88, 1);
    mode0.Text(89, "FactoryAP").Text(121, "wifipass123").U32(153, 0x80000000u);
    EXPECT_EQ(ApplyOk(), mode0.bytes);

    // A rate picked by the user (checked in the mode 1 record below).
    SelectCombo(C(IDC_ANTENNA0_BAUD), 2);

    // Mode 0, fixed addressing: a blank mask is found before the empty name.
    ClearIp(C(IDC_SUBNET_MASK));
    SetText(C(IDC_WIFI_SSID), L"");
    ApplyFails(IP_INVALID);
    SetIpAddress(C(IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 0, 0));

    // Mode 1 brings the stored name, password and platform back.
    ChooseMode(1);
    EXPECT_EQ(T(IDC_NAME_LABEL), NAME_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(T(IDC_PASSWORD), L"pass1234");
    EXPECT_EQ(T(IDC_PLATFORM_IP), L"192.168.1.10");
    EXPECT_EQ(T(IDC_PLATFORM_PORT), L"502");
    ExpectPlatformShown(true);

    // Opening the list without choosing puts the stored values back.
    SetText(C(IDC_NAME_OR_ID), L"edited");
    SetText(C(IDC_PLATFORM_PORT), L"999");
    DropModeList();
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(T(IDC_PLATFORM_PORT), L"502");
    EXPECT_EQ(ComboSelection(C(IDC_CONNECT_MODE)), 1);

    // Mode 1: the empty port is found before the empty WiFi name.
    SetText(C(IDC_PLATFORM_PORT), L"");
    ApplyFails(L"平台端口不能为空");

    SetText(C(IDC_PLATFORM_PORT), L"70000");  // low 16 bits: 0x1170
    SetText(C(IDC_WIFI_SSID), L"net");
    SetText(C(IDC_PASSWORD), std::wstring(30, L'p'));
    const std::vector<uint8_t> r = ApplyOk();
    Expected mode1;
    mode1.Byte(0, 1).Text(1, "reader01").Text(33, std::string(29, 'p'));
    mode1.U32(65, MAKEIPADDRESS(192, 168, 1, 10)).Byte(69, 0x11).Byte(70, 0x70);
    mode1.U32(72, MAKEIPADDRESS(192, 168, 1, 100)).U32(76, MAKEIPADDRESS(255, 255, 0, 0));
    mode1.U32(80, MAKEIPADDRESS(192, 168, 1, 1));
    mode1.Byte(85, 2).Byte(86, 4).Byte(88, 1).Text(89, "net").Text(121, "wifipass123");
    EXPECT_EQ(r, mode1.bytes);

    // Back to mode 0: the stored ID again, the platform section hidden.
    ChooseMode(0);
    EXPECT_EQ(T(IDC_NAME_LABEL), ID_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"-2147483648");
    ExpectPlatformShown(false);
}

TEST_F(WifiPage, ClosingGreysAndOpeningEmpties) {
    ShowPage();
    const std::wstring version = T(IDC_VERSION);
    Press(IDC_DUAL_ANTENNA);
    Press(IDC_DHCP);
    ASSERT_TRUE(Ticked(C(IDC_DHCP)));
    ASSERT_TRUE(Ticked(C(IDC_DUAL_ANTENNA)));

    Press(IDC_PORT_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return T(IDC_PORT_BUTTON) == OPEN_PORT_TEXT; }, 3000));
    EXPECT_TRUE(IsWindowEnabled(C(IDC_PORT_LIST)));
    for (int id : {IDC_WIFI_SSID, IDC_WIFI_PASSWORD, IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DHCP,
                   IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA, IDC_DUAL_WARNING, IDC_CONNECT_MODE,
                   IDC_NAME_OR_ID, IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY}) {
        EXPECT_FALSE(IsWindowEnabled(C(id))) << "still enabled: " << id;
    }
    // Greyed, not emptied.
    EXPECT_EQ(T(IDC_VERSION), version);
    EXPECT_EQ(T(IDC_WIFI_SSID), L"FactoryAP");
    EXPECT_EQ(T(IDC_NAME_LABEL), NAME_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(ComboSelection(C(IDC_ANTENNA1_BAUD)), 4);
    ExpectPlatformShown(true);

    // The reply comes late so that the waiting state can be looked at.
    SetFault("late:1500");
    SetField("dhcpEnabled", "1");
    SetField("ipAddress", "10.7.7.7");
    Press(IDC_PORT_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return T(IDC_PORT_BUTTON) == CLOSE_PORT_TEXT; }, 1000));
    for (int id : {IDC_VERSION, IDC_WIFI_SSID, IDC_WIFI_PASSWORD}) EXPECT_EQ(T(id), L"") << id;
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) EXPECT_TRUE(Blank(C(id))) << id;
    for (int id : {IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_CONNECT_MODE}) EXPECT_EQ(ComboSelection(C(id)), -1) << id;
    EXPECT_FALSE(Ticked(C(IDC_DUAL_ANTENNA)));
    EXPECT_TRUE(Ticked(C(IDC_DHCP))) << "the DHCP box keeps its state";
    EXPECT_FALSE(IsWindowVisible(C(IDC_NAME_LABEL)));
    EXPECT_FALSE(IsWindowVisible(C(IDC_NAME_OR_ID)));
    ExpectPlatformShown(false);
    EXPECT_FALSE(IsWindowEnabled(C(IDC_PORT_LIST)));

    // The reply brings everything back; the address controls greyed by the
    // closing stay greyed under DHCP.
    ASSERT_TRUE(WaitFor([&] { return T(IDC_WIFI_SSID) == L"FactoryAP"; }, REPLY_WAIT_MS));
    Settle();
    EXPECT_EQ(T(IDC_VERSION), version);
    EXPECT_TRUE(Ticked(C(IDC_DHCP)));
    EXPECT_EQ(T(IDC_IP_ADDRESS), L"10.7.7.7");
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) EXPECT_FALSE(IsWindowEnabled(C(id))) << id;
    for (int id : {IDC_WIFI_SSID, IDC_WIFI_PASSWORD, IDC_DHCP, IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD,
                   IDC_DUAL_ANTENNA, IDC_DUAL_WARNING, IDC_CONNECT_MODE, IDC_NAME_OR_ID, IDC_PASSWORD, IDC_EYE,
                   IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY}) {
        EXPECT_TRUE(IsWindowEnabled(C(id))) << "still greyed: " << id;
    }
    EXPECT_TRUE(IsWindowVisible(C(IDC_NAME_OR_ID)));
    ExpectPlatformShown(true);
    EXPECT_EQ(ComboSelection(C(IDC_ANTENNA0_BAUD)), 4);
    EXPECT_FALSE(Ticked(C(IDC_DUAL_ANTENNA)));
    EXPECT_EQ(FactoryMode1().Byte(71, 1).bytes, ApplyOk());
}

TEST_F(WifiPage, LaterRepliesReinitialiseInPlace) {
    ShowPage();
    const RECT rect = WindowRect(app.main);
    const int ports = ComboCount(C(IDC_PORT_LIST));
    EXPECT_EQ(T(IDC_SUBNET_MASK), L"255.255.255.0");

    // A DHCP reader now: the previous reader's mask and gateway do not stay
    // behind, so unticking the box cannot send them.
    PushReply(WifiReader({{"dhcpEnabled", "1"}, {"ipAddress", "10.9.8.7"}}));
    ASSERT_TRUE(WaitFor([&] { return T(IDC_IP_ADDRESS) == L"10.9.8.7"; }, REPLY_WAIT_MS));
    Settle();
    EXPECT_TRUE(Ticked(C(IDC_DHCP)));
    EXPECT_TRUE(Blank(C(IDC_SUBNET_MASK)));
    EXPECT_TRUE(Blank(C(IDC_GATEWAY)));
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) EXPECT_TRUE(IsWindowEnabled(C(id))) << id;
    Press(IDC_DHCP);
    ASSERT_FALSE(Ticked(C(IDC_DHCP)));
    Click(C(IDC_APPLY));
    EXPECT_EQ(AnswerMessageBox(app, 3000), IP_INVALID);

    // A reader of another type: the WiFi page stays and reads the record
    // with its own layout (device ID from bytes 170-173).
    PushReply(WifiReader({{"deviceId", "4242"},
                          {"wifiSsid", "OtherAP"},
                          {"connectMode", "0"},
                          {"deviceType", "1"}}));
    ASSERT_TRUE(WaitFor([&] { return T(IDC_WIFI_SSID) == L"OtherAP"; }, REPLY_WAIT_MS));
    Settle();
    EXPECT_EQ(WaitPageOfKind(app.main, PAGE_WIFI, 200), wifi);
    EXPECT_EQ(Pages(app.main).size(), 1u);
    const RECT now = WindowRect(app.main);
    EXPECT_EQ(now.top, rect.top);
    EXPECT_EQ(now.bottom, rect.bottom);
    EXPECT_EQ(ComboCount(C(IDC_PORT_LIST)), ports) << "port list filled twice";
    EXPECT_EQ(ComboCount(C(IDC_ANTENNA0_BAUD)), 5);
    EXPECT_EQ(ComboCount(C(IDC_CONNECT_MODE)), 2);
    EXPECT_EQ(T(IDC_PORT_BUTTON), CLOSE_PORT_TEXT);
    EXPECT_EQ(T(IDC_NAME_LABEL), ID_LABEL);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"4242");
    EXPECT_FALSE(Ticked(C(IDC_DHCP)));
    EXPECT_EQ(T(IDC_SUBNET_MASK), L"255.255.255.0");
    EXPECT_TRUE(AppRunning(app));
}
