// What the pages show for a stored record, and the reply countdown.
#include <gtest/gtest.h>

#include <thread>

#include "form_helpers.h"
#include "forms/page_view.h"
#include "forms/reply_countdown.h"
#include "protocol/bytes.h"

namespace {

// A stored reply of deviceType type with distinct values in every field.
DeviceInfoStore StoreFor(int type, int protocolVersion) {
    DeviceInfoStore s = EmptyStore();
    s.deviceType = type;
    s.protocolVersion = protocolVersion;
    uint8_t* p = s.payload;
    std::memcpy(p + DI_FIRMWARE_VERSION, "V2.1.7", 6);
    p[DI_DEVICE_TYPE] = static_cast<uint8_t>(type);
    p[DI_CONNECT_MODE] = 1;
    std::memcpy(p + DI_DEVICE_NAME, "gate-3", 6);
    std::memcpy(p + DI_DEVICE_PASSWORD, "\xC3\xDC\xC2\xEB", 4);  // GBK text
    WriteU32BE(p + DI_PLATFORM_IP, 0xC0A8010A);
    WriteU16BE(p + DI_PLATFORM_PORT, 0x01F6);
    WriteU32BE(p + DI_IP_ADDRESS, 0x0A000005);
    WriteU32BE(p + DI_SUBNET_MASK, 0xFFFFFF00);
    WriteU32BE(p + DI_GATEWAY, 0x0A000001);
    p[DI_RS485_BAUD] = 0;
    p[DI_ANTENNA0_BAUD] = 1;
    p[DI_ANTENNA1_BAUD] = 2;
    p[DI_DUAL_ANTENNA_MODE] = 0;
    if (type == DEVICE_TYPE_WIFI) {
        std::memcpy(p + DI_WIFI_SSID, "floor-2", 7);
        std::memcpy(p + DI_WIFI_PASSWORD, "wpa words", 9);
        WriteU32BE(p + DI_WIFI_DEVICE_ID, 77);
    } else {
        WriteU32BE(p + DI_DEVICE_ID, 42);
    }
    return s;
}

TEST(PageView, CommonFieldsForEveryPage) {
    for (int type : {52, 1, 2, 3}) {
        PageView v = ViewForPage(type, StoreFor(type, 2));
        EXPECT_EQ(v.firmwareVersion, "V2.1.7");
        EXPECT_EQ(v.ipAddress, 0x0A000005u);
        EXPECT_EQ(v.subnetMask, 0xFFFFFF00u);
        EXPECT_EQ(v.gateway, 0x0A000001u);
        EXPECT_EQ(v.deviceName, "gate-3");
        EXPECT_EQ(v.devicePassword, "\xC3\xDC\xC2\xEB");
        EXPECT_EQ(v.platformIp, 0xC0A8010Au);
        EXPECT_EQ(v.platformPortText, "502");
    }
    DeviceInfoStore s = StoreFor(52, 2);
    WriteU16BE(s.payload + DI_PLATFORM_PORT, 0xFFFF);
    EXPECT_EQ(ViewForPage(52, s).platformPortText, "65535");  // never negative
}

TEST(PageView, BasicReaderAlwaysShowsThePlatformControls) {
    for (uint8_t mode : {0, 1, 2}) {
        DeviceInfoStore s = StoreFor(52, 2);
        s.payload[DI_CONNECT_MODE] = mode;
        s.payload[DI_DHCP_ENABLED] = 1;
        PageView v = ViewForPage(DEVICE_TYPE_BASIC, s);
        EXPECT_TRUE(v.showPlatformControls) << int(mode);
        EXPECT_FALSE(v.dhcp);
        EXPECT_TRUE(v.deviceIdAtInit.empty());
    }
}

TEST(PageView, ConnectModeSelectionAndPlatformControls) {
    const struct {
        uint8_t stored;
        int selection;
        bool platform;
    } cases[] = {{0, 0, false}, {1, 1, true}, {2, -1, true}, {255, -1, true}};
    for (int type : {1, 2, 3}) {
        for (const auto& c : cases) {
            DeviceInfoStore s = StoreFor(type, 2);
            s.payload[DI_CONNECT_MODE] = c.stored;
            PageView v = ViewForPage(type, s);
            EXPECT_EQ(v.connectModeSelection, c.selection) << type << "/" << int(c.stored);
            EXPECT_EQ(v.showPlatformControls, c.platform) << type << "/" << int(c.stored);
        }
    }
}

TEST(PageView, DeviceIdDependsOnProtocolVersionOnlyAtInitialisation) {
    const struct {
        int type;
        int version;
        uint32_t stored;
        const char* atInit;
        const char* onSwitch;
    } cases[] = {
        {1, 1, 42, "0", "42"},
        {2, 1, 7, "0", "7"},
        {1, 0, 42, "0", "42"},
        {1, 2, 42, "42", "42"},
        {2, 3, 0x00003039, "12345", "12345"},
        {2, 2, 0xFFFFFFFF, "-1", "-1"},
        {1, 2, 0x80000000, "-2147483648", "-2147483648"},
        {3, 1, 77, "77", "77"},  // the WiFi record always has its device ID
        {3, 2, 0x80000000, "-2147483648", "-2147483648"},
    };
    for (const auto& c : cases) {
        DeviceInfoStore s = StoreFor(c.type, c.version);
        s.payload[DI_CONNECT_MODE] = 0;
        WriteU32BE(s.payload + (c.type == 3 ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID), c.stored);
        PageView v = ViewForPage(c.type, s);
        EXPECT_EQ(v.deviceIdAtInit, c.atInit) << c.type << "/" << c.version;
        EXPECT_EQ(v.deviceIdOnSwitch, c.onSwitch) << c.type << "/" << c.version;
    }
}

TEST(PageView, BaudSelectionsPerPageType) {
    EXPECT_EQ(BaudSelection(0), 0);
    EXPECT_EQ(BaudSelection(4), 4);
    EXPECT_EQ(BaudSelection(5), -1);
    EXPECT_EQ(BaudSelection(255), -1);

    DeviceInfoStore s = StoreFor(1, 2);
    s.payload[DI_RS485_BAUD] = 4;
    s.payload[DI_ANTENNA0_BAUD] = 9;
    s.payload[DI_ANTENNA1_BAUD] = 3;
    const struct {
        int type;
        int rs485, antenna0, antenna1;
    } cases[] = {
        {DEVICE_TYPE_DUAL_ANTENNA, 4, -1, 3},
        {DEVICE_TYPE_SINGLE_ANTENNA, -1, -1, 3},  // its one antenna is byte 103
        {DEVICE_TYPE_WIFI, -1, -1, 3},            // no RS485 on the WiFi page
        {DEVICE_TYPE_BASIC, -1, -1, -1},
    };
    for (const auto& c : cases) {
        PageView v = ViewForPage(c.type, s);
        EXPECT_EQ(v.baudSelection[BAUD_RS485], c.rs485) << c.type;
        EXPECT_EQ(v.baudSelection[BAUD_ANTENNA0], c.antenna0) << c.type;
        EXPECT_EQ(v.baudSelection[BAUD_ANTENNA1], c.antenna1) << c.type;
    }
    EXPECT_EQ(std::string(BAUD_LIST[4]), "115200（默认）");
    EXPECT_EQ(std::string(CONNECT_MODE_LIST[0]), "等待平台连接（默认）");
    EXPECT_EQ(std::string(CONNECT_MODE_LIST[1]), "主动连接平台");
}

TEST(PageView, ChecksAndWifiTexts) {
    DeviceInfoStore s = StoreFor(3, 1);
    s.payload[DI_DUAL_ANTENNA_MODE] = 2;
    s.payload[DI_DHCP_ENABLED] = 1;
    PageView wifi = ViewForPage(DEVICE_TYPE_WIFI, s);
    EXPECT_TRUE(wifi.dualAntenna);
    EXPECT_TRUE(wifi.dhcp);
    EXPECT_EQ(wifi.wifiSsid, "floor-2");
    EXPECT_EQ(wifi.wifiPassword, "wpa words");

    PageView dual = ViewForPage(DEVICE_TYPE_DUAL_ANTENNA, s);
    EXPECT_TRUE(dual.dualAntenna);
    EXPECT_FALSE(dual.dhcp);  // the dual page has no DHCP setting
    EXPECT_TRUE(dual.wifiSsid.empty());
    EXPECT_FALSE(ViewForPage(DEVICE_TYPE_SINGLE_ANTENNA, s).dualAntenna);
}

// What a page shows, applied unchanged, writes back what the reader sent:
// catches fields read and written at mismatched offsets.
TEST(PageView, UnchangedPageWritesBackTheStoredSettings) {
    for (int type : {1, 2, 3}) {
        for (uint8_t mode : {0, 1}) {
            DeviceInfoStore s = StoreFor(type, 2);
            s.payload[DI_CONNECT_MODE] = mode;
            s.payload[DI_DUAL_ANTENNA_MODE] = 1;
            PageView v = ViewForPage(type, s);

            PageForm f;
            f.connectModeSelection = v.connectModeSelection;
            f.platformIp = Addr(0, 0, 0, 0);
            f.platformIp.value = v.platformIp;
            f.platformPort = v.platformPortText;
            f.nameOrId = v.showPlatformControls ? v.deviceName : v.deviceIdAtInit;
            f.password = v.devicePassword;
            f.ipAddress = Addr(0, 0, 0, 0);
            f.ipAddress.value = v.ipAddress;
            f.subnetMask = Addr(0, 0, 0, 0);
            f.subnetMask.value = v.subnetMask;
            f.gateway = Addr(0, 0, 0, 0);
            f.gateway.value = v.gateway;
            for (int i = 0; i < BAUD_FIELD_COUNT; ++i) f.baud[i] = v.baudSelection[i];
            f.dualAntenna = v.dualAntenna;
            f.dhcp = v.dhcp;
            f.wifiSsid = v.wifiSsid;
            f.wifiPassword = v.wifiPassword;

            ApplyResult r = RunApplyChain(type, f);
            ASSERT_TRUE(r.ok) << type << ": " << r.message;
            const std::vector<uint8_t>& rec = r.record;
            const uint8_t* p = s.payload;
            EXPECT_EQ(rec[0], mode);
            // From deviceName on every field sits 17 bytes earlier.
            const size_t from = mode == 1 ? 1 : 65 + 6;  // mode 0 writes fixed credentials
            for (size_t i = from; i < 84; ++i) {
                if (i == 71) continue;  // dhcpEnabled: the pages write their own
                EXPECT_EQ(rec[i], p[i + 17]) << "type " << type << " byte " << i;
            }
            EXPECT_EQ(rec[84], type == DEVICE_TYPE_DUAL_ANTENNA ? p[101] : 0) << type;
            EXPECT_EQ(rec[85], type == DEVICE_TYPE_SINGLE_ANTENNA ? 0 : p[102]) << type;
            EXPECT_EQ(rec[86], p[103]) << type;
            EXPECT_EQ(rec[88], type == DEVICE_TYPE_SINGLE_ANTENNA ? 0 : 1) << type;
            const size_t idAt = type == DEVICE_TYPE_WIFI ? 153 : 89;
            const size_t storedId = type == DEVICE_TYPE_WIFI ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID;
            const uint32_t sent = ReadU32BE(&rec[idAt]);
            EXPECT_EQ(sent, mode == 0 ? ReadU32BE(p + storedId) : 0u) << type;
            if (type == DEVICE_TYPE_WIFI) {
                EXPECT_EQ(Slice(rec, 89, 64), std::vector<uint8_t>(p + 106, p + 170));
            }
        }
    }
}

TEST(ReplyCountdown, CountsDownToOneTimeOut) {
    std::atomic<int32_t> countdown{3};
    EXPECT_FALSE(TickReplyCountdown(&countdown));
    EXPECT_FALSE(TickReplyCountdown(&countdown));
    EXPECT_TRUE(TickReplyCountdown(&countdown));
    EXPECT_EQ(countdown.load(), 0);
    EXPECT_FALSE(TickReplyCountdown(&countdown));  // idle: stays 0
    EXPECT_EQ(countdown.load(), 0);

    countdown = 2;
    TickReplyCountdown(&countdown);
    countdown = 0;  // the reply arrived
    EXPECT_FALSE(TickReplyCountdown(&countdown));
    EXPECT_EQ(countdown.load(), 0);
}

TEST(ReplyCountdown, ConcurrentTicksNeverLoseOrRepeatTheTimeOut) {
    std::atomic<int32_t> countdown{20000};
    std::atomic<int> timeOuts{0};
    auto ticker = [&] {
        for (int i = 0; i < 15000; ++i)
            if (TickReplyCountdown(&countdown)) ++timeOuts;
    };
    std::thread a(ticker), b(ticker);
    a.join();
    b.join();
    EXPECT_EQ(countdown.load(), 0);
    EXPECT_EQ(timeOuts.load(), 1);
}

}  // namespace
