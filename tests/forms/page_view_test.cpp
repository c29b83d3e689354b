// What the pages show for a stored record, and the reply countdown.
#include <gtest/gtest.h>

#include <thread>

#include "form_helpers.h"
#include "forms/page_view.h"
#include "forms/reply_countdown.h"

namespace {

TEST(PageView, ConnectModeSelectionAndPlatformControls) {
    const struct { int type; uint8_t stored; int selection; bool platform; } cases[] = {
        {1, 0, 0, false}, {2, 1, 1, true}, {3, 0, 0, false}, {3, 2, -1, true}, {1, 255, -1, true},
        {52, 0, -1, true}, {52, 2, -1, true},  // the basic page always shows them
    };
    for (const auto& c : cases) {
        DeviceInfoStore s = StoreFor(c.type);
        s.payload[DI_CONNECT_MODE] = c.stored;
        const PageView v = ViewForPage(c.type, s);
        EXPECT_EQ(v.connectModeSelection, c.selection) << c.type << "/" << int(c.stored);
        EXPECT_EQ(v.showPlatformControls, c.platform) << c.type << "/" << int(c.stored);
    }
}

TEST(PageView, DeviceIdDependsOnProtocolVersionOnlyAtInitialisation) {
    const struct { int type, version; uint32_t stored; const char* atInit; const char* onSwitch; } cases[] = {
        {1, 1, 42, "0", "42"},
        {2, 0, 7, "0", "7"},
        {2, 3, 0xFFFFFFFF, "-1", "-1"},
        {3, 1, 77, "77", "77"},  // the WiFi record always has its device ID
        {52, 2, 42, "", ""},
    };
    for (const auto& c : cases) {
        DeviceInfoStore s = StoreFor(c.type, c.version);
        s.payload[DI_CONNECT_MODE] = 0;
        WriteU32BE(s.payload + (c.type == 3 ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID), c.stored);
        const PageView v = ViewForPage(c.type, s);
        EXPECT_EQ(v.deviceIdAtInit, c.atInit) << c.type << "/" << c.version;
        EXPECT_EQ(v.deviceIdOnSwitch, c.onSwitch) << c.type << "/" << c.version;
    }
}

TEST(PageView, BaudSelectionsTicksAndPortPerPageType) {
    DeviceInfoStore s = StoreFor(3);
    s.payload[DI_RS485_BAUD] = 4;
    s.payload[DI_ANTENNA0_BAUD] = 5;  // out of range: no selection
    s.payload[DI_ANTENNA1_BAUD] = 3;
    s.payload[DI_DUAL_ANTENNA_MODE] = 2;
    s.payload[DI_DHCP_ENABLED] = 1;
    WriteU16BE(s.payload + DI_PLATFORM_PORT, 0xFFFF);
    const struct { int type, rs485, antenna0, antenna1; bool dual, dhcp; } cases[] = {
        {DEVICE_TYPE_DUAL_ANTENNA, 4, -1, 3, true, false},
        {DEVICE_TYPE_SINGLE_ANTENNA, -1, -1, 3, false, false},  // its one antenna is byte 103
        {DEVICE_TYPE_WIFI, -1, -1, 3, true, true},
        {DEVICE_TYPE_BASIC, -1, -1, -1, false, false},
    };
    for (const auto& c : cases) {
        const PageView v = ViewForPage(c.type, s);
        EXPECT_EQ((std::vector<int>{v.baudSelection[0], v.baudSelection[1], v.baudSelection[2], v.dualAntenna, v.dhcp}),
                  (std::vector<int>{c.rs485, c.antenna0, c.antenna1, c.dual, c.dhcp})) << c.type;
        EXPECT_EQ(v.platformPortText, "65535") << c.type;  // never negative
    }
}

TEST(ReplyCountdown, TimesOutOnceAndNotAfterAReplyWhoeverTicks) {
    std::atomic<int32_t> countdown{2};
    std::vector<bool> ticks;
    for (int i = 0; i < 3; ++i) ticks.push_back(TickReplyCountdown(&countdown));
    EXPECT_EQ(ticks, (std::vector<bool>{false, true, false}));  // idle afterwards: stays 0
    EXPECT_EQ(countdown.load(), 0);

    // Two threads ticking at once never lose or repeat the time-out.
    countdown = 20000;
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
