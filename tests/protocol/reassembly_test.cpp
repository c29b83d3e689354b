// The parsing side of the receive path, driven with a fake clock.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/frame.h"
#include "protocol/reassembly.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(size_t payloadSize, uint8_t fill = 0x11) {
    Bytes payload(payloadSize, fill);
    return BuildFrame(1, CMD_INFO_REPLY, payload.data(), payload.size());
}

Bytes Part(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

class Reassembly : public ::testing::Test {
protected:
    Reassembly() {
        ResetRxBuffer(&rx);
        ResetReassembler(&r);
    }
    size_t Feed(const Bytes& bytes) { return AppendReceived(&rx, bytes.data(), bytes.size()); }
    // Polls at time now until nothing more is complete, as the parser thread does.
    int Run(int64_t now) {
        for (;;) {
            ReassemblyResult res = ReassemblyPoll(&r, &rx, now);
            if (res.frameLength == 0) return res.waitMs;
            handled.emplace_back(rx.bytes, rx.bytes + res.frameLength);
            ConsumeFrame(&r, &rx, res.frameLength);
        }
    }
    RxBuffer rx;
    Reassembler r;
    std::vector<Bytes> handled;
};

TEST_F(Reassembly, SplitAndJoinedFramesAreEachHandledOnce) {
    const Bytes f = Frame(110), a = Frame(20, 0xA0), b = Frame(0);
    const size_t cuts[] = {0, 3, 9, 10, 11, 60, f.size()};
    for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i) {
        Feed(Part(f, cuts[i], cuts[i + 1]));
        Run(static_cast<int64_t>(i) * 10);
    }
    Feed(a);
    Feed(b);  // joined: both in the buffer before the next poll
    EXPECT_EQ(Run(100), -1);
    EXPECT_EQ(handled, (std::vector<Bytes>{f, a, b}));
    EXPECT_EQ(rx.rxFill + r.bytesDiscarded, 0u);
}

TEST_F(Reassembly, PartialHeaderGoesAfterFiftyMillisecondsFromFirstSight) {
    Feed({1, 2, 3, 4, 5});
    EXPECT_EQ(Run(1000), 50);
    EXPECT_EQ(Run(1049), 1);
    Run(1050);
    EXPECT_EQ(rx.rxFill, 0u);

    // Growth short of a header does not restart the timer.
    const Bytes f = Frame(4);
    Feed(Part(f, 0, 3));
    Run(2000);
    Feed(Part(f, 3, 8));
    EXPECT_EQ(Run(2030), 20);
    Run(2050);
    EXPECT_EQ(rx.rxFill, 0u);

    // What follows a handled frame gets a timer of its own.
    Bytes tail = Frame(3);
    tail.insert(tail.end(), {'K', 'W'});
    Feed(tail);
    EXPECT_EQ(Run(4000), 50);
    EXPECT_EQ(handled.size(), 1u);
    Run(4049);
    EXPECT_EQ(rx.rxFill, 2u);
    Run(4050);
    EXPECT_EQ(rx.rxFill, 0u);
}

// Garbage (even before a good frame), oversize frames and bytes beyond the
// buffer are dropped at once.
TEST_F(Reassembly, WhatCannotBeAFrameIsDroppedAtOnce) {
    Bytes bytes = {'x', 'K', 'W', 'T', 'B', 0, 0, 0, 0, 0, 0};
    const Bytes f = Frame(5);
    bytes.insert(bytes.end(), f.begin(), f.end());
    Feed(bytes);
    EXPECT_EQ(Run(0), -1);
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(r.bytesDiscarded, bytes.size());

    Feed({'K', 'W', 'T', 'B', 1, 2, 0, 0, 0x03, 0xF7});  // 1015 + 10 bytes: cannot fit
    EXPECT_EQ(Run(0), -1);
    EXPECT_EQ(rx.rxFill, 0u);
    EXPECT_EQ(Feed(Bytes(1100, 0x55)), 1024u);
    EXPECT_EQ(Feed({1}), 0u);
    Run(1);
    const Bytes largest = Frame(1014);  // 1024 bytes: still fits
    EXPECT_EQ(Feed(largest), 1024u);
    Run(2);
    EXPECT_EQ(handled, std::vector<Bytes>{largest});
}

TEST_F(Reassembly, StalledFrameIsDroppedAfter500MsWithoutGrowth) {
    const Bytes f = Frame(100);
    Feed(Part(f, 0, 40));
    EXPECT_EQ(Run(0), 500);
    Feed(Part(f, 40, 60));
    EXPECT_EQ(Run(400), 500);
    EXPECT_EQ(Run(899), 1);
    Run(900);
    EXPECT_EQ(r.bytesDiscarded, 60u);
    Feed(f);
    Run(901);
    EXPECT_EQ(handled, std::vector<Bytes>{f});
}

}  // namespace
