// The Apply chains: byte-exact records, the order of the checks, and the
// conversions of the texts read from the controls.
#include <gtest/gtest.h>

#include <functional>

#include "form_helpers.h"
#include "forms/page_form.h"

namespace {

const int kAllTypes[] = {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI};

Bytes ApplyOk(int type, const PageForm& form) {
    ApplyResult r = RunApplyChain(type, form);
    EXPECT_TRUE(r.ok) << "type " << type << ": " << r.message;
    return r.record;
}

Record Addresses(size_t size) { return std::move(Record(size).At(72, {10, 0, 0, 5, 255, 255, 255, 0, 10, 0, 0, 1})); }

Record Mode1(size_t size, const char* name = "7reader") {
    return std::move(Addresses(size).At(0, {1}).Text(1, name).Text(33, "secret")
                         .At(65, {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6}));
}

Record Mode0(size_t size, size_t idAt) {
    return std::move(Addresses(size).Text(1, "admin").Text(33, "602417").At(idAt, {0, 0, 0x30, 0x39}));
}

TEST(ApplyChain, RecordsAreByteExactPerTypeAndMode) {
    const struct { int type; int selection; Bytes expected; } cases[] = {
        {52, 1, Mode1(93).bytes},
        {52, 0, Mode1(93, "12345").bytes},  // no mode on this page
        {1, 1, Mode1(93).At(84, {1, 2, 4, 0, 1}).bytes},
        {1, 0, Mode0(93, 89).At(84, {1, 2, 4, 0, 1}).bytes},
        {2, 1, Mode1(93).At(86, {4}).bytes},
        {2, 0, Mode0(93, 89).At(86, {4}).bytes},
        {2, -1, Mode1(93).At(86, {4}).bytes},  // any selection but 0, none included, is mode 1
        {3, 1, Mode1(157).At(85, {2, 4, 0, 1}).Text(89, "shop-floor").Text(121, "pass phrase").bytes},
        {3, 0, Mode0(157, 153).At(85, {2, 4, 0, 1}).Text(89, "shop-floor").Text(121, "pass phrase").bytes},
    };
    for (const auto& c : cases) {
        PageForm f = ValidForm(c.selection == 0);
        f.connectModeSelection = c.selection;
        f.dhcp = c.type != DEVICE_TYPE_WIFI;  // pages without the box never read it
        EXPECT_EQ(ApplyOk(c.type, f), c.expected) << "type " << c.type << " selection " << c.selection;
    }
    for (int type : {0, 51}) {
        ApplyResult r = RunApplyChain(type, ValidForm());
        EXPECT_FALSE(r.ok || !r.message.empty() || !r.record.empty()) << type;
    }
}

TEST(ApplyChain, OnlyTheFirstFailedCheckIsReported) {
    const std::vector<int> all = {52, 1, 2, 3}, withMode = {1, 2, 3};
    const AddressField none;
    const struct {
        const char* what;
        std::vector<int> types;
        bool mode0;
        std::function<void(PageForm&)> spoil;
        const char* message;
    } cases[] = {
        {"platform IP first", all, false, [&](PageForm& f) {
             f.platformIp = f.ipAddress = none;
             f.platformPort = f.nameOrId = f.password = f.wifiSsid = "";
         }, MSG_PLATFORM_IP_INVALID},
        {"port before name", all, false, [](PageForm& f) { f.platformPort = f.nameOrId = f.wifiSsid = ""; },
         MSG_PLATFORM_PORT_EMPTY},
        {"name before password", all, false, [&](PageForm& f) { f.nameOrId = f.password = ""; f.gateway = none; },
         MSG_DEVICE_NAME_EMPTY},
        {"password before addresses", all, false, [&](PageForm& f) { f.password = ""; f.subnetMask = none; },
         MSG_DEVICE_PASSWORD_EMPTY},
        {"blank gateway", all, false, [&](PageForm& f) { f.gateway = none; }, MSG_IP_INVALID},
        {"mode 0: mask before id", withMode, true, [&](PageForm& f) { f.subnetMask = none; f.nameOrId = f.wifiSsid = ""; },
         MSG_IP_INVALID},
        {"mode 0: platform controls unread", {1, 2}, true, [&](PageForm& f) {
             f.platformIp = none;
             f.platformPort = f.password = f.nameOrId = "";
         }, MSG_DEVICE_ID_EMPTY},
        {"ssid before pass phrase", {3}, true, [](PageForm& f) { f.wifiSsid = f.wifiPassword = f.nameOrId = ""; },
         MSG_WIFI_SSID_EMPTY},
        {"pass phrase before id", {3}, true, [](PageForm& f) { f.wifiPassword = f.nameOrId = ""; },
         MSG_WIFI_PASSWORD_EMPTY},
        {"DHCP skips the addresses", {3}, true, [&](PageForm& f) {
             f.dhcp = true;
             f.ipAddress = f.subnetMask = f.gateway = none;
             f.nameOrId = "";
         }, MSG_DEVICE_ID_EMPTY},
    };
    for (const auto& c : cases) {
        for (int type : c.types) {
            PageForm f = ValidForm(c.mode0);
            c.spoil(f);
            ApplyResult r = RunApplyChain(type, f);
            EXPECT_EQ(r.message, c.message) << c.what << ", type " << type;
            EXPECT_FALSE(r.ok || !r.record.empty()) << c.what << ", type " << type;
        }
    }
    PageForm blank = ValidForm();
    blank.password = " ";  // only a text without characters is empty
    EXPECT_TRUE(RunApplyChain(DEVICE_TYPE_BASIC, blank).ok);
}

TEST(ApplyChain, NumberTextsWrapToTheirFields) {
    const struct { const char* text; uint8_t hi, lo; } ports[] = {{"502", 0x01, 0xF6}, {"70000", 0x11, 0x70}, {"-1", 0xFF, 0xFF}};
    for (const auto& c : ports) {
        PageForm f = ValidForm();
        f.platformPort = c.text;
        for (int type : kAllTypes) EXPECT_EQ(Slice(ApplyOk(type, f), 69, 2), (Bytes{c.hi, c.lo})) << c.text << " " << type;
    }
    const struct { const char* text; uint32_t value; } ids[] = {
        {"-1", 0xFFFFFFFF}, {"12ab", 12}, {"abc", 0},
        {"                               7", 0},  // only 31 bytes are read
    };
    for (const auto& c : ids) {
        PageForm f = ValidForm(true);
        f.nameOrId = c.text;
        for (int type : {1, 2, 3})
            EXPECT_EQ(ReadU32BE(&ApplyOk(type, f)[type == DEVICE_TYPE_WIFI ? 153 : 89]), c.value) << c.text << " " << type;
    }
}

TEST(ApplyChain, SelectionsAddressesAndDhcp) {
    // No selection is sent as 255, an unticked box as 0.
    PageForm f = ValidForm();
    f.baud[BAUD_RS485] = f.baud[BAUD_ANTENNA0] = f.baud[BAUD_ANTENNA1] = -1;
    f.dualAntenna = false;
    EXPECT_EQ(Slice(ApplyOk(DEVICE_TYPE_DUAL_ANTENNA, f), 84, 5), (Bytes{255, 255, 255, 0, 0}));
    EXPECT_EQ(ApplyOk(DEVICE_TYPE_SINGLE_ANTENNA, f)[86], 255);

    // A partly typed address is not blank; its empty fields are 0.
    f = ValidForm();
    f.ipAddress = Addr(0x0A000000);
    f.platformIp = Addr(0);
    for (int type : kAllTypes)
        EXPECT_EQ(Slice(ApplyOk(type, f), 65, 11), Record(11).At(4, {0x01, 0xF6, 0, 10}).bytes) << type;

    // WiFi with DHCP sends zero addresses and does not read them.
    f = ValidForm();
    f.dhcp = true;
    f.subnetMask = AddressField{};
    EXPECT_EQ(Slice(ApplyOk(DEVICE_TYPE_WIFI, f), 71, 13), Record(13).At(0, {1}).bytes);
}

TEST(ApplyChain, TextsAreCutToTheirLimitsWithoutSplittingCharacters) {
    const std::string forty(40, 'n');
    std::string gbk15;  // fifteen double-byte characters: 30 bytes
    for (int i = 0; i < 15; ++i) gbk15 += "\xD6\xD0";
    PageForm f = ValidForm();
    f.nameOrId = f.wifiSsid = forty;
    f.password = gbk15;
    f.wifiPassword = gbk15 + "x";  // 31 bytes fit exactly
    for (int type : kAllTypes) {
        const Bytes r = ApplyOk(type, f);
        EXPECT_EQ(Slice(r, 1, 64), Record(64).Text(0, forty.substr(0, 29)).Text(32, gbk15.substr(0, 28)).bytes) << type;
        if (type == DEVICE_TYPE_WIFI) {
            EXPECT_EQ(Slice(r, 89, 64), Record(64).Text(0, forty.substr(0, 31)).Text(32, gbk15 + "x").bytes);
        }
    }
}

}  // namespace
