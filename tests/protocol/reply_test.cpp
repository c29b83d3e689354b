#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/frame.h"
#include "protocol/reply.h"

namespace {

std::vector<uint8_t> Reply(uint8_t version, uint8_t command, size_t size, uint8_t type = 52) {
    std::vector<uint8_t> payload(size);
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(i);
    if (size > DI_DEVICE_TYPE) payload[DI_DEVICE_TYPE] = type;
    return BuildFrame(version, command, payload.data(), payload.size());
}

TEST(ClassifyReply, Table) {
    std::vector<uint8_t> swapped = Reply(1, CMD_INFO_REPLY, 110);
    ASSERT_NE(swapped[6], swapped[7]);
    std::swap(swapped[6], swapped[7]);
    std::vector<uint8_t> corrupted = Reply(1, CMD_INFO_REPLY, 110);
    corrupted[50] ^= 0x01;
    std::vector<uint8_t> badLength = Reply(1, CMD_CONFIG_ACK, 0);
    badLength[9] = 1;  // length changed after the CRC was made

    struct Case { const char* name; std::vector<uint8_t> frame; ReplyKind kind; };
    const Case cases[] = {
        {"info v1", Reply(1, CMD_INFO_REPLY, 110), REPLY_INFO},
        {"info v2 wifi", Reply(2, CMD_INFO_REPLY, 174, 3), REPLY_INFO},
        {"info v0", Reply(0, CMD_INFO_REPLY, 110), REPLY_TOO_OLD},
        {"ack empty", Reply(0, CMD_CONFIG_ACK, 0), REPLY_CONFIG_ACK},
        {"ack payload", Reply(3, CMD_CONFIG_ACK, 7), REPLY_CONFIG_ACK},
        {"query echoed", BuildQueryInfoFrame(), REPLY_OTHER_COMMAND},
        {"unknown 9", Reply(1, 9, 4), REPLY_OTHER_COMMAND},
        {"crc low byte first", swapped, REPLY_BAD_CRC},
        {"payload corrupted", corrupted, REPLY_BAD_CRC},
        {"length corrupted", badLength, REPLY_BAD_CRC},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyReply(c.frame.data(), c.frame.size()), c.kind) << c.name;
}

TEST(StoreInfoReply, KeepsFirst512BytesOfALongPayload) {
    DeviceInfoStore store;
    std::memset(&store, 0, sizeof store);
    const std::vector<uint8_t> f = Reply(2, CMD_INFO_REPLY, 700, 1);
    StoreInfoReply(&store, f.data(), f.size(), 3);
    EXPECT_EQ(store.portIndex, 3);
    EXPECT_EQ(store.deviceType, 1);
    EXPECT_EQ(store.payloadLength, 700);
    EXPECT_EQ(store.protocolVersion, 2);
    EXPECT_EQ(0, std::memcmp(store.payload, f.data() + 10, DEVICE_INFO_STORE_SIZE));
}

TEST(StoreInfoReply, ShorterReplyLeavesTheRestOfTheStore) {
    DeviceInfoStore store;
    std::memset(&store, 0, sizeof store);
    const std::vector<uint8_t> wifi = Reply(2, CMD_INFO_REPLY, 174, 3);
    StoreInfoReply(&store, wifi.data(), wifi.size(), 0);
    const std::vector<uint8_t> basic = Reply(1, CMD_INFO_REPLY, 101, 52);
    StoreInfoReply(&store, basic.data(), basic.size(), 1);
    EXPECT_EQ(store.deviceType, 52);
    EXPECT_EQ(store.payloadLength, 101);
    EXPECT_EQ(store.protocolVersion, 1);
    EXPECT_EQ(store.payload[100], 100);
    EXPECT_EQ(store.payload[173], 173);  // from the earlier reply
    EXPECT_EQ(store.payload[174], 0);
}

}  // namespace
