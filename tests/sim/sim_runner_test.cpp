// The runner on a real line: the simulator publishes a pty of its own and
// the test talks to it from the other end, like the tool would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame.h"
#include "protocol/reply.h"
#include "serial/line.h"
#include "sim/sim_runner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Reads until count bytes arrived or timeoutMs passed; stops at a hang-up.
Bytes ReadFor(SerialLine* line, size_t count, int timeoutMs, bool* hungUp = nullptr) {
    Bytes got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[1024];
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        int n = LineRead(line, buf, sizeof buf, 20);
        if (n < 0) {
            if (hungUp) *hungUp = true;
            break;
        }
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

class SimRunnerOnPty : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the simulator creates ptys on Linux only";
#else
        link_ = "/tmp/tav-sim-test-" + std::to_string(getpid());
#endif
    }
    void TearDown() override {
        if (client_) LineClose(client_);
        SimRunnerStop(runner_);
    }
    void Start(const char* fault, bool once = false) {
        SimReader sim;
        SimInit(&sim, 3);
        std::string error;
        if (fault) {
            ASSERT_TRUE(SimParseFault(fault, &sim.fault, &error)) << error;
        }
        SimRunnerOptions options;
        options.port = link_;
        options.createPty = true;
        options.once = once;
        runner_ = SimRunnerStart(options, sim, &error);
        ASSERT_NE(runner_, nullptr) << error;
        client_ = LineOpen(link_, &error);
        ASSERT_NE(client_, nullptr) << error;
    }
    void SendQuery() {
        Bytes q = BuildQueryInfoFrame();
        ASSERT_TRUE(LineWrite(client_, q.data(), q.size()));
    }

    std::string link_;
    SimRunner* runner_ = nullptr;
    SerialLine* client_ = nullptr;
};

TEST_F(SimRunnerOnPty, AnswersAQueryAndRecordsIt) {
    Start(nullptr);
    SendQuery();
    Bytes reply = ReadFor(client_, 184, 2000);
    ASSERT_EQ(reply.size(), 184u);
    EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_INFO);
    ASSERT_TRUE(SimRunnerWaitFrames(runner_, 1, 1000));
    auto frames = SimRunnerFrames(runner_);
    EXPECT_EQ(frames[0].raw, BuildQueryInfoFrame());

    // A change made while running shows in the next reply.
    SimRunnerUpdate(runner_, [](SimReader* sim) { sim->protocolVersion = 0; });
    SendQuery();
    reply = ReadFor(client_, 184, 2000);
    ASSERT_EQ(reply.size(), 184u);
    EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_TOO_OLD);
}

TEST_F(SimRunnerOnPty, LateReplyKeepsItsDelay) {
    Start("late:300");
    auto start = std::chrono::steady_clock::now();
    SendQuery();
    EXPECT_TRUE(ReadFor(client_, 1, 200).empty());
    Bytes reply = ReadFor(client_, 184, 2000);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(reply.size(), 184u);
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 1000);
}

TEST_F(SimRunnerOnPty, HangUpDropsTheLineAndBringsItBack) {
    Start("hangup:300");
    SimRunnerUpdate(runner_, [](SimReader* sim) { sim->fault.repliesLeft = 1; });
    SendQuery();
    bool hungUp = false;
    EXPECT_TRUE(ReadFor(client_, 1, 1000, &hungUp).empty());
    EXPECT_TRUE(hungUp);
    LineClose(client_);
    client_ = nullptr;
    std::string error;
    EXPECT_EQ(LineOpen(link_, &error), nullptr);  // unplugged: nothing to open

    // Back after the pause, behind the same name; the fault has worn off.
    for (int i = 0; i < 100 && client_ == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        client_ = LineOpen(link_, &error);
    }
    ASSERT_NE(client_, nullptr) << error;
    SendQuery();
    EXPECT_EQ(ReadFor(client_, 184, 2000).size(), 184u);
}

TEST_F(SimRunnerOnPty, OnceStopsAfterTheFirstAnswer) {
    Start(nullptr, true);
    SendQuery();
    EXPECT_EQ(ReadFor(client_, 184, 2000).size(), 184u);
    for (int i = 0; i < 50 && !SimRunnerFinished(runner_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(SimRunnerFinished(runner_));
}

}  // namespace
