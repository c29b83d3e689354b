// The provisioning plan (CSV as spreadsheets save it, every refusal with
// its place) and the audit log (written lines read back, a torn last line).
#include <gtest/gtest.h>

#include "cli/audit_log.h"
#include "cli/plan.h"
#include "cli/provision.h"

namespace {

struct Parsed {
    int code;
    Plan plan;
    std::vector<std::string> problems;
};

Parsed Parse(const std::string& text, const Overlay& base = Overlay()) {
    Parsed p;
    p.code = ParsePlan(text, "plan.csv", base, &p.plan, &p.problems);
    return p;
}

TEST(Plan, SpreadsheetFilesInEveryEncodingGiveTheSameRows) {
    // "门禁" in UTF-8 and in GBK.
    const std::string utf8 = "\xE9\x97\xA8\xE7\xA6\x81", gbk = "\xC3\xC5\xBD\xFB";
    const std::string header = "ipAddress,deviceName,platformPort,deviceId\r\n";
    const std::string rows = "10.0.7.21,\"NAME,\"\"A\"\"\",9000,\r\n,\"NAME\nB\",,7\r\n,,,\r\n";
    auto with = [&](const std::string& name) {
        std::string text = header + rows;
        for (size_t at; (at = text.find("NAME")) != std::string::npos;) text.replace(at, 4, name);
        return text;
    };
    for (const std::string& text : {"\xEF\xBB\xBF" + with(utf8), with(utf8), with(gbk)}) {
        const Parsed p = Parse(text);
        ASSERT_EQ(p.code, 0) << (p.problems.empty() ? "" : p.problems[0]);
        EXPECT_EQ(p.plan.gbk, text == with(gbk));
        ASSERT_EQ(p.plan.rows.size(), 2u);  // the empty row at the end is passed over
        const Overlay& first = p.plan.rows[0].overlay;
        EXPECT_EQ(first.values[F_DEVICE_NAME].text, gbk + ",\"A\"");
        EXPECT_EQ(first.values[F_IP_ADDRESS].address, 0x0A000715u);
        EXPECT_EQ(first.values[F_PLATFORM_PORT].number, 9000);
        EXPECT_FALSE(first.values[F_DEVICE_ID].present);
        EXPECT_EQ(p.plan.rows[1].row, 3);
        EXPECT_EQ(p.plan.rows[1].overlay.values[F_DEVICE_NAME].text, gbk + "\nB");
        EXPECT_EQ(RowLabel(p.plan.rows[0]), "10.0.7.21");
    }
}

TEST(Plan, EveryProblemIsOneLineWithItsPlace) {
    Overlay dhcpBase;
    InputError error;
    ASSERT_TRUE(ParseSetting("dhcpEnabled=true", &dhcpBase, &error));
    const struct { std::string text; int code; std::vector<std::string> lines; Overlay base; } cases[] = {
        {"ipAddress,deviceId\n10.0.7.21,1\n10.0.7.22,2\n10.0.7.21,1\n", 3,
         {"plan.csv:4: ipAddress 10.0.7.21 repeats row 2", "plan.csv:4: deviceId 1 repeats row 2",
          "plan.csv:4: the row repeats row 2"}, {}},
        {"ipAddress,deviceName\n10.0.7.21,a\n10.0.7.21,b\n\"\",c\n,d\n", 0, {}, dhcpBase},  // DHCP and empty rows may repeat
        {"platformPort\n9000\n9000\n", 3, {"plan.csv:3: the row repeats row 2 (every reader must differ)"}, {}},
        {"deviceName,port\nA,COM1\nA,COM1\n", 3,
         {"plan.csv:3: deviceName \"A\" repeats row 2", "plan.csv:3: port COM1 repeats row 2"}, {}},
        {"ipAddress,colour, ipAddress ,\n", 2,
         {"plan.csv:1:2: unknown column \"colour\"", "plan.csv:1:3: column ipAddress appears twice (also column 1)",
          "plan.csv:1:4: a column without a name"}, {}},
        {"ipAddress,deviceName\n10.0.0.1\n", 2, {"plan.csv:2:2: the row has 1 cells, the first row 2"}, {}},
        {"ipAddress,deviceName\n10.0.0.1,\"open\n", 2, {"plan.csv:2:2: a quote that never closes"}, {}},
        {"deviceName\n\"a\"b\n", 2, {"plan.csv:2:1: text after the closing quote of a cell"}, {}},
        {"deviceName\n" + std::string(10 << 20, 'x') + "\n", 2, {"plan.csv:2:1: a cell longer than 1024 bytes"}, {}},
        {"deviceName\nok\n\xFF\xFE\n", 2, {"plan.csv:3:1: invalid bytes: the cell is neither UTF-8 nor GBK"}, {}},
        {"\xEF\xBB\xBF" "deviceName\n\xC3\xC5\n", 2, {"plan.csv:2:1: invalid bytes: the cell is no UTF-8"}, {}},
        {"platformPort,ipAddress,port\nabc,10.0.0.256,\n70000,10.0.0.1,COM2\n", 2,
         {"plan.csv:2:1: platformPort must be a port number 0-65535, not \"abc\"",
          "plan.csv:2:2: ipAddress must be an address", "plan.csv:2:3: the port is empty",
          "plan.csv:3:1: platformPort must be a port number 0-65535"}, {}},
        {"deviceName\n", 2, {"plan.csv:2:1: no readers"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const Parsed p = Parse(c.text, c.base);
        EXPECT_EQ(p.code, c.code);
        ASSERT_EQ(p.problems.size(), c.lines.size()) << (p.problems.empty() ? "" : p.problems[0]);
        for (size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(p.problems[i].rfind(c.lines[i], 0), 0u) << p.problems[i];
            EXPECT_EQ(p.problems[i].find('\n'), std::string::npos);
        }
    }
}

TEST(AuditLog, LinesReadBackAsWrittenAndATornLastLineIsLeftOut) {
    AuditRecord a;
    a.time = "2026-12-07T01:30:49Z";
    a.port = "/dev/ttyUSB0";
    a.row = 4;
    a.deviceType = 52;
    a.firmwareVersion = "V2.1.8";
    a.before = {{"formatVersion", 1}, {"fields", {{"deviceName", "门禁\n"}}}};
    a.written = {{"ipAddress", "10.0.7.24"}};
    a.record = "01C3C5";
    a.result = "ok";
    AuditRecord b = a;
    b.row = 5;
    b.result = "line lost";
    b.note = "held";
    const std::string text = FormatAuditRecord(a) + FormatAuditRecord(b);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

    AuditLog log;
    std::string error;
    ASSERT_TRUE(ParseAuditLog(text + "{\"time\": \"2026-", "run.log.jsonl", &log, &error)) << error;
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(FormatAuditRecord(log.records[0]) + FormatAuditRecord(log.records[1]), text);
    EXPECT_EQ(log.goodBytes, text.size());
    EXPECT_EQ(log.warning.rfind("run.log.jsonl:3:1: the last line is incomplete", 0), 0u) << log.warning;

    const struct { std::string text; const char* error; } bad[] = {
        {FormatAuditRecord(a) + "{\"time\": 1}\n", "run.log.jsonl:2:1: \"time\" missing or of the wrong kind"},
        {FormatAuditRecord(a) + "{\"time\" \n", "run.log.jsonl:2:9: not valid JSON"},
        {"\"\xFF\"\n", "run.log.jsonl:1:2: not valid JSON"},
        {std::string(70000, ' ') + "\n", "run.log.jsonl:1:65537: a line longer than 65536 bytes"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(ParseAuditLog(c.text, "run.log.jsonl", &log, &error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    EXPECT_EQ(DefaultLogPath("/bench/fleet.CSV"), "/bench/fleet.log.jsonl");
    EXPECT_EQ(DefaultLogPath("v1.2/plan"), "v1.2/plan.log.jsonl");
}

}  // namespace
