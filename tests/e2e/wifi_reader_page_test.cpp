// WifiReaderPage against the simulated reader: what the page shows for a
// reply, the DHCP box, the 157-byte records Apply writes in both modes,
// and a reply that arrives while the page is shown.
#include <functional>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "serial/line.h"

namespace {

const wchar_t* const IP_INVALID = L"IP格式不对";
const wchar_t* const NAME_LABEL = L"设备名称：";
const wchar_t* const ID_LABEL = L"设备ID：";

// The factory reader's record with the page's fixed parts.
Record WifiFactory(int mode) {
    return std::move(FactoryRecord(mode, 157).At(85, {4, 4}).Text(89, "FactoryAP").Text(121, "wifipass123"));
}

class WifiPage : public ReaderTest {
protected:
    HWND C(int id) { return Item(device, id); }
    std::wstring T(int id) { return ItemText(device, id); }
    void ExpectPlatformShown(bool shown) {
        EXPECT_EQ(ControlsWhere(device, true), shown ? std::set<int>{} : kModeOneControls);
    }

    // Sends an information reply as if the reader had spoken on its own:
    // the simulated reader leaves the line and the reply is written by
    // hand, again if the page has not shown it (the line may still be
    // settling after the reader left it).
    void PushReply(const Fields& fields, const std::function<bool()>& shown) {
        SimRunnerStop(runner);
        runner = nullptr;
        SimReader reader;
        SimInit(&reader, DEVICE_TYPE_WIFI);
        std::string error;
        for (const auto& f : fields) ASSERT_TRUE(SimSetField(&reader, f.first, f.second, &error)) << error;
        SerialLine* line = LineOpen(simPort, &error);
        ASSERT_NE(line, nullptr) << error;
        const std::vector<uint8_t> frame = SimInfoReplyFrame(&reader);
        bool done = false;
        for (int attempt = 0; attempt < 3 && !done; ++attempt) {
            EXPECT_TRUE(LineWrite(line, frame.data(), frame.size()));
            done = WaitFor(shown, 2000);
        }
        LineClose(line);
        ASSERT_TRUE(done) << "the reply was not shown";
        SendTo(app.main, WM_NULL);
    }
};

TEST_F(WifiPage, DhcpReplyTheDhcpBoxAndModeOneRecords) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_WIFI, {{"dhcpEnabled", "1"}, {"ipAddress", "10.1.2.3"},
                                                          {"wifiSsid", "hex:B0ECB9ABCAD2"}}));  // "办公室"
    // Under DHCP only the reader's own address is shown; all three stay enabled.
    EXPECT_TRUE(Ticked(device, IDC_DHCP));
    EXPECT_EQ(T(IDC_IP_ADDRESS), L"10.1.2.3");
    EXPECT_TRUE(Blank(device, IDC_SUBNET_MASK) && Blank(device, IDC_GATEWAY));
    EXPECT_EQ(ControlsWhere(device, false), std::set<int>{IDC_PORT_LIST});
    ExpectTexts({{IDC_VERSION, L"V2.1.8"}, {IDC_WIFI_SSID, L"办公室"}, {IDC_WIFI_PASSWORD, L"wifipass123"},
                 {IDC_ANTENNA0_BAUD, L"115200（默认）"}, {IDC_ANTENNA1_BAUD, L"115200（默认）"}, {IDC_NAME_LABEL, NAME_LABEL},
                 {IDC_CONNECT_MODE, MODE_CONNECT_TEXT}, {IDC_NAME_OR_ID, L"reader01"}, {IDC_PLATFORM_IP, L"192.168.1.10"},
                 {IDC_PLATFORM_PORT, L"502"}});
    // Index 0 must be mode 0 whatever the sorted style would make of it.
    ASSERT_EQ(ComboCount(C(IDC_CONNECT_MODE)), 2);
    EXPECT_EQ(ComboItem(C(IDC_CONNECT_MODE), 0), L"等待平台连接（默认）");
    ExpectPlatformShown(true);

    // With DHCP the addresses are neither read nor sent, whatever they show.
    SetIpAddress(C(IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 255, 0));
    const std::string office("\xB0\xEC\xB9\xAB\xCA\xD2\0\0\0", 9);  // over "FactoryAP"
    EXPECT_EQ(ApplyRecord(device), WifiFactory(1).At(71, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Text(89, office).bytes);

    // Unticked the three are enabled; ticking greys and empties them,
    // unticking gives them back empty.
    Toggle(IDC_DHCP);
    EXPECT_EQ(ControlsWhere(device, false), std::set<int>{IDC_PORT_LIST});
    Toggle(IDC_DHCP);
    for (int id : kAddresses) EXPECT_TRUE(!IsWindowEnabled(C(id)) && Blank(device, id)) << id;
    Toggle(IDC_DHCP);
    for (int id : kAddresses) EXPECT_TRUE(IsWindowEnabled(C(id)) && Blank(device, id)) << id;

    // Fixed addressing wants all three; a blank mask is found before an empty WiFi name.
    SetIpAddress(C(IDC_IP_ADDRESS), MAKEIPADDRESS(10, 0, 0, 5));
    SetIpAddress(C(IDC_GATEWAY), MAKEIPADDRESS(10, 0, 0, 1));
    SetText(C(IDC_WIFI_SSID), L"");
    EXPECT_EQ(Apply(device), IP_INVALID);
    EXPECT_EQ(FramesReceived(), 0) << "a refused Apply sent a frame";
    SetIpAddress(C(IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 0, 0));
    SetText(C(IDC_PLATFORM_PORT), L"503");
    SelectCombo(C(IDC_ANTENNA0_BAUD), 2);
    SetText(C(IDC_WIFI_SSID), L"net");
    EXPECT_EQ(ApplyRecord(device), WifiFactory(1).At(70, {0xF7}).At(72, {10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1})
                                       .At(85, {2}).Text(89, std::string("net\0\0\0\0\0\0", 9)).bytes);
}

