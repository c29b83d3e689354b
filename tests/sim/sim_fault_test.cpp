// Each fault of the simulated reader does what it claims, checked on the
// actions a query produces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "protocol/reply.h"
#include "sim/sim_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kQuery = {'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00};

struct Answer {
    std::vector<SimAction> actions;
    Bytes good;  // the reply without a fault
};

Answer Query(const char* fault, int type = 52) {
    SimReader sim;
    SimInit(&sim, type);
    std::string error;
    EXPECT_TRUE(SimParseFault(fault, &sim.fault, &error)) << error;
    Answer r;
    r.good = SimInfoReplyFrame(&sim);
    r.actions = SimFeed(&sim, kQuery.data(), kQuery.size(), 0);
    return r;
}

Bytes Joined(const std::vector<SimAction>& actions) {
    Bytes all;
    for (const SimAction& a : actions) all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    return all;
}

TEST(SimFault, SilentAnswersNothing) {
    EXPECT_TRUE(Query("silent").actions.empty());
}

TEST(SimFault, CrcFaultsAreRejectedByTheProgramsCheck) {
    for (const char* fault : {"bad-crc", "crc-low-first"}) {
        SCOPED_TRACE(fault);
        Answer r = Query(fault);
        ASSERT_EQ(r.actions.size(), 1u);
        const Bytes& f = r.actions[0].bytes;
        ASSERT_EQ(f.size(), r.good.size());
        // Only the CRC differs.
        EXPECT_TRUE(std::equal(f.begin() + 8, f.end(), r.good.begin() + 8));
        EXPECT_NE(ReadU16BE(&f[6]), ReadU16BE(&r.good[6]));
        EXPECT_EQ(ClassifyReply(f.data(), f.size()), REPLY_BAD_CRC);
    }
    Answer low = Query("crc-low-first");
    EXPECT_EQ(low.actions[0].bytes[6], low.good[7]);
    EXPECT_EQ(low.actions[0].bytes[7], low.good[6]);
}

TEST(SimFault, ProtocolVersionIsAnyByte) {
    for (int version : {0, 1, 2, 200}) {
        SimReader sim;
        SimInit(&sim, 1);
        std::string error;
        ASSERT_TRUE(SimSetField(&sim, "protocolVersion", std::to_string(version), &error));
        auto actions = SimFeed(&sim, kQuery.data(), kQuery.size(), 0);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0].bytes[4], version);
        EXPECT_EQ(ClassifyReply(actions[0].bytes.data(), actions[0].bytes.size()),
                  version == 0 ? REPLY_TOO_OLD : REPLY_INFO);
    }
}

// Faults that reshape the timing of an otherwise good reply: the writes
// (delay, size) they produce and the bytes all writes carry together.
struct TimingCase {
    const char* fault;
    std::vector<std::pair<int, size_t>> writes;  // delayMs, byte count (0: the reply's size)
    int garbageBefore;                           // bytes ahead of the reply
    int copies;                                  // replies in the stream
};

class SimTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(SimTiming, WritesAndBytesAreAsClaimed) {
    const TimingCase& c = GetParam();
    Answer r = Query(c.fault);
    ASSERT_EQ(r.actions.size(), c.writes.size());
    for (size_t i = 0; i < c.writes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.actions[i].kind, SIM_ACTION_WRITE);
        EXPECT_EQ(r.actions[i].delayMs, c.writes[i].first);
        size_t size = c.writes[i].second ? c.writes[i].second : r.good.size();
        EXPECT_EQ(r.actions[i].bytes.size(), size);
    }
    Bytes all = Joined(r.actions);
    Bytes expected(all.begin(), all.begin() + c.garbageBefore);
    for (uint8_t b : expected) EXPECT_NE(b, 'K');  // garbage never looks like a magic
    for (int i = 0; i < c.copies; ++i) expected.insert(expected.end(), r.good.begin(), r.good.end());
    EXPECT_EQ(all, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimTiming,
    ::testing::Values(TimingCase{"none", {{0, 0}}, 0, 1},
                      TimingCase{"late", {{2500, 0}}, 0, 1},
                      TimingCase{"late:3500", {{3500, 0}}, 0, 1},
                      TimingCase{"split", {{0, 40}, {20, 40}, {20, 40}}, 0, 1},
                      TimingCase{"split:4,60", {{0, 30}, {60, 30}, {60, 30}, {60, 30}}, 0, 1},
                      TimingCase{"garbage", {{0, 5}, {100, 0}}, 5, 1},
                      TimingCase{"garbage:12,0", {{0, 132}}, 12, 1},
                      TimingCase{"double", {{0, 240}}, 0, 2}),
    [](const ::testing::TestParamInfo<TimingCase>& info) {
        std::string name = info.param.fault;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(SimFault, NeverCompleteAnnouncesMoreThanAReceiverHolds) {
    Answer r = Query("never-complete:600");
    ASSERT_EQ(r.actions.size(), 2u);
    const Bytes& broken = r.actions[0].bytes;
    ASSERT_GE(broken.size(), 10u);
    EXPECT_TRUE(HasFrameMagic(broken.data()));
    EXPECT_GT(FrameTotalLength(broken.data()), 1024u);
    EXPECT_LT(broken.size(), FrameTotalLength(broken.data()));
    EXPECT_EQ(r.actions[1].delayMs, 600);
    EXPECT_EQ(r.actions[1].bytes, r.good);

    EXPECT_EQ(Query("never-complete:-1").actions.size(), 1u);
}

TEST(SimFault, OversizeAndUnknownTypeChangeOnlyTheInformationReply) {
    Answer big = Query("oversize:1014");
    ASSERT_EQ(big.actions.size(), 1u);
    const Bytes& f = big.actions[0].bytes;
    EXPECT_EQ(f.size(), 1024u);
    EXPECT_EQ(ClassifyReply(f.data(), f.size()), REPLY_INFO);
    // The record itself is unchanged at the front.
    EXPECT_TRUE(std::equal(big.good.begin() + 10, big.good.end(), f.begin() + 10));

    Answer odd = Query("unknown-type:7", 3);
    ASSERT_EQ(odd.actions.size(), 1u);
    EXPECT_EQ(odd.actions[0].bytes.size(), odd.good.size());
    EXPECT_EQ(odd.actions[0].bytes[10 + 16], 7);

    // An acknowledgement is not an information reply: sent as usual.
    SimReader sim;
    SimInit(&sim, 52);
    std::string error;
    ASSERT_TRUE(SimParseFault("oversize", &sim.fault, &error));
    Bytes record(93, 0);
    Bytes write = BuildWriteConfigFrame(record.data(), record.size());
    auto ack = SimFeed(&sim, write.data(), write.size(), 0);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0].bytes, SimConfigAckFrame(&sim));
}

TEST(SimFault, HangUpReplacesTheAnswer) {
    Answer r = Query("hangup:1500");
    ASSERT_EQ(r.actions.size(), 1u);
    EXPECT_EQ(r.actions[0].kind, SIM_ACTION_HANG_UP);
    EXPECT_EQ(r.actions[0].downMs, 1500);
    EXPECT_TRUE(r.actions[0].bytes.empty());
}

TEST(SimFault, ACountedFaultWearsOff) {
    SimReader sim;
    SimInit(&sim, 52);
    std::string error;
    ASSERT_TRUE(SimParseFault("silent", &sim.fault, &error));
    sim.fault.repliesLeft = 2;
    size_t answered = 0;
    for (int i = 0; i < 4; ++i) answered += SimFeed(&sim, kQuery.data(), kQuery.size(), i).size();
    EXPECT_EQ(answered, 2u);
}

TEST(SimFault, ParsingRefusesWhatIsNotAFault) {
    SimFaultSpec spec;
    std::string error;
    for (const char* bad : {"", "loud", "late:x", "late:-5", "split:1", "oversize:512",
                            "oversize:1015", "unknown-type:256", "garbage:0", "split:3,abc"}) {
        EXPECT_FALSE(SimParseFault(bad, &spec, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    ASSERT_TRUE(SimParseFault("split:5,7", &spec, &error));
    EXPECT_EQ(spec.fault, SIM_FAULT_SPLIT);
    EXPECT_EQ(spec.arg, 5);
    EXPECT_EQ(spec.arg2, 7);
    EXPECT_EQ(spec.repliesLeft, -1);
}

}  // namespace
