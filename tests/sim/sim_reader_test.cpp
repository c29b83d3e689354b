// The simulated reader, driven without any I/O: bytes in, timed actions out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "sim/sim_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kQuery = {'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00};

std::vector<SimAction> Feed(SimReader* sim, const Bytes& bytes, int64_t now = 0) {
    return SimFeed(sim, bytes.data(), bytes.size(), now);
}

// The factory record of a type, written out here byte by byte so that a
// wrong offset in the simulator shows up.
Bytes ExpectedRecord(uint8_t type) {
    Bytes r(type == 3 ? 174 : 110, 0);
    std::memcpy(&r[0], "V2.1.8", 6);
    r[16] = type;
    r[17] = 1;
    std::memcpy(&r[18], "reader01", 8);
    std::memcpy(&r[50], "pass1234", 8);
    const uint8_t tail[] = {192, 168, 1, 10, 0x01, 0xF6, 0, 192, 168, 1, 100, 255, 255, 255, 0,
                            192, 168, 1, 1, 4, 4, 4, 0, 0};
    std::memcpy(&r[82], tail, sizeof tail);  // 82..105
    if (type == 3) {
        std::memcpy(&r[106], "FactoryAP", 9);
        std::memcpy(&r[138], "wifipass123", 11);
        r[172] = 0x03;  // 1001
        r[173] = 0xE9;
    } else {
        r[108] = 0x03;
        r[109] = 0xE9;
    }
    return r;
}

Bytes Frame(uint8_t version, uint8_t command, const Bytes& payload) {
    return BuildFrame(version, command, payload.data(), payload.size());
}

class FactoryReply : public ::testing::TestWithParam<int> {};

TEST_P(FactoryReply, QueryGetsTheTypesRecordInOneImmediateWrite) {
    SimReader sim;
    SimInit(&sim, GetParam());
    auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, SIM_ACTION_WRITE);
    EXPECT_EQ(actions[0].delayMs, 0);
    Bytes expected = Frame(2, CMD_INFO_REPLY, ExpectedRecord(static_cast<uint8_t>(GetParam())));
    EXPECT_EQ(actions[0].bytes, expected);
    // The header as a reader puts it on the line.
    EXPECT_EQ(actions[0].bytes[4], 2);
    EXPECT_EQ(ReadU16BE(&actions[0].bytes[8]), GetParam() == 3 ? 174 : 110);
    EXPECT_EQ(ReadU16BE(&actions[0].bytes[6]),
              Crc16(actions[0].bytes.data() + 8, actions[0].bytes.size() - 8));

    ASSERT_EQ(sim.received.size(), 1u);
    EXPECT_EQ(sim.received[0].raw, kQuery);
    EXPECT_EQ(sim.received[0].command, CMD_QUERY_INFO);
    EXPECT_TRUE(sim.received[0].crcOk);
}

INSTANTIATE_TEST_SUITE_P(Types, FactoryReply, ::testing::Values(1, 2, 3, 52));

TEST(SimReader, AnyOtherTypeByteIsReportedWithTheShortRecord) {
    SimReader sim;
    SimInit(&sim, 7);
    auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 120u);
    EXPECT_EQ(actions[0].bytes[10 + 16], 7);
}

// A record as a page would build it; values differ from every default.
Bytes WrittenRecord(bool wifi) {
    Bytes r(wifi ? 157 : 93, 0);
    r[0] = 0;  // connectMode
    std::memcpy(&r[1], "admin", 5);
    std::memcpy(&r[33], "602417", 6);
    const uint8_t mid[] = {10, 1, 2, 3, 0x1F, 0x90, 0, 10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1,
                           0, 1, 2, 0, 1};
    std::memcpy(&r[65], mid, sizeof mid);  // 65..88
    if (wifi) {
        std::memcpy(&r[89], "Office", 6);
        std::memcpy(&r[121], "secret99", 8);
        WriteU32BE(&r[153], 0xFFFFFFFE);  // -2
    } else {
        WriteU32BE(&r[89], 424242);
    }
    return r;
}

class WrittenRecordIsReported : public ::testing::TestWithParam<int> {};

TEST_P(WrittenRecordIsReported, NextQueryReturnsWhatWasWritten) {
    int type = GetParam();
    bool wifi = type == 3;
    SimReader sim;
    SimInit(&sim, type);
    Bytes record = WrittenRecord(wifi);
    Bytes write = BuildWriteConfigFrame(record.data(), record.size());

    auto ack = Feed(&sim, write);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0].bytes, Frame(2, CMD_CONFIG_ACK, {}));
    EXPECT_EQ(sim.configsApplied, 1u);

    auto reply = Feed(&sim, kQuery);
    ASSERT_EQ(reply.size(), 1u);
    const Bytes& f = reply[0].bytes;
    ASSERT_EQ(f.size(), 10u + (wifi ? 174 : 110));
    const uint8_t* info = f.data() + 10;
    // Firmware and type are not part of the record and stay.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info)), "V2.1.8");
    EXPECT_EQ(info[16], type);
    EXPECT_EQ(info[17], record[0]);
    // Everything else sits 17 bytes later than in the record.
    for (size_t i = 1; i < record.size(); ++i) EXPECT_EQ(info[i + 17], record[i]) << "record byte " << i;
    EXPECT_EQ(SimGetField(&sim, "deviceId"), wifi ? "-2" : "424242");
    EXPECT_EQ(SimGetField(&sim, "ipAddress"), "10.0.0.5");
    EXPECT_EQ(SimGetField(&sim, "platformPort"), "8080");
}

