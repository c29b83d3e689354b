// The simulated reader driven without any I/O: bytes in, timed actions
// out; its factory records, written records and each fault mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "protocol/reply.h"
#include "sim/sim_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kQuery = {'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00};

std::vector<SimAction> Feed(SimReader* sim, const Bytes& bytes, int64_t now = 0) {
    return SimFeed(sim, bytes.data(), bytes.size(), now);
}

Bytes Frame(uint8_t version, uint8_t command, const Bytes& payload) {
    return BuildFrame(version, command, payload.data(), payload.size());
}

Bytes WriteFrame(const Bytes& record) { return BuildWriteConfigFrame(record.data(), record.size()); }

// The factory record of a type, written out byte by byte.
Bytes FactoryRecord(uint8_t type) {
    Bytes r(type == 3 ? 174 : 110, 0);
    std::memcpy(&r[0], "V2.1.8", 6);
    r[16] = type;
    r[17] = 1;
    std::memcpy(&r[18], "reader01", 8);
    std::memcpy(&r[50], "pass1234", 8);
    const uint8_t tail[] = {192, 168, 1, 10, 0x01, 0xF6, 0, 192, 168, 1, 100, 255, 255, 255, 0,
                            192, 168, 1, 1, 4, 4, 4, 0, 0};
    std::memcpy(&r[82], tail, sizeof tail);
    if (type == 3) {
        std::memcpy(&r[106], "FactoryAP", 9);
        std::memcpy(&r[138], "wifipass123", 11);
    }
    WriteU32BE(&r[type == 3 ? 170 : 106], 1001);
    return r;
}

// A record as a page would build it; values differ from every default.
Bytes WrittenRecord(bool wifi) {
    Bytes r(wifi ? 157 : 93, 0);
    std::memcpy(&r[1], "admin", 5);
    std::memcpy(&r[33], "602417", 6);
    const uint8_t mid[] = {10, 1, 2, 3, 0x1F, 0x90, 0, 10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1, 0, 1, 2, 0, 1};
    std::memcpy(&r[65], mid, sizeof mid);
    if (wifi) {
        std::memcpy(&r[89], "Office", 6);
        std::memcpy(&r[121], "secret99", 8);
        WriteU32BE(&r[153], 0xFFFFFFFE);
    } else {
        WriteU32BE(&r[89], 424242);
    }
    return r;
}

SimReader Reader(int type, const char* fault = "none") {
    SimReader sim;
    SimInit(&sim, type);
    std::string error;
    EXPECT_TRUE(SimParseFault(fault, &sim.fault, &error)) << fault << ": " << error;
    return sim;
}

TEST(SimReader, QueryGetsTheTypesFactoryRecordAtOnce) {
    for (int type : {1, 2, 3, 52}) {
        SimReader sim = Reader(type);
        const auto actions = Feed(&sim, kQuery);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0].kind, SIM_ACTION_WRITE);
        EXPECT_EQ(actions[0].delayMs, 0);
        EXPECT_EQ(actions[0].bytes, Frame(2, CMD_INFO_REPLY, FactoryRecord(static_cast<uint8_t>(type)))) << type;
        ASSERT_EQ(sim.received.size(), 1u);
        EXPECT_EQ(sim.received[0].raw, kQuery);
        EXPECT_TRUE(sim.received[0].crcOk);
    }
    SimReader odd = Reader(7);  // any other type byte comes with the short record
    const auto actions = Feed(&odd, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 120u);
    EXPECT_EQ(actions[0].bytes[10 + 16], 7);
}

TEST(SimReader, WrittenRecordIsAcknowledgedAndReportedNext) {
    for (int type : {52, 1, 2, 3}) {
        SCOPED_TRACE(type);
        const bool wifi = type == 3;
        SimReader sim = Reader(type);
        const Bytes record = WrittenRecord(wifi);
        const auto ack = Feed(&sim, WriteFrame(record));
        ASSERT_EQ(ack.size(), 1u);
        EXPECT_EQ(ack[0].bytes, Frame(2, CMD_CONFIG_ACK, {}));
        EXPECT_EQ(sim.configsApplied, 1u);

        const auto reply = Feed(&sim, kQuery);
        ASSERT_EQ(reply.size(), 1u);
        // Firmware and type stay; everything else sits 17 bytes later than in the record.
        Bytes expected = FactoryRecord(static_cast<uint8_t>(type));
        std::copy(record.begin(), record.end(), expected.begin() + 17);
        EXPECT_EQ(Bytes(reply[0].bytes.begin() + 10, reply[0].bytes.end()), expected);
        EXPECT_EQ(SimGetField(&sim, "deviceId"), wifi ? "-2" : "424242");
        EXPECT_EQ(SimGetField(&sim, "ipAddress"), "10.0.0.5");
        EXPECT_EQ(SimGetField(&sim, "platformPort"), "8080");
    }
}

