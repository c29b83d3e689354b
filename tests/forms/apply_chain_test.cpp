// The Apply chains: byte-exact records, the order of the checks, and the
// conversions of the texts read from the controls.
#include <gtest/gtest.h>

#include <functional>

#include "form_helpers.h"
#include "forms/page_form.h"
#include "protocol/config_record.h"

namespace {

const int kAllTypes[] = {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA,
                         DEVICE_TYPE_WIFI};

std::vector<uint8_t> ApplyOk(int type, const PageForm& form) {
    ApplyResult r = RunApplyChain(type, form);
    EXPECT_TRUE(r.ok) << "type " << type << ": " << r.message;
    return r.record;
}

TEST(ApplyChain, BasicReaderRecordIsByteExact) {
    PageForm f;
    f.platformIp = Addr(192, 168, 1, 10);
    f.platformPort = "502";
    f.nameOrId = "admin";
    f.password = "pw-1";
    f.ipAddress = Addr(10, 0, 0, 5);
    f.subnetMask = Addr(255, 255, 255, 0);
    f.gateway = Addr(10, 0, 0, 1);
    // Controls the page does not have must not leak into its record.
    f.connectModeSelection = 0;
    f.dhcp = true;
    f.baud[0] = f.baud[1] = f.baud[2] = 3;
    f.dualAntenna = true;

    std::vector<uint8_t> expected(93, 0);
    expected[0] = 1;
    std::memcpy(&expected[1], "admin", 5);
    std::memcpy(&expected[33], "pw-1", 4);
    const uint8_t tail[] = {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6, 0x00,  // 65-71
                            0x0A, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0x00,
                            0x0A, 0x00, 0x00, 0x01};  // 72-83; 84-92 stay 0
    std::memcpy(&expected[65], tail, sizeof tail);

    EXPECT_EQ(ApplyOk(DEVICE_TYPE_BASIC, f), expected);
}

TEST(ApplyChain, RecordLengthsAndUnknownTypes) {
    for (int type : kAllTypes) {
        const size_t want = type == DEVICE_TYPE_WIFI ? 157u : 93u;
        EXPECT_EQ(ApplyOk(type, ValidForm()).size(), want) << type;
        EXPECT_EQ(ApplyOk(type, ValidForm(true)).size(), want) << type;
    }
    for (int type : {0, 4, 7, 51, 255, -1}) {
        ApplyResult r = RunApplyChain(type, ValidForm());
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.empty());
        EXPECT_TRUE(r.record.empty());
    }
}

// Several faults at once: only the first check in the chain's order speaks.
struct FailureCase {
    const char* what;
    std::vector<int> types;
    bool mode0;
    std::function<void(PageForm&)> spoil;
    const char* message;
};

TEST(ApplyChain, OnlyTheFirstFailedCheckIsReported) {
    const std::vector<int> mode1Types = {52, 1, 2, 3};
    const std::vector<int> modeTypes = {1, 2, 3};
    const std::vector<FailureCase> cases = {
        {"blank platform IP beats everything", mode1Types, false,
         [](PageForm& f) {
             f.platformIp = AddressField{};
             f.platformPort.clear();
             f.nameOrId.clear();
             f.password.clear();
             f.ipAddress = AddressField{};
             f.wifiSsid.clear();
         },
         MSG_PLATFORM_IP_INVALID},
        {"empty port before empty name", mode1Types, false,
         [](PageForm& f) {
             f.platformPort.clear();
             f.nameOrId.clear();
             f.wifiSsid.clear();
         },
         MSG_PLATFORM_PORT_EMPTY},
        {"empty name before empty password", mode1Types, false,
         [](PageForm& f) {
             f.nameOrId.clear();
             f.password.clear();
             f.gateway = AddressField{};
         },
         MSG_DEVICE_NAME_EMPTY},
        {"empty password before blank address", mode1Types, false,
         [](PageForm& f) {
             f.password.clear();
             f.subnetMask = AddressField{};
         },
         MSG_DEVICE_PASSWORD_EMPTY},
        {"blank gateway", mode1Types, false, [](PageForm& f) { f.gateway = AddressField{}; },
         MSG_IP_INVALID},
        {"mode 0: blank mask before empty id", modeTypes, true,
         [](PageForm& f) {
             f.subnetMask = AddressField{};
             f.nameOrId.clear();
             f.wifiSsid.clear();
         },
         MSG_IP_INVALID},
        {"mode 0: platform controls are not read", {1, 2}, true,
         [](PageForm& f) {
             f.platformIp = AddressField{};
             f.platformPort.clear();
             f.password.clear();
             f.nameOrId.clear();
         },
         MSG_DEVICE_ID_EMPTY},
        {"wifi: ssid before pass phrase and id", {3}, true,
         [](PageForm& f) {
             f.wifiSsid.clear();
             f.wifiPassword.clear();
             f.nameOrId.clear();
         },
         MSG_WIFI_SSID_EMPTY},
        {"wifi: pass phrase before id", {3}, true,
         [](PageForm& f) {
             f.wifiPassword.clear();
             f.nameOrId.clear();
         },
         MSG_WIFI_PASSWORD_EMPTY},
        {"wifi: DHCP skips the addresses", {3}, true,
         [](PageForm& f) {
             f.dhcp = true;
             f.ipAddress = f.subnetMask = f.gateway = AddressField{};
             f.nameOrId.clear();
         },
         MSG_DEVICE_ID_EMPTY},
    };
    for (const FailureCase& c : cases) {
        for (int type : c.types) {
            PageForm f = ValidForm(c.mode0);
            c.spoil(f);
            ApplyResult r = RunApplyChain(type, f);
            EXPECT_FALSE(r.ok) << c.what << ", type " << type;
            EXPECT_EQ(r.message, c.message) << c.what << ", type " << type;
            EXPECT_TRUE(r.record.empty()) << c.what;
        }
    }
}

