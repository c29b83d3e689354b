#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "protocol/bytes.h"
#include "protocol/config_record.h"
#include "protocol/device_info.h"

TEST(AtoiRules, Table) {
    struct Case { const char* text; int32_t value; };
    const Case cases[] = {
        {"0", 0},          {"12345", 12345},      {"-1", -1},
        {"12ab", 12},      {"abc", 0},            {"", 0},
        {"  +7", 7},       {"\t\n\v\f\r-42", -42}, {"+", 0},
        {"- 5", 0},        {"1 2", 1},            {"007", 7},
        {"2147483647", INT32_MAX},                {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},               {"-2147483649", INT32_MIN},
        {"99999999999999999999999", INT32_MAX},   {"-99999999999999999999999", INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(AtoiRules(c.text), c.value) << '"' << c.text << '"';
}

// What a page writes for a numeric field: the device ID as 32 bits, the
// platform port as its low 16 bits, both high byte first.
TEST(AtoiRules, FieldBytes) {
    uint8_t id[4];
    WriteU32BE(id, static_cast<uint32_t>(AtoiRules("-1")));
    EXPECT_EQ(ReadU32BE(id), 0xFFFFFFFFu);

    struct Case { const char* text; uint8_t hi, lo; };
    const Case ports[] = {{"502", 0x01, 0xF6}, {"65535", 0xFF, 0xFF},
                          {"65536", 0x00, 0x00}, {"70000", 0x11, 0x70}, {"-1", 0xFF, 0xFF}};
    for (const Case& c : ports) {
        uint8_t port[2];
        WriteU16BE(port, static_cast<uint16_t>(AtoiRules(c.text)));
        EXPECT_EQ(port[0], c.hi) << c.text;
        EXPECT_EQ(port[1], c.lo) << c.text;
    }
}

static bool EndsInsideDoubleByte(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        i += (c >= 0x81 && c <= 0xFE) ? 2 : 1;
    }
    return i > s.size();
}

TEST(CutGbk, NeverSplitsADoubleByteCharacter) {
    const std::string zhong = "\xD6\xD0";
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += zhong;  // 30 bytes
    struct Case { std::string text; size_t limit; size_t kept; };
    const Case cases[] = {
        {std::string(40, 'a'), 29, 29},
        {fifteen, 29, 28},
        {fifteen, 31, 30},
        {"a" + fifteen, 29, 29},
        {"a" + fifteen, 31, 31},
        {"ab" + fifteen, 31, 30},
        {"abc" + fifteen, 31, 31},
        {"short", 29, 5},
    };
    for (const Case& c : cases) {
        std::string cut = CutGbk(c.text, c.limit);
        EXPECT_EQ(cut.size(), c.kept) << c.text.size() << "/" << c.limit;
        EXPECT_EQ(cut, c.text.substr(0, cut.size()));
        EXPECT_FALSE(EndsInsideDoubleByte(cut));
    }
    // Every limit over a mixed text.
    const std::string mixed = "a" + zhong + "bc" + zhong + zhong + "d" + zhong;
    for (size_t limit = 0; limit <= mixed.size() + 1; ++limit) {
        std::string cut = CutGbk(mixed, limit);
        EXPECT_LE(cut.size(), limit);
        EXPECT_GE(cut.size() + 1, std::min(limit, mixed.size()));
        EXPECT_FALSE(EndsInsideDoubleByte(cut)) << limit;
    }
}

TEST(CopyTextField, TerminatesAndFillsWithNul) {
    uint8_t field[34];
    std::memset(field, 0xAA, sizeof field);
    CopyTextField(field + 1, 32, "admin");
    EXPECT_EQ(field[0], 0xAA);
    EXPECT_EQ(0, std::memcmp(field + 1, "admin", 5));
    for (size_t i = 6; i <= 32; ++i) EXPECT_EQ(field[i], 0) << i;
    EXPECT_EQ(field[33], 0xAA);  // nothing written past the field

    CopyTextField(field + 1, 32, std::string("ab\0cd", 5));
    EXPECT_EQ(field[3], 0);
    EXPECT_EQ(field[4], 0);

    CopyTextField(field + 1, 32, std::string(40, 'x'));
    EXPECT_EQ(field[31], 'x');
    EXPECT_EQ(field[32], 0);
    EXPECT_EQ(field[33], 0xAA);

    // Double-byte characters only: the 31st byte would be a lead byte.
    std::string text;
    for (int i = 0; i < 16; ++i) text += "\xD6\xD0";
    CopyTextField(field + 1, 32, text);
    EXPECT_EQ(field[30], 0xD0);
    EXPECT_EQ(field[31], 0);
    EXPECT_EQ(field[32], 0);
}

TEST(DeviceInfo, FieldReaders) {
    uint8_t rec[DEVICE_INFO_WIFI_SIZE] = {};
    const uint8_t bytes[][2] = {{DI_DEVICE_TYPE, 52}, {DI_CONNECT_MODE, 1},
                                {DI_PLATFORM_PORT, 0x01}, {DI_PLATFORM_PORT + 1, 0xF6},
                                {DI_IP_ADDRESS, 10}, {DI_IP_ADDRESS + 3, 5},
                                {DI_DEVICE_ID, 0xFF}, {DI_DEVICE_ID + 3, 0xFE},
                                {DI_WIFI_DEVICE_ID, 0x12}, {DI_WIFI_DEVICE_ID + 3, 0x78}};
    for (const auto& b : bytes) rec[b[0]] = b[1];
    EXPECT_EQ(DeviceInfoByte(rec, DI_DEVICE_TYPE), 52);
    EXPECT_EQ(DeviceInfoByte(rec, DI_CONNECT_MODE), 1);
    EXPECT_EQ(DeviceInfoU16(rec, DI_PLATFORM_PORT), 502);
    EXPECT_EQ(DeviceInfoU32(rec, DI_IP_ADDRESS), 0x0A000005u);
    EXPECT_EQ(static_cast<int32_t>(DeviceInfoU32(rec, DI_DEVICE_ID)), -16776962);  // 0xFF0000FE
    EXPECT_EQ(DeviceInfoU32(rec, DI_WIFI_DEVICE_ID), 0x12000078u);
}

TEST(DeviceInfo, TextFields) {
    uint8_t rec[DEVICE_INFO_WIFI_SIZE] = {};
    std::memcpy(rec + DI_FIRMWARE_VERSION, "V1.2", 4);
    std::memset(rec + DI_DEVICE_NAME, 'n', DEVICE_TEXT_FIELD);  // fills its field
    std::memcpy(rec + DI_DEVICE_PASSWORD, "pw", 2);
    std::memset(rec + DI_WIFI_PASSWORD, 'p', sizeof rec - DI_WIFI_PASSWORD);  // to the end

    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_FIRMWARE_VERSION), "V1.2");
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_DEVICE_NAME), std::string(32, 'n') + "pw");
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_WIFI_PASSWORD), std::string(36, 'p'));
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_WIFI_SSID), "");
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, sizeof rec), "");
}
