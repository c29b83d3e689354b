// The rig seen from a Windows program: the simulator answers on the
// reader's end of each virtual cable, this program talks on the tool's end
// through the serial line's COM port code, and cables are unplugged through
// the control file.
#include "e2e_fixture.h"
#include "protocol/reply.h"
#include "serial/line.h"
#include "sim/rig_control.h"

namespace {

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

class RigCable : public ReaderTest {};

// Both cables (A: COM5/COM6, B: COM40/COM41, above COM32): the query
// reaches the simulator intact and the largest reply comes back whole.
TEST_F(RigCable, QueryAnsweredOnBothCables) {
    for (const std::string cable : {"", "_HIGH"}) {
        const std::string app = EnvOr(("TAV_APP_PORT" + cable).c_str(), "");
        simPort = EnvOr(("TAV_SIM_PORT" + cable).c_str(), "");
        if (app.empty() || simPort.empty()) GTEST_SKIP() << "no cable " << cable;
        SCOPED_TRACE(app + "/" + simPort);
        StopAll();
        ASSERT_NO_FATAL_FAILURE(StartReader(DEVICE_TYPE_WIFI));
        std::string error;
        SerialLine* line = LineOpen(app, &error);
        ASSERT_NE(line, nullptr) << error;
        const Bytes reply = Ask(line, 184, 1);
        LineClose(line);
        ASSERT_EQ(reply.size(), 184u);
        EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_INFO);
        EXPECT_EQ(reply[FRAME_HEADER_SIZE + 16], DEVICE_TYPE_WIFI);
        ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 1000));
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, BuildQueryInfoFrame());
    }
}

class RigControl : public ReaderTest {};

TEST_F(RigControl, UnpluggedCableFailsUntilReplugged) {
    if (EnvOr("TAV_RIG_CTL", "").empty()) GTEST_SKIP() << "no rig control file";
    ASSERT_NO_FATAL_FAILURE(StartReader(DEVICE_TYPE_BASIC));
    std::string error;
    SerialLine* line = LineOpen(appPort, &error);
    ASSERT_NE(line, nullptr) << error;

    ASSERT_TRUE(RigSetCable("", "A", false, 3000, &error)) << error;
    uint8_t buf[16];
    int n = 0;
    for (int i = 0; i < 50 && n >= 0; ++i) n = LineRead(line, buf, sizeof buf, 20);
    EXPECT_LT(n, 0) << "reading an unplugged port did not fail";
    LineClose(line);
    EXPECT_EQ(LineOpen(appPort, &error), nullptr) << "opened an unplugged port";
    EXPECT_EQ(RigCableState("", "B"), 1) << "the other cable was unplugged too";

    // The reader reopens its end by itself; ask until it answers.
    ASSERT_TRUE(RigSetCable("", "A", true, 3000, &error)) << error;
    line = LineOpen(appPort, &error);
    ASSERT_NE(line, nullptr) << error;
    const Bytes reply = Ask(line, 120, 10);
    LineClose(line);
    ASSERT_GE(reply.size(), 120u);
    EXPECT_EQ(ClassifyReply(reply.data(), 120), REPLY_INFO);
}

}  // namespace
