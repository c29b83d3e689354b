// The simulated reader driven without any I/O: bytes in, timed actions
// out; its reassembly, its fields and each fault mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/reply.h"
#include "sim/sim_reader.h"
#include "tests/forms/form_helpers.h"

namespace {

const Bytes kQuery = BuildQueryInfoFrame();

std::vector<SimAction> Feed(SimReader* sim, const Bytes& bytes, int64_t now = 0) {
    return SimFeed(sim, bytes.data(), bytes.size(), now);
}

// A written record with a different value in every byte.
Bytes WrittenRecord(bool wifi) {
    Bytes r(wifi ? 157 : 93);
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(i * 3 + 1);
    return r;
}

SimReader Reader(int type, const char* fault = "none") {
    SimReader sim;
    SimInit(&sim, type);
    std::string error;
    EXPECT_TRUE(SimParseFault(fault, &sim.fault, &error)) << fault << ": " << error;
    return sim;
}

// The one write a reader of type with fault makes in answer to a query.
Bytes OnlyReply(const char* fault, int type = 52) {
    SimReader sim = Reader(type, fault);
    const auto actions = Feed(&sim, kQuery);
    EXPECT_EQ(actions.size(), 1u) << fault;
    return actions.empty() ? Bytes() : actions[0].bytes;
}

TEST(SimReader, ReassemblesAnyChunkingGivesUpStalledFramesAndAnswersOnlyGoodOnes) {
    SimReader sim = Reader(52);
    // Noise, a query, half a magic and a query in one chunk; then the rest.
    Bytes mixed = {0x00, 0xFF, 'K', 'W', 0x13};
    for (int i = 0; i < 2; ++i) mixed.insert(mixed.end(), kQuery.begin(), kQuery.end());
    mixed.insert(mixed.end(), kQuery.begin(), kQuery.begin() + 4);
    EXPECT_EQ(Feed(&sim, mixed).size(), 2u);
    EXPECT_EQ(Feed(&sim, Bytes(kQuery.begin() + 4, kQuery.end())).size(), 1u);
    EXPECT_EQ(sim.bytesDiscarded, 5u);

    // Bad CRCs and unknown commands are recorded, never answered or applied.
    sim.received.clear();
    const Bytes record = WrittenRecord(false);
    Bytes bad = kQuery, write = BuildWriteConfigFrame(record.data(), record.size());
    bad[7] ^= 1;
    write.back() ^= 0x40;
    const uint8_t three[] = {1, 2, 3};
    for (const Bytes& frame : {bad, BuildFrame(0, 9, three, 3), write}) EXPECT_TRUE(Feed(&sim, frame).empty());
    EXPECT_EQ(sim.configsApplied, 0u);
    ASSERT_EQ(sim.received.size(), 3u);
    EXPECT_TRUE(!sim.received[0].crcOk && sim.received[1].crcOk && !sim.received[2].crcOk);

    // A stalled frame is given up and the next frame answered.
    EXPECT_TRUE(Feed(&sim, {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x10, 0x00}, 0).empty());  // never a frame
    EXPECT_TRUE(Feed(&sim, {'K', 'W', 'T', 'B', 0, 1, 0, 0, 0x00, 0x20, 1, 2}, 100).empty());
    EXPECT_TRUE(Feed(&sim, kQuery, 200).empty());  // still inside the stalled frame
    EXPECT_EQ(Feed(&sim, kQuery, 200 + SIM_STALE_FRAME_MS).size(), 2u);
}

TEST(SimReader, FieldsAreSetByNameAndBadValuesRefused) {
    SimReader sim = Reader(1);
    std::string error;
    const struct { const char* name; const char* value; const char* shown; } cases[] = {
        {"deviceName", "hex:C4E3BAC3", "\\xC4\\xE3\\xBA\\xC3"}, {"deviceName", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", nullptr},
        {"rs485Baud", "0x02", "2"}, {"deviceId", "4294967295", "-1"}, {"deviceId", "12abc", nullptr},
        {"protocolVersion", "0", "0"}, {"payloadLength", "101", "101"},  // a short record, too old
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SimSetField(&sim, c.name, c.value, &error), c.shown != nullptr) << c.name << "=" << c.value;
        if (c.shown) { EXPECT_EQ(SimGetField(&sim, c.name), c.shown); }
    }
    const auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 111u);
    EXPECT_EQ(ClassifyReply(actions[0].bytes.data(), actions[0].bytes.size()), REPLY_TOO_OLD);
}

