// The rig seen from a Windows program: the simulator answers on the
// reader's end of each virtual cable, this program talks on the tool's
// end through the COM port (overlapped, WaitCommEvent, as the window
// program does), and cables are unplugged through the control file.
// Runs under Wine with the rig's environment; skips without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/reply.h"
#include "serial/line.h"
#include "sim/rig_control.h"
#include "sim/sim_runner.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Env(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? v : "";
}

// Reads until count bytes came or about timeoutMs passed; a failed read
// ends it.
Bytes ReadLine(SerialLine* line, size_t count, int timeoutMs) {
    Bytes got;
    uint8_t buf[1024];
    for (int i = 0; i < timeoutMs / 20 && got.size() < count; ++i) {
        const int n = LineRead(line, buf, sizeof buf, 20);
        if (n < 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

SimRunner* StartReader(const std::string& port, int type) {
    SimReader sim;
    SimInit(&sim, type);
    SimRunnerOptions options;
    options.port = port;
    std::string error;
    SimRunner* runner = SimRunnerStart(options, sim, &error);
    EXPECT_NE(runner, nullptr) << port << ": " << error;
    return runner;
}

// Both cables (A: COM5/COM6, B: the two-digit COM12/COM13): a query
// answered by the simulator, then bursts as large as the biggest reply
// the program takes, both ways.
TEST(RigCable, QueryAnsweredAndBurstsPassIntact) {
    for (const std::string cable : {"", "_HIGH"}) {
        const std::string app = Env("TAV_APP_PORT" + cable), sim = Env("TAV_SIM_PORT" + cable);
        if (app.empty() || sim.empty()) GTEST_SKIP() << "no rig environment (scripts/rig.sh up)";
        SCOPED_TRACE(app + "/" + sim);

        SimRunner* runner = StartReader(sim, 3);
        ASSERT_NE(runner, nullptr);
        std::string error;
        SerialLine* line = LineOpen(app, &error);
        ASSERT_NE(line, nullptr) << error;
        const Bytes query = BuildQueryInfoFrame();
        ASSERT_TRUE(LineWrite(line, query.data(), query.size()));
        const Bytes reply = ReadLine(line, 184, 3000);
        LineClose(line);
        ASSERT_EQ(reply.size(), 184u);
        EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_INFO);
        EXPECT_EQ(reply[FRAME_HEADER_SIZE + 16], 3);
        ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 1000));
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, query);
        SimRunnerStop(runner);

        SerialLine* a = LineOpen(app, nullptr);
        SerialLine* b = LineOpen(sim, nullptr);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        Bytes burst(1024);
        for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7 + 1);
        EXPECT_TRUE(LineWrite(b, burst.data(), burst.size()));
        EXPECT_EQ(ReadLine(a, burst.size(), 2000), burst);
        EXPECT_TRUE(LineWrite(a, burst.data(), burst.size()));
        EXPECT_EQ(ReadLine(b, burst.size(), 2000), burst);
        LineClose(a);
        LineClose(b);
    }
}

TEST(RigControl, UnpluggedCableFailsUntilReplugged) {
    const std::string app = Env("TAV_APP_PORT"), sim = Env("TAV_SIM_PORT");
    if (app.empty() || Env("TAV_RIG_CTL").empty()) GTEST_SKIP() << "no rig environment";
    SimRunner* runner = StartReader(sim, 52);
    ASSERT_NE(runner, nullptr);
    std::string error;
    SerialLine* line = LineOpen(app, &error);
    ASSERT_NE(line, nullptr) << error;

    ASSERT_TRUE(RigSetCable("", "A", false, 3000, &error)) << error;
    uint8_t buf[64];
    int n = 0;
    for (int i = 0; i < 50 && n >= 0; ++i) n = LineRead(line, buf, sizeof buf, 20);
    EXPECT_LT(n, 0) << "reading an unplugged port did not fail";
    LineClose(line);
    EXPECT_EQ(LineOpen(app, &error), nullptr) << "opened an unplugged port";
    EXPECT_EQ(RigCableState("", "B"), 1) << "the other cable was unplugged too";

    ASSERT_TRUE(RigSetCable("", "A", true, 3000, &error)) << error;
    line = LineOpen(app, &error);
    ASSERT_NE(line, nullptr) << error;
    // The reader reopens its end by itself; ask until it answers.
    Bytes reply;
    const Bytes query = BuildQueryInfoFrame();
    for (int attempt = 0; attempt < 10 && reply.size() < 120; ++attempt) {
        ASSERT_TRUE(LineWrite(line, query.data(), query.size()));
        const Bytes got = ReadLine(line, 120 - reply.size(), 500);
        reply.insert(reply.end(), got.begin(), got.end());
    }
    LineClose(line);
    SimRunnerStop(runner);
    ASSERT_GE(reply.size(), 120u);
    EXPECT_EQ(ClassifyReply(reply.data(), 120), REPLY_INFO);
}

}  // namespace