TEST_F(WifiPage, ModeZeroRecordAndSwitchingModes) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_WIFI, {{"connectMode", "0"}, {"deviceId", "-2147483648"},
                                                          {"antenna0Baud", "7"}, {"dualAntennaMode", "1"}}));
    EXPECT_EQ(ComboSelection(C(IDC_CONNECT_MODE)), 0);
    ExpectTexts({{IDC_NAME_LABEL, ID_LABEL}, {IDC_NAME_OR_ID, L"-2147483648"}, {IDC_SUBNET_MASK, L"255.255.255.0"}});
    ExpectPlatformShown(false);
    EXPECT_EQ(ComboSelection(C(IDC_ANTENNA0_BAUD)), -1);
    EXPECT_TRUE(Ticked(device, IDC_DUAL_ANTENNA));
    EXPECT_FALSE(Ticked(device, IDC_DHCP));

    // The fixed name and password, no platform, the ID as it came, no antenna 0 rate.
    EXPECT_EQ(ApplyRecord(device), WifiFactory(0).At(85, {255, 4, 0, 1}).At(153, {0x80, 0, 0, 0}).bytes);

    // Mode 1 brings the stored name, password and platform back, and back again the ID.
    ChooseMode(1);
    ExpectTexts({{IDC_NAME_LABEL, NAME_LABEL}, {IDC_PASSWORD, L"pass1234"}, {IDC_PLATFORM_PORT, L"502"}});
    ExpectPlatformShown(true);
    ChooseMode(0);
    EXPECT_EQ(T(IDC_NAME_OR_ID), L"-2147483648");
    ExpectPlatformShown(false);
}

TEST_F(WifiPage, DhcpRepliesClearTheAddressesTheyDoNotSend) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_WIFI));
    EXPECT_EQ(T(IDC_SUBNET_MASK), L"255.255.255.0");

    // A DHCP reader now: the previous reader's mask and gateway do not stay
    // behind, so unticking the box cannot send them.
    ASSERT_NO_FATAL_FAILURE(
        PushReply({{"dhcpEnabled", "1"}, {"ipAddress", "10.9.8.7"}}, [&] { return T(IDC_IP_ADDRESS) == L"10.9.8.7"; }));
    EXPECT_TRUE(Ticked(device, IDC_DHCP));
    EXPECT_TRUE(Blank(device, IDC_SUBNET_MASK) && Blank(device, IDC_GATEWAY));
    Toggle(IDC_DHCP);
    Click(C(IDC_APPLY));
    EXPECT_EQ(AnswerMessageBox(app, 3000), IP_INVALID);

    // Ticked, closed and reopened: the box keeps its state and the reply's
    // addresses stay greyed under it.
    Toggle(IDC_DHCP);
    StartReader(DEVICE_TYPE_WIFI);
    SetFields({{"dhcpEnabled", "1"}, {"ipAddress", "10.7.7.7"}});
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    EXPECT_TRUE(Ticked(device, IDC_DHCP));
    ASSERT_TRUE(WaitFor([&] { return T(IDC_IP_ADDRESS) == L"10.7.7.7"; }, REPLY_WAIT_MS));
    SendTo(app.main, WM_NULL);
    for (int id : kAddresses) EXPECT_FALSE(IsWindowEnabled(C(id))) << id;
}

}  // namespace
