// Frames as built, and as reply handling judges and stores them (the
// stored reply's type, length, version and port: protocol_fuzz.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "protocol/reply.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Reply(uint8_t version, uint8_t command, size_t size, uint8_t type = 52) {
    Bytes payload(size);
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(i);
    if (size > DI_DEVICE_TYPE) payload[DI_DEVICE_TYPE] = type;
    return BuildFrame(version, command, payload.data(), payload.size());
}

TEST(Frames, CrcQueryAndWriteConfigFrames) {
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
    EXPECT_EQ(BuildQueryInfoFrame(), (Bytes{0x4B, 0x57, 0x54, 0x42, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00}));
    for (const auto& c : {std::pair<size_t, uint8_t>{93, 0x5D}, {157, 0x9D}}) {
        Bytes payload(c.first);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
        const Bytes f = BuildWriteConfigFrame(payload.data(), payload.size());
        ASSERT_EQ(f.size(), c.first + 10);
        EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (Bytes{'K', 'W', 'T', 'B', 0, CMD_WRITE_CONFIG}));
        EXPECT_EQ(Bytes(f.begin() + 8, f.begin() + 10), (Bytes{0x00, c.second}));
        EXPECT_EQ(ReadU16BE(&f[6]), Crc16(&f[8], c.first + 2));  // high byte first
        EXPECT_EQ(Bytes(f.begin() + 10, f.end()), payload);
    }
    Bytes tooLong(191);
    EXPECT_TRUE(BuildWriteConfigFrame(tooLong.data(), tooLong.size()).empty());
}

TEST(ClassifyReply, Table) {
    Bytes swapped = Reply(1, CMD_INFO_REPLY, 110);
    std::swap(swapped[6], swapped[7]);
    Bytes corrupted = Reply(1, CMD_INFO_REPLY, 110);
    corrupted[50] ^= 0x01;
    Bytes badLength = Reply(1, CMD_CONFIG_ACK, 0);
    badLength[9] = 1;  // length changed after the CRC was made

    const struct { const char* name; Bytes frame; ReplyKind kind; } cases[] = {
        {"info v1", Reply(1, CMD_INFO_REPLY, 110), REPLY_INFO},
        {"info v0", Reply(0, CMD_INFO_REPLY, 110), REPLY_TOO_OLD},
        {"ack", Reply(0, CMD_CONFIG_ACK, 0), REPLY_CONFIG_ACK},
        {"query echoed", BuildQueryInfoFrame(), REPLY_OTHER_COMMAND},
        {"crc low byte first", swapped, REPLY_BAD_CRC},
        {"payload corrupted", corrupted, REPLY_BAD_CRC},
        {"length corrupted", badLength, REPLY_BAD_CRC},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyReply(c.frame.data(), c.frame.size()), c.kind) << c.name;
}

TEST(StoreInfoReply, KeepsAtMost512BytesAndLeavesTheRest) {
    DeviceInfoStore store;
    std::memset(&store, 0, sizeof store);
    const Bytes big = Reply(2, CMD_INFO_REPLY, 700, 1);
    StoreInfoReply(&store, big.data(), big.size(), 3);
    EXPECT_EQ(0, std::memcmp(store.payload, big.data() + 10, DEVICE_INFO_STORE_SIZE));

    // A shorter reply overwrites only its own bytes.
    const Bytes basic = Reply(1, CMD_INFO_REPLY, 101, 52);
    StoreInfoReply(&store, basic.data(), basic.size(), 1);
    EXPECT_EQ(Bytes(store.payload + 99, store.payload + 103), (Bytes{99, 100, big[10 + 101], big[10 + 102]}));
}

}  // namespace
