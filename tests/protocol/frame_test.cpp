#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/frame.h"

TEST(Crc16, CheckValueAndEmptyInput) {
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0x4B37);
    const uint8_t zeros[2] = {0, 0};
    EXPECT_EQ(Crc16(zeros, 2), 0xB001);
    EXPECT_EQ(Crc16(zeros, 0), 0);
    EXPECT_EQ(Crc16(nullptr, 5), 0);
}

TEST(Frames, QueryInfoIsFixed) {
    const std::vector<uint8_t> expected = {0x4B, 0x57, 0x54, 0x42, 0x00,
                                           0x01, 0xB0, 0x01, 0x00, 0x00};
    EXPECT_EQ(BuildQueryInfoFrame(), expected);
}

TEST(Frames, WriteConfigLengthsAndCrc) {
    struct Case { size_t count; uint8_t lengthLow; };
    for (const Case& c : {Case{93, 0x5D}, Case{157, 0x9D}, Case{190, 0xBE}}) {
        std::vector<uint8_t> payload(c.count);
        for (size_t i = 0; i < c.count; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
        std::vector<uint8_t> f = BuildWriteConfigFrame(payload.data(), c.count);
        ASSERT_EQ(f.size(), c.count + 10) << c.count;
        EXPECT_TRUE(HasFrameMagic(f.data()));
        EXPECT_EQ(f[4], 0);
        EXPECT_EQ(f[5], CMD_WRITE_CONFIG);
        EXPECT_EQ(f[8], 0x00);
        EXPECT_EQ(f[9], c.lengthLow);
        EXPECT_EQ(FrameTotalLength(f.data()), f.size());
        // High byte first, over length field and payload.
        const uint16_t crc = Crc16(f.data() + 8, c.count + 2);
        EXPECT_EQ(f[6], crc >> 8);
        EXPECT_EQ(f[7], crc & 0xFF);
        EXPECT_EQ(0, std::memcmp(f.data() + 10, payload.data(), c.count));
    }
    std::vector<uint8_t> tooLong(191);
    EXPECT_TRUE(BuildWriteConfigFrame(tooLong.data(), tooLong.size()).empty());
}

TEST(Frames, GeneralFrameUsesFullLength) {
    std::vector<uint8_t> payload(300, 0x33);
    std::vector<uint8_t> f = BuildFrame(2, CMD_INFO_REPLY, payload.data(), payload.size());
    ASSERT_EQ(f.size(), 310u);
    EXPECT_EQ(ReadU16BE(f.data() + 8), 300);
    EXPECT_EQ(FrameTotalLength(f.data()), 310u);
    EXPECT_EQ(ReadU16BE(f.data() + 6), Crc16(f.data() + 8, 302));
    EXPECT_EQ(f[4], 2);
}
