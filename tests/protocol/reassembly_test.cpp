#include <gtest/gtest.h>

#include <vector>

#include "protocol/frame.h"
#include "protocol/reassembly.h"

namespace {

std::vector<uint8_t> Frame(size_t payloadSize, uint8_t fill = 0x11) {
    std::vector<uint8_t> payload(payloadSize, fill);
    return BuildFrame(1, CMD_INFO_REPLY, payload.data(), payload.size());
}

// Drives the parsing side the way the parser thread does, with a fake clock.
class Reassembly : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRxBuffer(&rx);
        ResetReassembler(&r);
    }
    size_t Feed(const std::vector<uint8_t>& bytes) {
        return AppendReceived(&rx, bytes.data(), bytes.size());
    }
    // Polls at time now until nothing more is complete; records each frame.
    ReassemblyResult Run(int64_t now) {
        for (;;) {
            ReassemblyResult res = ReassemblyPoll(&r, &rx, now);
            if (res.frameLength == 0) return res;
            handled.emplace_back(rx.bytes, rx.bytes + res.frameLength);
            ConsumeFrame(&r, &rx, res.frameLength);
        }
    }
    RxBuffer rx;
    Reassembler r;
    std::vector<std::vector<uint8_t>> handled;
};

TEST_F(Reassembly, EmptyBufferWaitsForBytesOnly) {
    EXPECT_EQ(Run(0).waitMs, -1);
}

TEST_F(Reassembly, FrameSplitOverSeveralReadsIsHandledOnce) {
    const std::vector<uint8_t> f = Frame(110);
    const size_t cuts[] = {0, 3, 9, 10, 11, 60, f.size()};
    for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i) {
        Feed(std::vector<uint8_t>(f.begin() + cuts[i], f.begin() + cuts[i + 1]));
        Run(static_cast<int64_t>(i) * 10);
    }
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], f);
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(r.bytesDiscarded, 0u);
}

TEST_F(Reassembly, TwoFramesInOneRead) {
    const std::vector<uint8_t> a = Frame(20, 0xA0), b = Frame(0);
    std::vector<uint8_t> both = a;
    both.insert(both.end(), b.begin(), b.end());
    Feed(both);
    Run(0);
    ASSERT_EQ(handled.size(), 2u);
    EXPECT_EQ(handled[0], a);
    EXPECT_EQ(handled[1], b);
    EXPECT_EQ(r.framesHandled, 2u);
}

TEST_F(Reassembly, GarbageIsDiscardedWholeEvenBeforeAGoodFrame) {
    std::vector<uint8_t> bytes = {'x', 'K', 'W', 'T', 'B', 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> f = Frame(5);
    bytes.insert(bytes.end(), f.begin(), f.end());
    Feed(bytes);
    EXPECT_EQ(Run(0).waitMs, -1);
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(r.bytesDiscarded, bytes.size());
}

TEST_F(Reassembly, StrayBytesGoAfterFiftyMilliseconds) {
    Feed({1, 2, 3, 4, 5});
    EXPECT_EQ(Run(1000).waitMs, 50);
    EXPECT_EQ(Run(1049).waitMs, 1);
    EXPECT_EQ(rx.rxFill, 5u);
    Run(1050);
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(r.bytesDiscarded, 5u);
}

TEST_F(Reassembly, PartialHeaderTimedFromFirstSightNotFromGrowth) {
    const std::vector<uint8_t> f = Frame(4);
    Feed({f.begin(), f.begin() + 3});
    Run(0);
    Feed({f.begin() + 3, f.begin() + 8});
    EXPECT_EQ(Run(30).waitMs, 20);
    Run(50);
    EXPECT_EQ(rx.rxFill, 0u);
    // A header completed in time goes on to wait for the frame.
    Feed({f.begin(), f.begin() + 9});
    Run(100);
    Feed({f.begin() + 9, f.end()});
    Run(149);
    EXPECT_EQ(handled.size(), 1u);
}

TEST_F(Reassembly, RemainderAfterAFrameGetsAFreshPartialTimer) {
    std::vector<uint8_t> bytes = Frame(3);
    bytes.insert(bytes.end(), {'K', 'W'});
    Feed(bytes);
    EXPECT_EQ(Run(500).waitMs, 50);
    EXPECT_EQ(handled.size(), 1u);
    EXPECT_EQ(rx.rxFill, 2u);
    Run(549);
    EXPECT_EQ(rx.rxFill, 2u);
    Run(550);
    EXPECT_EQ(rx.rxFill, 0u);
}

TEST_F(Reassembly, FrameThatCannotFitIsDiscardedAtOnce) {
    std::vector<uint8_t> header = {'K', 'W', 'T', 'B', 1, 2, 0, 0, 0x03, 0xF7};  // 1015 + 10
    Feed(header);
    EXPECT_EQ(Run(0).waitMs, -1);
    EXPECT_EQ(rx.rxFill, 0u);
    // The largest frame that fits, 1024 bytes, is still handled.
    const std::vector<uint8_t> largest = Frame(1014);
    EXPECT_EQ(Feed(largest), 1024u);
    Run(1);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], largest);
}

TEST_F(Reassembly, StalledFrameIsDroppedAndTheNextOneHandled) {
    const std::vector<uint8_t> f = Frame(100);
    Feed({f.begin(), f.begin() + 40});
    EXPECT_EQ(Run(0).waitMs, 500);
    Feed({f.begin() + 40, f.begin() + 60});  // growth restarts the wait
    EXPECT_EQ(Run(400).waitMs, 500);
    EXPECT_EQ(Run(899).waitMs, 1);
    EXPECT_EQ(rx.rxFill, 60u);
    Run(900);
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(r.bytesDiscarded, 60u);
    Feed(f);
    Run(901);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], f);
}

TEST_F(Reassembly, BytesBeyondTheBufferAreDropped) {
    std::vector<uint8_t> bytes(1100, 0x55);
    EXPECT_EQ(Feed(bytes), 1024u);
    EXPECT_EQ(Feed({1}), 0u);
    EXPECT_EQ(rx.rxFill, 1024u);
    Feed(std::vector<uint8_t>(1));
    Run(0);
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(Feed({7, 8}), 2u);
}

}  // namespace
