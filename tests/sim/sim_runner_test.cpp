// The runner on a pty of its own, talked to from the other end; answers and delays are the tool's tests' part.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame.h"
#include "serial/line.h"
#include "sim/sim_runner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

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
        ASSERT_TRUE(SimParseFault(fault, &sim.fault, &error)) << error;
        SimRunnerOptions options;
        options.port = link_;
        options.createPty = true;
        options.once = once;
        runner_ = SimRunnerStart(options, sim, &error);
        ASSERT_NE(runner_, nullptr) << error;
        client_ = LineOpen(link_, &error);
        ASSERT_NE(client_, nullptr) << error;
    }
    // Sends a query; reads until a whole WiFi reply, timeoutMs, or a hang-up.
    Bytes Ask(int timeoutMs = 2000, bool* hungUp = nullptr) {
        const Bytes q = BuildQueryInfoFrame();
        EXPECT_TRUE(LineWrite(client_, q.data(), q.size()));
        Bytes got;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t buf[1024];
        while (got.size() < 184 && Clock::now() < end) {
            const int n = LineRead(client_, buf, sizeof buf, 20);
            if (n < 0) {
                if (hungUp) *hungUp = true;
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    std::string link_;
    SimRunner* runner_ = nullptr;
    SerialLine* client_ = nullptr;
};

TEST_F(SimRunnerOnPty, HangUpDropsTheLineAndBringsItBack) {
    Start("hangup:300");
    SimRunnerUpdate(runner_, [](SimReader* sim) { sim->fault.repliesLeft = 1; });
    bool hungUp = false;
    EXPECT_TRUE(Ask(1000, &hungUp).empty());
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
    EXPECT_EQ(Ask().size(), 184u);
}

TEST_F(SimRunnerOnPty, OnceStopsAfterTheFirstAnswer) {
    Start("none", true);
    EXPECT_EQ(Ask().size(), 184u);
    for (int i = 0; i < 50 && !SimRunnerFinished(runner_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(SimRunnerFinished(runner_));
}

}  // namespace
