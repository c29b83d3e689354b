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
    // A WiFi reader with fault behind link_, and the other end open.
    void Start(const char* fault, bool once = false) {
        SimReader sim;
        SimInit(&sim, 3);
        SimRunnerOptions options;
        ASSERT_TRUE(SimParseFault(fault, &sim.fault, &error_)) << error_;
        options.port = link_;
        options.createPty = true;
        options.once = once;
        ASSERT_NE(runner_ = SimRunnerStart(options, sim, &error_), nullptr) << error_;
        ASSERT_NE(client_ = LineOpen(link_, &error_), nullptr) << error_;
    }
    // Sends a query; returns the bytes read until a whole reply, two seconds, or a hang-up (-1 if nothing came).
    int Ask() {
        const std::vector<uint8_t> q = BuildQueryInfoFrame();
        EXPECT_TRUE(LineWrite(client_, q.data(), q.size()));
        int got = 0;
        uint8_t buf[1024];
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
             got < 184 && std::chrono::steady_clock::now() < end;) {
            const int n = LineRead(client_, buf, sizeof buf, 20);
            if (n < 0) return got > 0 ? got : -1;
            got += n;
        }
        return got;
    }

    std::string link_, error_;
    SimRunner* runner_ = nullptr;
    SerialLine* client_ = nullptr;
};

TEST_F(SimRunnerOnPty, HangUpDropsTheLineAndBringsItBack) {
    Start("hangup:300");
    SimRunnerUpdate(runner_, [](SimReader* sim) { sim->fault.repliesLeft = 1; });
    EXPECT_EQ(Ask(), -1);
    LineClose(client_);
    client_ = nullptr;
    EXPECT_EQ(LineOpen(link_, &error_), nullptr);  // unplugged: nothing to open
    // Back after the pause, behind the same name; the fault has worn off.
    for (int i = 0; i < 100 && client_ == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        client_ = LineOpen(link_, &error_);
    }
    ASSERT_NE(client_, nullptr) << error_;
    EXPECT_EQ(Ask(), 184);
}

TEST_F(SimRunnerOnPty, OnceStopsAfterTheFirstAnswer) {
    Start("none", true);
    EXPECT_EQ(Ask(), 184);
    for (int i = 0; i < 50 && !SimRunnerFinished(runner_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(SimRunnerFinished(runner_));
}

}  // namespace
