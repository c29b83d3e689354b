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
    // A WiFi reader behind link_ that stops after its first answer, and the other end open.
    void Start() {
        SimReader sim;
        SimInit(&sim, 3);
        SimRunnerOptions options;
        options.port = link_;
        options.createPty = true;
        options.once = true;
        ASSERT_NE(runner_ = SimRunnerStart(options, sim, &error_), nullptr) << error_;
        ASSERT_NE(client_ = LineOpen(link_, &error_), nullptr) << error_;
    }
    // Sends a query; returns the bytes read until a whole reply, two seconds, or a failed read.
    int Ask() {
        const std::vector<uint8_t> q = BuildQueryInfoFrame();
        EXPECT_TRUE(LineWrite(client_, q.data(), q.size()));
        int got = 0;
        uint8_t buf[1024];
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
             got < 184 && std::chrono::steady_clock::now() < end;) {
            const int n = LineRead(client_, buf, sizeof buf, 20);
            if (n < 0) break;
            got += n;
        }
        return got;
    }

    std::string link_, error_;
    SimRunner* runner_ = nullptr;
    SerialLine* client_ = nullptr;
};

TEST_F(SimRunnerOnPty, OnceStopsAfterTheFirstAnswer) {
    Start();
    EXPECT_EQ(Ask(), 184);
    for (int i = 0; i < 50 && !SimRunnerFinished(runner_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(SimRunnerFinished(runner_));
}

}  // namespace