TEST(SimReader, ReassemblesAnyChunkingAndAnswersOnlyGoodFrames) {
    SimReader sim = Reader(52);
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
    EXPECT_EQ(sim.bytesDiscarded, 7u);

    // Bad CRCs and unknown commands are recorded, never answered or applied.
    sim.received.clear();
    Bytes bad = kQuery;
    bad[7] ^= 1;
    Bytes write = WriteFrame(WrittenRecord(false));
    write.back() ^= 0x40;
    EXPECT_TRUE(Feed(&sim, bad).empty());
    EXPECT_TRUE(Feed(&sim, Frame(0, 9, {1, 2, 3})).empty());
    EXPECT_TRUE(Feed(&sim, write).empty());
    EXPECT_EQ(sim.configsApplied, 0u);
    EXPECT_EQ(SimGetField(&sim, "deviceName"), "reader01");
    ASSERT_EQ(sim.received.size(), 3u);
    EXPECT_EQ(std::vector<bool>({sim.received[0].crcOk, sim.received[1].crcOk, sim.received[2].crcOk}),
              std::vector<bool>({false, true, false}));
}

TEST(SimReader, StalledFrameIsGivenUpAndTheNextFrameIsAnswered) {
    SimReader sim = Reader(52);
    EXPECT_TRUE(Feed(&sim, {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x10, 0x00}, 0).empty());  // never a frame
    EXPECT_TRUE(Feed(&sim, {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x00, 0x20, 1, 2}, 100).empty());
    EXPECT_TRUE(Feed(&sim, kQuery, 200).empty());  // still inside the stalled frame
    EXPECT_EQ(Feed(&sim, kQuery, 200 + SIM_STALE_FRAME_MS).size(), 2u);
}

TEST(SimReader, FieldsAreSetByNameAndBadValuesRefused) {
    SimReader sim = Reader(1);
    std::string error;
    const struct { const char* name; const char* value; const char* shown; } cases[] = {
        {"deviceName", "hex:C4E3BAC3", "\\xC4\\xE3\\xBA\\xC3"},
        {"deviceName", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", nullptr},  // 33 bytes
        {"deviceName", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"platformIp", "10.20.30.40", "10.20.30.40"},
        {"platformIp", "10.20.30", nullptr},
        {"platformIp", "10.20.30.256", nullptr},
        {"platformPort", "65536", nullptr},
        {"rs485Baud", "0x02", "2"},
        {"antenna1Baud", "-1", nullptr},
        {"deviceId", "4294967295", "-1"},
        {"deviceId", "12abc", nullptr},
        {"protocolVersion", "0", "0"},
        {"payloadLength", "101", "101"},
        {"noSuchField", "1", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        EXPECT_EQ(SimSetField(&sim, c.name, c.value, &error), c.shown != nullptr);
        if (c.shown) EXPECT_EQ(SimGetField(&sim, c.name), c.shown);
    }
    const auto actions = Feed(&sim, kQuery);  // the shortened record, version 0
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 111u);
    EXPECT_EQ(ClassifyReply(actions[0].bytes.data(), actions[0].bytes.size()), REPLY_TOO_OLD);

    SimReader wifi = Reader(3);
    ASSERT_TRUE(SimSetField(&wifi, "deviceId", "258", &error));
    EXPECT_EQ(ReadU32BE(wifi.info + 170), 258u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(wifi.info + 106)), "FactoryAP");
}