// One row per fault mode: the writes (delay, byte count; 0: the reply's
// size) and what they carry, garbage first, then copies of the reply.
TEST(SimFault, WritesAndBytesAreAsPlanned) {
    const struct { const char* fault; std::vector<std::pair<int, size_t>> writes; size_t garbage; int copies; } cases[] = {
        {"none", {{0, 0}}, 0, 1},
        {"silent", {}, 0, 0},
        {"late:3500", {{3500, 0}}, 0, 1},
        {"split:4,60", {{0, 30}, {60, 30}, {60, 30}, {60, 30}}, 0, 1},
        {"garbage", {{0, 5}, {100, 0}}, 5, 1},
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
            EXPECT_EQ(std::make_pair(actions[i].delayMs, actions[i].bytes.size()),
                      std::make_pair(c.writes[i].first, c.writes[i].second ? c.writes[i].second : good.size()));
            all.insert(all.end(), actions[i].bytes.begin(), actions[i].bytes.end());
        }
        Bytes expected(all.begin(), all.begin() + c.garbage);
        EXPECT_EQ(std::count(expected.begin(), expected.end(), 'K'), 0);  // garbage never starts a magic
        for (int i = 0; i < c.copies; ++i) expected.insert(expected.end(), good.begin(), good.end());
        EXPECT_EQ(all, expected);
    }
}

TEST(SimFault, DamagedOddAndMissingReplies) {
    SimReader sim = Reader(52, "never-complete:600");
    const Bytes good = SimInfoReplyFrame(&sim);
    for (const char* fault : {"bad-crc", "crc-low-first"}) {
        const Bytes f = OnlyReply(fault);
        EXPECT_EQ(ClassifyReply(f.data(), f.size()), REPLY_BAD_CRC) << fault;
        EXPECT_TRUE(f.size() == good.size() && std::equal(f.begin() + 8, f.end(), good.begin() + 8)) << fault;
    }
    const Bytes oversize = OnlyReply("oversize:1014");
    ASSERT_EQ(oversize.size(), 1024u);
    EXPECT_EQ(ClassifyReply(oversize.data(), 1024), REPLY_INFO);
    EXPECT_EQ(OnlyReply("unknown-type:7", 3).at(10 + 16), 7);

    auto actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_TRUE(actions[0].bytes.size() >= 10 && HasFrameMagic(actions[0].bytes.data()) &&
                FrameTotalLength(actions[0].bytes.data()) > 1024u);
    EXPECT_EQ(std::make_pair(actions[1].delayMs, actions[1].bytes), std::make_pair(600, good));
    sim = Reader(52, "hangup:1500");
    actions = Feed(&sim, kQuery);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(std::make_pair(actions[0].kind, actions[0].downMs), std::make_pair(SIM_ACTION_HANG_UP, 1500));
}

TEST(SimFault, CountedFaultWearsOffAndBadPlansAreRefused) {
    SimReader sim = Reader(52, "silent");
    sim.fault.repliesLeft = 2;
    size_t answered = 0;
    for (int i = 0; i < 4; ++i) answered += Feed(&sim, kQuery, i).size();
    EXPECT_EQ(answered, 2u);

    std::string error;
    for (const char* bad : {"", "loud", "late:-5", "split:1", "oversize:512", "oversize:1015", "split:3,abc"}) {
        EXPECT_FALSE(SimParseFault(bad, &sim.fault, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
