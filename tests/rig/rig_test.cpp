// The rig as the window program meets it: the simulator answers on the
// reader's end of a virtual cable while this program, on the tool's end,
// opens the port the way the window program does and talks to it.
// Runs under Wine with the rig's environment; skips without it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
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

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The window program's open sequence: overlapped, no sharing, then mask,
// queues, time-outs, 115200 8N1 and a purge.
HANDLE OpenLikeTheProgram(const std::string& port) {
    HANDLE h = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    SetCommMask(h, EV_RXCHAR);
    SetupComm(h, 2048, 2048);
    COMMTIMEOUTS t = {MAXDWORD, 0, 0, 100, 500};
    SetCommTimeouts(h, &t);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);
    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return h;
}

bool WriteOverlapped(HANDLE h, const Bytes& bytes) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(ov.hEvent, 1000) == WAIT_OBJECT_0)
        ok = GetOverlappedResult(h, &ov, &done, FALSE);
    CloseHandle(ov.hEvent);
    return ok && done == bytes.size();
}

// The window program's receive loop, bounded in time: wait for EV_RXCHAR,
// then one read of what is there.
Bytes ReceiveLikeTheProgram(HANDLE h, size_t want, int timeoutMs) {
    Bytes got;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        ResetEvent(ov.hEvent);
        DWORD mask = 0, n = 0;
        if (!WaitCommEvent(h, &mask, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) break;
            if (WaitForSingleObject(ov.hEvent, 200) != WAIT_OBJECT_0) {
                SetCommMask(h, EV_RXCHAR);  // releases the wait
                CancelIoEx(h, &ov);
                GetOverlappedResult(h, &ov, &n, TRUE);
                continue;
            }
            GetOverlappedResult(h, &ov, &n, FALSE);
        }
        COMSTAT status = {};
        DWORD errors = 0;
        if (!ClearCommError(h, &errors, &status) || status.cbInQue == 0) continue;
        uint8_t buf[1024];
        ResetEvent(ov.hEvent);
        if (!ReadFile(h, buf, std::min<DWORD>(status.cbInQue, sizeof buf), &n, &ov) &&
            (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &ov, &n, TRUE))) {
            break;
        }
        got.insert(got.end(), buf, buf + n);
    }
    CloseHandle(ov.hEvent);
    return got;
}

// Reads from line until count bytes came or about timeoutMs passed; a
// failed read ends it.
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

// Both cables (A: COM5/COM6, B: the two-digit COM12/COM13): the program's
// query answered through the shim, then a burst as large as the biggest
// reply the program takes, both ways.
TEST(RigCable, QueryAnsweredAndBurstsPassIntact) {
    for (const char* cable : {"", "_HIGH"}) {
        const std::string app = Env(("TAV_APP_PORT" + std::string(cable)).c_str());
        const std::string sim = Env(("TAV_SIM_PORT" + std::string(cable)).c_str());
        if (app.empty() || sim.empty()) GTEST_SKIP() << "no rig environment (scripts/rig.sh up)";
        SCOPED_TRACE(app + "/" + sim);

        SimRunner* runner = StartReader(sim, 3);
        ASSERT_NE(runner, nullptr);
        HANDLE h = OpenLikeTheProgram(app);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        ASSERT_TRUE(WriteOverlapped(h, BuildQueryInfoFrame()));
        Bytes reply = ReceiveLikeTheProgram(h, 184, 3000);
        CloseHandle(h);
        ASSERT_EQ(reply.size(), 184u);
        EXPECT_EQ(ClassifyReply(reply.data(), reply.size()), REPLY_INFO);
        EXPECT_EQ(reply[FRAME_HEADER_SIZE + 16], 3);
        ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 1000));
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, BuildQueryInfoFrame());
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
