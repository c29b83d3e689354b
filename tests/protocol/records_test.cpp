// Conversions of the texts read from the controls, and the text fields
// of a stored record.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "protocol/config_record.h"
#include "protocol/device_info.h"

namespace {

bool EndsInsideDoubleByte(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        i += (c >= 0x81 && c <= 0xFE) ? 2 : 1;
    }
    return i > s.size();
}

const std::string kZhong = "\xD6\xD0";  // one double-byte character

std::string Times(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

TEST(AtoiRules, Table) {
    const struct { const char* text; int32_t value; } cases[] = {
        {"12345", 12345}, {"-1", -1}, {"12ab", 12}, {"abc", 0}, {"", 0}, {"\t\n\v\f\r-42", -42},
        {"  +7", 7}, {"+", 0}, {"- 5", 0}, {"1 2", 1}, {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX}, {"-2147483649", INT32_MIN}, {"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(AtoiRules(c.text), c.value) << '"' << c.text << '"';
}

TEST(CutGbk, NeverSplitsADoubleByteCharacter) {
    const std::string fifteen = Times(kZhong, 15);  // 30 bytes
    const struct { std::string text; size_t limit, kept; } cases[] = {
        {std::string(40, 'a'), 29, 29}, {fifteen, 29, 28}, {fifteen, 31, 30}, {"a" + fifteen, 29, 29},
        {"ab" + fifteen, 31, 30}, {"abc" + fifteen, 31, 31}, {"short", 29, 5},
    };
    for (const auto& c : cases) {
        const std::string cut = CutGbk(c.text, c.limit);
        EXPECT_EQ(cut, c.text.substr(0, c.kept)) << c.text.size() << "/" << c.limit;
    }
    const std::string mixed = "a" + kZhong + "bc" + kZhong + kZhong + "d" + kZhong;
    for (size_t limit = 0; limit <= mixed.size() + 1; ++limit) {
        const std::string cut = CutGbk(mixed, limit);
        EXPECT_LE(cut.size(), limit);
        EXPECT_GE(cut.size() + 1, std::min(limit, mixed.size()));
        EXPECT_FALSE(EndsInsideDoubleByte(cut)) << limit;
    }
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
        std::string expected = c.stored + std::string(32 - c.stored.size(), '\0');
        EXPECT_EQ(std::string(reinterpret_cast<char*>(field + 1), 32), expected) << c.stored;
        EXPECT_EQ(field[0], 0xAA);
        EXPECT_EQ(field[33], 0xAA);
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
