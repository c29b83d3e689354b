// The rig seen from a Windows program: the simulator answers on the
// reader's end of each virtual cable, this program talks on the tool's end
// through the serial line's COM port code, and cables are unplugged through
// the control file. Runs under Wine with the rig's environment.
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

// Sends the query until `count` reply bytes came (at most `attempts` times,
// half a second each); a failed read ends it.
Bytes Ask(SerialLine* line, size_t count, int attempts) {
    const Bytes query = BuildQueryInfoFrame();
    Bytes got;
    uint8_t buf[256];
    for (int a = 0; a < attempts && got.size() < count; ++a) {
        if (!LineWrite(line, query.data(), query.size())) break;
        for (int i = 0; i < 25 && got.size() < count; ++i) {
            const int n = LineRead(line, buf, sizeof buf, 20);
            if (n < 0) return got;
            got.insert(got.end(), buf, buf + n);
        }
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

// Both cables (A: COM5/COM6, B: the two-digit COM12/COM13): the query
// reaches the simulator intact and the largest reply comes back whole.
TEST(RigCable, QueryAnsweredOnBothCables) {
    for (const std::string cable : {"", "_HIGH"}) {
        const std::string app = Env("TAV_APP_PORT" + cable), sim = Env("TAV_SIM_PORT" + cable);
        if (app.empty() || sim.empty()) GTEST_SKIP() << "no rig environment (scripts/rig.sh up)";
        SCOPED_TRACE(app + "/" + sim);
        SimRunner* runner = StartReader(sim, 3);
        std::string error;
        SerialLine* line = LineOpen(app, &error);
        ASSERT_TRUE(runner != nullptr && line != nullptr) << error;
        const Bytes reply = Ask(line, 184, 1);
        LineClose(line);
        ASSERT_EQ(reply.size(), 184u);
        EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_INFO);
        EXPECT_EQ(reply[FRAME_HEADER_SIZE + 16], 3);
        ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 1000));
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, BuildQueryInfoFrame());
        SimRunnerStop(runner);
    }
}

TEST(RigControl, UnpluggedCableFailsUntilReplugged) {
    const std::string app = Env("TAV_APP_PORT"), sim = Env("TAV_SIM_PORT");
    if (app.empty() || Env("TAV_RIG_CTL").empty()) GTEST_SKIP() << "no rig environment";
    SimRunner* runner = StartReader(sim, 52);
    std::string error;
    SerialLine* line = LineOpen(app, &error);
    ASSERT_TRUE(runner != nullptr && line != nullptr) << error;

    ASSERT_TRUE(RigSetCable("", "A", false, 3000, &error)) << error;
    uint8_t buf[16];
    int n = 0;
    for (int i = 0; i < 50 && n >= 0; ++i) n = LineRead(line, buf, sizeof buf, 20);
    EXPECT_LT(n, 0) << "reading an unplugged port did not fail";
    LineClose(line);
    EXPECT_EQ(LineOpen(app, &error), nullptr) << "opened an unplugged port";
    EXPECT_EQ(RigCableState("", "B"), 1) << "the other cable was unplugged too";

    // The reader reopens its end by itself; ask until it answers.
    ASSERT_TRUE(RigSetCable("", "A", true, 3000, &error)) << error;
    line = LineOpen(app, &error);
    ASSERT_NE(line, nullptr) << error;
    const Bytes reply = Ask(line, 120, 10);
    LineClose(line);
    SimRunnerStop(runner);
    ASSERT_GE(reply.size(), 120u);
    EXPECT_EQ(ClassifyReply(reply.data(), 120), REPLY_INFO);
}

}  // namespace