// Faults that reshape an otherwise good reply: the writes (delay, size)
// they produce and the bytes all writes carry together.
TEST(SimFault, WritesAndBytesAreAsClaimed) {
    const struct {
        const char* fault;
        std::vector<std::pair<int, size_t>> writes;  // delayMs, byte count (0: the reply's size)
        size_t garbageBefore;
        int copies;
    } cases[] = {
        {"none", {{0, 0}}, 0, 1},
        {"silent", {}, 0, 0},
        {"late", {{2500, 0}}, 0, 1},
        {"late:3500", {{3500, 0}}, 0, 1},
        {"split", {{0, 40}, {20, 40}, {20, 40}}, 0, 1},
        {"split:4,60", {{0, 30}, {60, 30}, {60, 30}, {60, 30}}, 0, 1},
        {"garbage", {{0, 5}, {100, 0}}, 5, 1},
        {"garbage:12,0", {{0, 132}}, 12, 1},
        {"double", {{0, 240}}, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SimReader sim = Reader(52, c.fault);
        const Bytes good = SimInfoReplyFrame(&sim);
        const auto actions = Feed(&sim, kQuery);
        ASSERT_EQ(actions.size(), c.writes.size());
        Bytes all;
        for (size_t i = 0; i < actions.size(); ++i) {
            EXPECT_EQ(actions[i].kind, SIM_ACTION_WRITE);
            EXPECT_EQ(actions[i].delayMs, c.writes[i].first);
            EXPECT_EQ(actions[i].bytes.size(), c.writes[i].second ? c.writes[i].second : good.size());
            all.insert(all.end(), actions[i].bytes.begin(), actions[i].bytes.end());
        }
        Bytes expected(all.begin(), all.begin() + c.garbageBefore);
        for (uint8_t b : expected) EXPECT_NE(b, 'K');  // garbage never starts a magic
        for (int i = 0; i < c.copies; ++i) expected.insert(expected.end(), good.begin(), good.end());
        EXPECT_EQ(all, expected);
    }
}

TEST(SimFault, CrcFaultsAreRejectedByTheProgramsCheck) {
    for (const char* fault : {"bad-crc", "crc-low-first"}) {
        SimReader sim = Reader(52, fault);
        const Bytes good = SimInfoReplyFrame(&sim);
        const auto actions = Feed(&sim, kQuery);
        ASSERT_EQ(actions.size(), 1u);
        const Bytes& f = actions[0].bytes;
        EXPECT_EQ(ClassifyReply(f.data(), f.size()), REPLY_BAD_CRC) << fault;
        ASSERT_EQ(f.size(), good.size());
        EXPECT_TRUE(std::equal(f.begin() + 8, f.end(), good.begin() + 8)) << fault;  // only the CRC differs
        if (std::string(fault) == "crc-low-first") EXPECT_EQ(Bytes(f.begin() + 6, f.begin() + 8), (Bytes{good[7], good[6]}));
    }
}

TEST(SimFault, MalformedRepliesAndHangUp) {
    SimReader sim = Reader(52, "never-complete:600");
    const Bytes good = SimInfoReplyFrame(&sim);
    auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 2u);
    const Bytes& broken = actions[0].bytes;
    ASSERT_GE(broken.size(), 10u);
    EXPECT_TRUE(HasFrameMagic(broken.data()));
    EXPECT_GT(FrameTotalLength(broken.data()), 1024u);
    EXPECT_EQ(actions[1].delayMs, 600);
    EXPECT_EQ(actions[1].bytes, good);
    sim = Reader(52, "never-complete:-1");
    EXPECT_EQ(Feed(&sim, kQuery).size(), 1u);

    sim = Reader(52, "oversize:1014");
    actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 1024u);
    EXPECT_EQ(ClassifyReply(actions[0].bytes.data(), 1024), REPLY_INFO);
    EXPECT_TRUE(std::equal(good.begin() + 10, good.end(), actions[0].bytes.begin() + 10));
    // An acknowledgement is no information reply: sent as usual.
    actions = Feed(&sim, WriteFrame(Bytes(93, 0)));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes, SimConfigAckFrame(&sim));

    sim = Reader(3, "unknown-type:7");
    actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 184u);
    EXPECT_EQ(actions[0].bytes[10 + 16], 7);

    sim = Reader(52, "hangup:1500");
    actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, SIM_ACTION_HANG_UP);
    EXPECT_EQ(actions[0].downMs, 1500);
}

TEST(SimFault, CountedFaultWearsOffAndBadFaultsAreRefused) {
    SimReader sim = Reader(52, "silent");
    sim.fault.repliesLeft = 2;
    size_t answered = 0;
    for (int i = 0; i < 4; ++i) answered += Feed(&sim, kQuery, i).size();
    EXPECT_EQ(answered, 2u);

    std::string error;
    for (const char* bad : {"", "loud", "late:x", "late:-5", "split:1", "oversize:512", "oversize:1015",
                            "unknown-type:256", "garbage:0", "split:3,abc"}) {
        EXPECT_FALSE(SimParseFault(bad, &sim.fault, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    ASSERT_TRUE(SimParseFault("split:5,7", &sim.fault, &error));
    EXPECT_EQ(sim.fault.fault, SIM_FAULT_SPLIT);
    EXPECT_EQ(sim.fault.arg, 5);
    EXPECT_EQ(sim.fault.arg2, 7);
    EXPECT_EQ(sim.fault.repliesLeft, -1);
}

}  // namespace