TEST(ApplyChain, PortTextBecomesLow16BitsOfItsAtoiValue) {
    const struct {
        const char* text;
        uint8_t hi, lo;
    } cases[] = {
        {"502", 0x01, 0xF6},     {"70000", 0x11, 0x70},  // 70000 - 65536 = 4464
        {"65535", 0xFF, 0xFF},   {"65536", 0x00, 0x00},   {"abc", 0x00, 0x00},
        {"-1", 0xFF, 0xFF},      {"  +80x", 0x00, 0x50},  {"99999999999", 0xFF, 0xFF},
    };
    for (const auto& c : cases) {
        PageForm f = ValidForm();
        f.platformPort = c.text;
        for (int type : kAllTypes) {
            std::vector<uint8_t> r = ApplyOk(type, f);
            EXPECT_EQ(r[69], c.hi) << c.text << " type " << type;
            EXPECT_EQ(r[70], c.lo) << c.text << " type " << type;
        }
    }
}

TEST(ApplyChain, DeviceIdTextInModeZero) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"12345", 12345},          {"-1", 0xFFFFFFFF},         {"12ab", 12},
        {"abc", 0},                {" -2147483648", 0x80000000}, {"2147483648", 0x7FFFFFFF},
        {"-99999999999", 0x80000000},
    };
    for (const auto& c : cases) {
        PageForm f = ValidForm(true);
        f.nameOrId = c.text;
        for (int type : {1, 2, 3}) {
            std::vector<uint8_t> r = ApplyOk(type, f);
            const size_t at = type == DEVICE_TYPE_WIFI ? 153 : 89;
            const uint32_t got = (uint32_t(r[at]) << 24) | (uint32_t(r[at + 1]) << 16) |
                                 (uint32_t(r[at + 2]) << 8) | r[at + 3];
            EXPECT_EQ(got, c.value) << c.text << " type " << type;
        }
    }
}

TEST(ApplyChain, ModeZeroWritesFixedCredentialsAndNoPlatform) {
    for (int type : {1, 2, 3}) {
        PageForm f = ValidForm(true);
        std::vector<uint8_t> r = ApplyOk(type, f);
        EXPECT_EQ(r[0], 0) << type;
        EXPECT_EQ(Slice(r, 1, 32), Field32("admin")) << type;
        EXPECT_EQ(Slice(r, 33, 32), Field32("602417")) << type;
        EXPECT_EQ(Slice(r, 65, 6), std::vector<uint8_t>(6, 0)) << type;  // platform IP and port
    }
}

TEST(ApplyChain, ModeOneWritesTheControlsAndNoDeviceId) {
    // A selection other than 0, none included, is mode 1.
    for (int selection : {1, -1, 5}) {
        for (int type : {1, 2, 3}) {
            PageForm f = ValidForm();
            f.connectModeSelection = selection;
            std::vector<uint8_t> r = ApplyOk(type, f);
            EXPECT_EQ(r[0], 1);
            EXPECT_EQ(Slice(r, 1, 32), Field32("reader-7"));
            EXPECT_EQ(Slice(r, 33, 32), Field32("secret"));
            EXPECT_EQ(Slice(r, 65, 4), (std::vector<uint8_t>{0xC0, 0xA8, 0x01, 0x0A}));
            const size_t at = type == DEVICE_TYPE_WIFI ? 153 : 89;
            EXPECT_EQ(Slice(r, at, 4), std::vector<uint8_t>(4, 0)) << type;
        }
    }
}

