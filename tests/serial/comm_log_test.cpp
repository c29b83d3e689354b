// The communication log: its lines and its bounded ring.
#include <gtest/gtest.h>

#include "protocol/frame.h"
#include "serial/comm_log.h"
#include "serial/line.h"

namespace {

CommEntry Entry(CommEventKind kind, std::vector<uint8_t> bytes = {}, size_t count = 0, std::string detail = {}) {
    CommEntry e;
    e.detail = std::move(detail);
    e.timeOfDayMs = ((13 * 60 + 4) * 60 + 5) * 1000LL + 67;
    e.kind = kind;
    e.port = "COM3";
    e.bytes = std::move(bytes);
    e.count = count;
    return e;
}

// An exchange's lines (sent, received, discarded, opened, time-out): the window program's log in system_menu_test.cpp.
TEST(CommLog, LinesCarryTimePortDirectionCommandCrcAndBytes) {
    const uint8_t payload[2] = {0xAB, 0x01};
    std::vector<uint8_t> badAck = BuildFrame(1, CMD_CONFIG_ACK, payload, 2);
    badAck[7] ^= 1;
    const struct {
        CommEntry entry;
        const char* line;
    } cases[] = {
        {Entry(COMM_RECEIVED, badAck), "13:04:05.067 COM3 接收 CMD_CONFIG_ACK 长度 2 CRC 错误 4B 57 54 42 01 04 "},
        {Entry(COMM_RECEIVED, {0x4B, 0x57}), "13:04:05.067 COM3 接收 4B 57"},
        {Entry(COMM_PORT_LOST, {}, 0, "设备未就绪。（错误 21）"), "13:04:05.067 COM3 串口已断开：设备未就绪。（错误 21）"},
    };
    for (const auto& c : cases) {
        const std::string line = FormatCommEntry(c.entry);
        EXPECT_EQ(line.substr(0, std::string(c.line).size()), c.line);
    }
}

TEST(CommLog, RingKeepsTheLastEntriesAndNotifiesOncePerRead) {
    CommLog log;
    int notified = 0;
    log.SetNotify([&] { ++notified; });
    log.SetPort("\\\\.\\COM7");
    log.AddEvent(COMM_PORT_OPENED);
    for (size_t i = 0; i < CommLog::CAPACITY + 4; ++i) log.AddDiscarded(i);
    EXPECT_EQ(notified, 1);

    std::vector<CommEntry> all = log.EntriesAfter(0);
    ASSERT_EQ(all.size(), CommLog::CAPACITY);
    EXPECT_EQ(all.front().sequence, 6u);
    EXPECT_EQ(all.front().count, 4u);
    EXPECT_EQ(all.back().port, "COM7");
    EXPECT_EQ(log.OldestSequence(), 6u);

    log.AddEvent(COMM_PORT_CLOSED);
    EXPECT_EQ(notified, 2);
    log.AddLineErrors(0);
    log.AddLineErrors(LINE_ERROR_FRAME | LINE_ERROR_OVERRUN);
    const std::vector<CommEntry> fresh = log.EntriesAfter(all.back().sequence);
    ASSERT_EQ(fresh.size(), 2u) << "no line errors, no entry";
    EXPECT_EQ(fresh[0].kind, COMM_PORT_CLOSED);
    EXPECT_EQ(fresh[1].detail, "帧错误、硬件溢出");

    const std::string text = CommLogText({all[0], fresh[0]});
    EXPECT_EQ(text, FormatCommEntry(all[0]) + "\r\n" + FormatCommEntry(fresh[0]));
    log.Clear();
    EXPECT_TRUE(log.EntriesAfter(0).empty());
    EXPECT_EQ(log.OldestSequence(), 0u);
}

}  // namespace