INSTANTIATE_TEST_SUITE_P(Types, WrittenRecordIsReported, ::testing::Values(52, 1, 2, 3));

TEST(SimReader, ReassemblesAnyChunkingAndSkipsWhatIsNotAFrame) {
    SimReader sim;
    SimInit(&sim, 52);
    // One byte at a time.
    size_t replies = 0;
    for (uint8_t b : kQuery) replies += Feed(&sim, {b}).size();
    EXPECT_EQ(replies, 1u);

    // Noise, a query, half a magic, and a query in one chunk; then the rest.
    Bytes mixed = {0x00, 0xFF, 'K', 'W', 0x13};
    mixed.insert(mixed.end(), kQuery.begin(), kQuery.end());
    mixed.insert(mixed.end(), {'K', 'W'});
    mixed.insert(mixed.end(), kQuery.begin(), kQuery.end());
    mixed.insert(mixed.end(), kQuery.begin(), kQuery.begin() + 4);
    EXPECT_EQ(Feed(&sim, mixed).size(), 2u);
    EXPECT_EQ(Feed(&sim, Bytes(kQuery.begin() + 4, kQuery.end())).size(), 1u);
    EXPECT_EQ(sim.received.size(), 4u);
    EXPECT_EQ(sim.bytesDiscarded, 7u);
}

TEST(SimReader, BadCrcAndUnknownCommandsAreRecordedButNotAnswered) {
    SimReader sim;
    SimInit(&sim, 52);
    Bytes bad = kQuery;
    bad[7] ^= 1;
    EXPECT_TRUE(Feed(&sim, bad).empty());
    EXPECT_TRUE(Feed(&sim, Frame(0, 9, {1, 2, 3})).empty());
    Bytes record = WrittenRecord(false);
    Bytes write = BuildWriteConfigFrame(record.data(), record.size());
    write.back() ^= 0x40;  // corrupted in transit: must not be applied
    EXPECT_TRUE(Feed(&sim, write).empty());
    EXPECT_EQ(sim.configsApplied, 0u);
    EXPECT_EQ(SimGetField(&sim, "deviceName"), "reader01");
    ASSERT_EQ(sim.received.size(), 3u);
    EXPECT_FALSE(sim.received[0].crcOk);
    EXPECT_TRUE(sim.received[1].crcOk);
    EXPECT_EQ(sim.received[1].command, 9);
    EXPECT_FALSE(sim.received[2].crcOk);
}

TEST(SimReader, StalledFrameIsGivenUpAndTheNextFrameIsAnswered) {
    SimReader sim;
    SimInit(&sim, 52);
    // A header announcing more than can ever come, then silence.
    Bytes huge = {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x10, 0x00};
    EXPECT_TRUE(Feed(&sim, huge, 0).empty());  // over the frame limit: skipped at once
    Bytes partial = {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x00, 0x20, 1, 2};
    EXPECT_TRUE(Feed(&sim, partial, 100).empty());
    EXPECT_TRUE(Feed(&sim, kQuery, 200).empty());  // still waiting for the first frame's bytes
    // Given up after the pause; both queries it held back are answered.
    EXPECT_EQ(Feed(&sim, kQuery, 200 + SIM_STALE_FRAME_MS).size(), 2u);
}

TEST(SimReader, FieldsAreSetByNameAndBadValuesRefused) {
    SimReader sim;
    SimInit(&sim, 1);
    std::string error;
    struct Case { const char* name; const char* value; bool ok; const char* shown; };
    const Case cases[] = {
        {"deviceName", "gate-7", true, "gate-7"},
        {"deviceName", "hex:C4E3BAC3", true, "\\xC4\\xE3\\xBA\\xC3"},
        {"deviceName", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", false, nullptr},  // 33 bytes
        {"deviceName", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", true, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"platformIp", "10.20.30.40", true, "10.20.30.40"},
        {"platformIp", "10.20.30", false, nullptr},
        {"platformIp", "10.20.30.256", false, nullptr},
        {"platformPort", "65535", true, "65535"},
        {"platformPort", "65536", false, nullptr},
        {"rs485Baud", "0x02", true, "2"},
        {"antenna1Baud", "-1", false, nullptr},
        {"deviceId", "-5", true, "-5"},
        {"deviceId", "4294967295", true, "-1"},
        {"deviceId", "12abc", false, nullptr},
        {"protocolVersion", "0", true, "0"},
        {"payloadLength", "101", true, "101"},
        {"noSuchField", "1", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        EXPECT_EQ(SimSetField(&sim, c.name, c.value, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(SimGetField(&sim, c.name), c.shown);
        }
    }
    // A shortened record is sent as such.
    auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 111u);
    EXPECT_EQ(actions[0].bytes[4], 0);
}

TEST(SimReader, DeviceIdFollowsTheTypesLayout) {
    SimReader sim;
    SimInit(&sim, 3);
    std::string error;
    ASSERT_TRUE(SimSetField(&sim, "deviceId", "258", &error));
    EXPECT_EQ(ReadU32BE(sim.info + 170), 258u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sim.info + 106)), "FactoryAP");
}

}  // namespace
