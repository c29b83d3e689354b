// Conversions of the texts read from the controls, and the text fields
// of a stored record (AtoiRules and CutGbk: protocol_fuzz.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/config_record.h"
#include "protocol/device_info.h"

namespace {

const std::string kZhong = "\xD6\xD0";  // one double-byte character

std::string Times(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

TEST(CopyTextField, TerminatesFillsWithNulAndStaysInside) {
    const struct { std::string text; std::string stored; } cases[] = {
        {"admin", "admin"},
        {std::string("ab\0cd", 5), "ab"},
        {std::string(40, 'x'), std::string(31, 'x')},
        {Times(kZhong, 16), Times(kZhong, 15)},  // byte 31 would be a lead byte
    };
    for (const auto& c : cases) {
        uint8_t field[34];
        std::memset(field, 0xAA, sizeof field);
        CopyTextField(field + 1, 32, c.text);
        const std::string expected = "\xAA" + c.stored + std::string(32 - c.stored.size(), '\0') + "\xAA";
        EXPECT_EQ(std::string(reinterpret_cast<char*>(field), sizeof field), expected) << c.stored;
    }
}

TEST(DeviceInfoText, RunsOnIntoTheNextFieldButNotPastTheRecord) {
    uint8_t rec[DEVICE_INFO_WIFI_SIZE] = {};
    std::memcpy(rec + DI_FIRMWARE_VERSION, "V1.2", 4);
    std::memset(rec + DI_DEVICE_NAME, 'n', DEVICE_TEXT_FIELD);
    std::memcpy(rec + DI_DEVICE_PASSWORD, "pw", 2);
    std::memset(rec + DI_WIFI_PASSWORD, 'p', sizeof rec - DI_WIFI_PASSWORD);
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_FIRMWARE_VERSION), "V1.2");
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_DEVICE_NAME), std::string(32, 'n') + "pw");
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, DI_WIFI_PASSWORD), std::string(36, 'p'));
    EXPECT_EQ(DeviceInfoText(rec, sizeof rec, sizeof rec), "");
}

}  // namespace