TEST(ApplyChain, SettingsBytesPerPageType) {
    PageForm f = ValidForm();  // rs485 1, antenna0 2, antenna1 4, dual ticked
    const struct {
        int type;
        uint8_t b71, b84, b85, b86, b87, b88;
    } cases[] = {
        {DEVICE_TYPE_BASIC, 0, 0, 0, 0, 0, 0},
        {DEVICE_TYPE_DUAL_ANTENNA, 0, 1, 2, 4, 0, 1},
        {DEVICE_TYPE_SINGLE_ANTENNA, 0, 0, 0, 4, 0, 0},
        {DEVICE_TYPE_WIFI, 0, 0, 2, 4, 0, 1},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> r = ApplyOk(c.type, f);
        EXPECT_EQ(Slice(r, 71, 1)[0], c.b71) << c.type;
        EXPECT_EQ((std::vector<uint8_t>{r[84], r[85], r[86], r[87], r[88]}),
                  (std::vector<uint8_t>{c.b84, c.b85, c.b86, c.b87, c.b88}))
            << c.type;
    }

    // No selection is sent as 255; an unticked box as 0.
    f.baud[BAUD_RS485] = f.baud[BAUD_ANTENNA0] = f.baud[BAUD_ANTENNA1] = -1;
    f.dualAntenna = false;
    std::vector<uint8_t> dual = ApplyOk(DEVICE_TYPE_DUAL_ANTENNA, f);
    EXPECT_EQ((std::vector<uint8_t>{dual[84], dual[85], dual[86], dual[88]}),
              (std::vector<uint8_t>{255, 255, 255, 0}));
    EXPECT_EQ(ApplyOk(DEVICE_TYPE_SINGLE_ANTENNA, f)[86], 255);
}

TEST(ApplyChain, WifiDhcpSendsZeroAddresses) {
    PageForm f = ValidForm();
    f.dhcp = true;
    f.subnetMask = AddressField{};  // not read when DHCP is on
    std::vector<uint8_t> r = ApplyOk(DEVICE_TYPE_WIFI, f);
    EXPECT_EQ(r[71], 1);
    EXPECT_EQ(Slice(r, 72, 12), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(Slice(r, 89, 32), Field32("shop-floor"));
    EXPECT_EQ(Slice(r, 121, 32), Field32("pass phrase"));

    f.dhcp = false;
    f.subnetMask = Addr(255, 255, 0, 0);
    r = ApplyOk(DEVICE_TYPE_WIFI, f);
    EXPECT_EQ(r[71], 0);
    EXPECT_EQ(Slice(r, 72, 12), (std::vector<uint8_t>{10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1}));
}

TEST(ApplyChain, PartlyBlankAddressIsAcceptedWithZeros) {
    PageForm f = ValidForm();
    f.ipAddress.blank = false;
    f.ipAddress.value = 0x0A000000;  // "10. . . " : only the first field typed
    f.platformIp.blank = false;
    f.platformIp.value = 0;  // "0.0.0.0" typed: not blank
    for (int type : kAllTypes) {
        std::vector<uint8_t> r = ApplyOk(type, f);
        EXPECT_EQ(Slice(r, 72, 4), (std::vector<uint8_t>{10, 0, 0, 0})) << type;
        EXPECT_EQ(Slice(r, 65, 4), std::vector<uint8_t>(4, 0)) << type;
    }
}

TEST(ApplyChain, TextsAreCutToTheirLimitsWithoutSplittingCharacters) {
    const std::string forty(40, 'n');
    std::string gbk15;  // fifteen double-byte characters: 30 bytes
    for (int i = 0; i < 15; ++i) gbk15 += "\xD6\xD0";

    PageForm f = ValidForm();
    f.nameOrId = forty;
    f.password = gbk15;
    f.wifiSsid = forty;
    f.wifiPassword = gbk15 + "x";  // 31 bytes fit exactly
    for (int type : kAllTypes) {
        std::vector<uint8_t> r = ApplyOk(type, f);
        EXPECT_EQ(Slice(r, 1, 32), Field32(forty.substr(0, 29))) << type;
        EXPECT_EQ(Slice(r, 33, 32), Field32(gbk15.substr(0, 28))) << type;
        if (type == DEVICE_TYPE_WIFI) {
            EXPECT_EQ(Slice(r, 89, 32), Field32(forty.substr(0, 31)));
            EXPECT_EQ(Slice(r, 121, 32), Field32(gbk15 + "x"));
        }
    }

    // A device ID is read up to 31 bytes: digits beyond them do not count.
    PageForm id = ValidForm(true);
    id.nameOrId = std::string(31, ' ') + "7";
    EXPECT_EQ(Slice(ApplyOk(DEVICE_TYPE_DUAL_ANTENNA, id), 89, 4), std::vector<uint8_t>(4, 0));

    // Only a text with no characters at all counts as empty.
    PageForm blank = ValidForm();
    blank.password = " ";
    EXPECT_TRUE(RunApplyChain(DEVICE_TYPE_BASIC, blank).ok);
}

}  // namespace
