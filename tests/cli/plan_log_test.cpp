// The provisioning plan (CSV as spreadsheets save it, every refusal with
// its place, the warnings once per kind), the audit log (written lines
// read back without secrets, a torn last line), the report of a log, and
// the console's lines for the engine's events.
#include <gtest/gtest.h>

#include "cli/audit_log.h"
#include "cli/plan.h"
#include "cli/provision.h"
#include "cli/provision_engine.h"
#include "cli/report.h"

#include <cstring>

namespace {

struct Parsed {
    int code;
    Plan plan;
    std::vector<std::string> problems;  // as the console shows them
};

Parsed Parse(const std::string& text, const Overlay& base = Overlay()) {
    Parsed p;
    std::vector<PlanProblem> problems;
    p.code = ParsePlan(text, "plan.csv", base, &p.plan, &problems);
    for (const PlanProblem& problem : problems) p.problems.push_back(PlanProblemLine("plan.csv", problem));
    return p;
}

Overlay Doc(const std::string& fields, int type = DEVICE_TYPE_BASIC) {
    Overlay overlay;
    InputError error;
    EXPECT_TRUE(ParseDocument(R"({"formatVersion": 1, "deviceType": )" + std::to_string(type) + R"(, "fields": )" + fields + "}",
                              "base.json", &overlay, &error))
        << error.message;
    return overlay;
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
        EXPECT_EQ(RowAddress(Overlay(), p.plan.rows[0]), "10.0.7.21");
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
        {"platformPort,devicePassword\n9000,a\n9000,b\n", 3, {"plan.csv:3: the row repeats row 2 (every reader must differ"}, {}},
        {"deviceName,port\nA,COM1\nA,COM1\n", 3,
         {"plan.csv:3: deviceName \"A\" repeats row 2", "plan.csv:3: port COM1 repeats row 2"}, {}},
        {"ipAddress,colour, IPADDRESS ,\n", 2,
         {"plan.csv:1:2: unknown column \"colour\"; a plan may name: port, connectMode, deviceName,",
          "plan.csv:1:3: column ipAddress appears twice (also column 1)", "plan.csv:1:4: a column without a name"}, {}},
        {"ipAdress,DeviceName,Port\n", 2, {"plan.csv:1:1: unknown column \"ipAdress\" (did you mean ipAddress?); a plan may name"}, {}},
        // Values no network can use, with their place; a mask of a base or another column counts.
        {"ipAddress,subnetMask,platformPort\n0.0.0.0,,\n255.255.255.255,,\n224.0.0.5,,\n127.0.0.1,,\n10.0.7.0,,\n"
         "10.0.7.9,255.0.255.0,\n10.0.7.10,,0\n10.0.9.255,255.255.254.0,\n239.255.255.1,,\n",
         3, {"plan.csv:2:1: ipAddress 0.0.0.0 is no address", "plan.csv:3:1: ipAddress 255.255.255.255 is the broadcast address of every",
             "plan.csv:4:1: ipAddress 224.0.0.5 is a multicast address", "plan.csv:5:1: ipAddress 127.0.0.1 is a loopback address",
             "plan.csv:6:1: ipAddress 10.0.7.0 is the network address of its subnet 10.0.7.0/24",
             "plan.csv:7:2: subnetMask 255.0.255.0 is no subnet mask", "plan.csv:8:3: platformPort 0: no platform listens",
             "plan.csv:9:1: ipAddress 10.0.9.255 is the broadcast address of its subnet 10.0.8.0/23",
             "plan.csv:10:1: ipAddress 239.255.255.1 is a multicast address"},
         Doc(R"({"subnetMask": "255.255.255.0"})")},
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
        EXPECT_TRUE(p.plan.warnings.empty()) << p.plan.warnings[0].text;
        EXPECT_EQ(p.code, c.code);
        ASSERT_EQ(p.problems.size(), c.lines.size()) << (p.problems.empty() ? "" : p.problems[0]);
        for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(p.problems[i].rfind(c.lines[i], 0), 0u) << p.problems[i];
    }
}

TEST(Plan, WarningsComeOncePerKindWithTheirRows) {
    const struct { std::string text; Overlay base; std::vector<PlanWarning> warnings; } cases[] = {
        {"ipAddress,gateway,platformIp\n 10.0.7.21 ,10.0.7.1,10.0.7.5\n10.0.7.22,10.9.9.1,10.0.7.5\n"
         "10.0.7.23,10.8.8.1, 10.0.7.5\n10.0.7.5,10.0.7.1,10.0.7.5\n10.0.7.24,0.0.0.0,10.0.9.5\n",
         Doc(R"({"subnetMask": "255.255.255.0"})"),
         {{1, {2}, "spaces around the values of ipAddress were taken off"},
          {3, {4}, "spaces around the values of platformIp were taken off"},
          {2, {3, 4}, "the gateway 10.9.9.1 is outside the reader's subnet 10.0.7.0/24 (as in row 3)"},
          {2, {6}, "the platform 10.0.9.5 is outside the reader's subnet 10.0.7.0/24 and there is no gateway"},
          {1, {5}, "the reader's address 10.0.7.5 is the platform's"}}},
        // A factory gateway kept while the address moves: the row gives no gateway to blame.
        {"IPADDRESS\n10.0.7.21\n10.0.7.22\n",
         Doc(R"({"ipAddress": "192.168.1.100", "subnetMask": "255.255.255.0", "gateway": "192.168.1.1"})"),
         {{0, {2, 3}, "the address moves to 10.0.7.0/24 but the gateway stays 192.168.1.1 (as in row 2)"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const Parsed p = Parse(c.text, c.base);
        ASSERT_EQ(p.code, 0) << (p.problems.empty() ? "" : p.problems[0]);
        ASSERT_EQ(p.plan.warnings.size(), c.warnings.size());
        for (size_t i = 0; i < c.warnings.size(); ++i) {
            EXPECT_EQ(p.plan.warnings[i].column, c.warnings[i].column) << i;
            EXPECT_EQ(p.plan.warnings[i].rows, c.warnings[i].rows) << i;
            EXPECT_EQ(p.plan.warnings[i].text, c.warnings[i].text) << i;
        }
    }
    EXPECT_EQ(RowsText({2, 3, 4, 7, 9, 10}), "2-4, 7, 9-10");
}

TEST(AuditLog, LinesReadBackWithoutSecretsAndATornLastLineIsLeftOut) {
    AuditRecord a;
    a.time = "2026-12-07T01:30:49Z";
    a.port = "/dev/ttyUSB0";
    a.row = 4;
    a.deviceType = 52;
    a.firmwareVersion = "V2.1.8";
    a.before = {{"formatVersion", 1}, {"fields", {{"deviceName", "门禁\n"}, {"devicePassword", "old-secret"}}}};
    a.written = {{"ipAddress", "10.0.7.24"}, {"devicePassword", "new-secret"}};
    a.record = std::vector<uint8_t>(93, 0);
    std::memcpy(&a.record[33], "new-secret", 10);
    a.result = "ok";
    a.attempt = "20261207T013049Z-1a2b.1";
    const std::string text = FormatAuditRecord(a);
    for (const char* secret : {"old-secret", "new-secret", "6E65772D736563726574"}) EXPECT_EQ(text.find(secret), std::string::npos);

    AuditLog log;
    std::string error;
    ASSERT_TRUE(ParseAuditLog(text + "{\"time\": \"2026-", "run.log.jsonl", &log, &error)) << error;
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_TRUE(log.records[0].recordMasked);
    EXPECT_TRUE(IsSecretMarker(log.records[0].written["devicePassword"]));
    EXPECT_EQ(log.warning.rfind("run.log.jsonl:2:1: the last line is incomplete", 0), 0u) << log.warning;
    // The undo file keeps them.
    ASSERT_TRUE(ParseAuditLog(FormatAuditRecord(a, false), "undo", &log, &error)) << error;
    EXPECT_EQ(log.records[0].record, a.record);
    EXPECT_EQ(log.records[0].before, a.before);

    const struct { std::string text; const char* error; } bad[] = {
        {FormatAuditRecord(a) + "{\"time\": 1}\n", "run.log.jsonl:2:1: \"time\" missing or of the wrong kind"},
        {FormatAuditRecord(a) + "{\"time\" \n", "run.log.jsonl:2:9: not valid JSON"},
        {"{\"time\": \"t\", \"event\": \"plan\"}\n", "run.log.jsonl:1:1: \"result\" missing"},
        {"\"\xFF\"\n", "run.log.jsonl:1:2: not valid JSON"},
        {std::string(70000, ' ') + "\n", "run.log.jsonl:1:65537: a line longer than 65536 bytes"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(ParseAuditLog(c.text, "run.log.jsonl", &log, &error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    EXPECT_EQ(DefaultLogPath("/bench/fleet.CSV"), "/bench/fleet.log.jsonl");
    EXPECT_EQ(DefaultLogPath("v1.2/plan"), "v1.2/plan.log.jsonl");
    EXPECT_EQ(UndoPathForLog("v1.2/plan.log.jsonl"), "v1.2/plan.log.undo.jsonl");
}

// A log with every kind of line: the report has one line per row, its
// reader's type and firmware, how it ended and the writes it took.
TEST(Report, OneLinePerRowFromEveryKindOfLine) {
    auto line = [](const std::string& json) { return json + "\n"; };
    const std::string reader = R"("deviceType":3,"firmwareVersion":"W1.0","before":{"fields":{"wifiPassword":{"secret":true}}},"record":"01")";
    const std::string log =
        line(R"({"time":"t0","event":"plan","plan":"fleet.csv","port":"COM3","rows":5,"result":"ok"})") +
        line(R"({"time":"t1","port":"COM3","row":2,)" + reader + R"(,"written":{"ipAddress":"10.0.7.21","deviceName":"门禁, 东"},"result":"ok","attempt":"r.1"})") +
        line(R"({"time":"t2","port":"COM3","row":3,)" + reader + R"(,"written":{"ipAddress":"10.0.7.22","deviceName":"b"},"result":"pending","pending":"line lost","attempt":"r.2"})") +
        line(R"({"time":"t3","port":"COM3","row":0,"deviceType":9,"firmwareVersion":"","before":{},"written":{},"record":"","result":"unsupported reader"})") +
        line(R"({"time":"t4","port":"COM3","row":2,)" + reader + R"(,"written":{"ipAddress":"10.0.7.21","deviceName":"门禁, 东"},"record":"","result":"same reader"})") +
        line(R"({"time":"t5","port":"COM3","row":4,)" + reader + R"(,"written":{"connectMode":0,"deviceId":42,"dhcpEnabled":true},"result":"not taken","attempt":"r.3"})") +
        line(R"({"time":"t6","port":"COM3","row":4,)" + reader + R"(,"written":{"connectMode":0,"deviceId":42,"dhcpEnabled":true},"result":"ok","attempt":"r.4"})") +
        line(R"({"time":"t7","port":"COM3","row":5,)" + reader + R"(,"written":{"ipAddress":"10.0.7.24"},"result":"refused","note":"IP格式不对"})") +
        line(R"({"time":"t8","event":"release","row":3,"written":{"ipAddress":"10.0.7.22","deviceName":"b"},"result":"released"})") +
        line(R"({"time":"t9","port":"COM3","row":3,)" + reader + R"(,"written":{"ipAddress":"10.0.7.22","deviceName":"b"},"result":"pending","attempt":"r.5"})") +
        line(R"({"time":"t10","event":"summary","done":2,"result":"rows pending"})");
    AuditLog parsed;
    std::string error;
    ASSERT_TRUE(ParseAuditLog(log, "log", &parsed, &error)) << error;
    const Report report = BuildReport(parsed);
    EXPECT_EQ(report.planRows, 5);
    EXPECT_EQ(ReportText(report),
              "row  name or ID  address    device type  firmware  result   attempts  time\n"
              "2    门禁, 东    10.0.7.21  3            W1.0      done     1         t4\n"
              "3    b           10.0.7.22  3            W1.0      pending  2         t9\n"
              "4    ID 42       DHCP       3            W1.0      done     2         t6\n"
              "5                10.0.7.24                         refused  0         t7\n"
              "4 row(s) in the log: 2 done, 1 pending, 1 not done; the plan has 5 row(s), 1 never tried\n");
    EXPECT_EQ(ReportCsv(report).substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(ReportCsv(report).find("\r\n2,\"门禁, 东\",10.0.7.21,3,W1.0,done,1,t4\r\n"), std::string::npos) << ReportCsv(report);
}

// The console's line for each event a technician acts on.
TEST(ProvisionLines, SayWhatToDoWithTheProgressAndTheBox) {
    RowView row;
    row.row = 8;
    row.name = "门禁-07";
    row.address = "10.0.7.27";
    auto event = [&](ProvisionEventKind kind, int done = 7, int pending = 0) {
        ProvisionEvent e;
        e.kind = kind;
        e.port = "/dev/ttyUSB0";
        e.row = row;
        e.done = done;
        e.total = 40;
        e.pendingRows = pending;
        return e;
    };
    ProvisionEvent resolved = event(EV_DONE), again = event(EV_NOT_TAKEN),
                   gaveUp = event(EV_NOT_TAKEN), gone = event(EV_PENDING, 6, 1), present = event(EV_PENDING, 6, 1),
                   lookalike = event(EV_CANNOT_TELL), refused = event(EV_REFUSED), readerRefused = event(EV_REFUSED),
                   missing = event(EV_PORT_MISSING), full = event(EV_FILE_FAILED);
    resolved.how = DONE_RESOLVED;
    again.attempt = 1;
    gaveUp.attempt = MAX_WRITE_ATTEMPTS;
    gone.row.state = present.row.state = ROW_PENDING;
    gone.row.pending = PENDING_LINE_LOST;
    present.row.pending = PENDING_UNVERIFIED;
    present.readerPresent = true;
    present.detail = "ipAddress: wrote 10.0.7.27, the reader reports 192.168.1.100";
    lookalike.given.row = 9;
    refused.detail = "plan.csv:8: IP格式不对";
    refused.endsRun = true;
    readerRefused.row = RowView();
    readerRefused.detail = "a reader of device type 9 answered; it has no settings here";
    missing.detail = "cannot open /dev/ttyUSB0: No such file or directory";
    missing.portsPresent = {"/dev/ttyUSB1"};
    full.detail = "cannot write fleet.log.jsonl: No space left on device";
    const struct { ProvisionEvent event; bool stopping; const char* line; } cases[] = {
        {event(EV_DONE), false, "[7/40] row 8 门禁-07 10.0.7.27 written and verified - unplug it and connect the next reader"},
        {event(EV_DONE), true, "[7/40] row 8 门禁-07 10.0.7.27 written and verified - unplug it"},
        {resolved, false, "[7/40] row 8 门禁-07 10.0.7.27 verified: its reader came back holding the row (it was pending)"},
        {again, false, "row 8 门禁-07 10.0.7.27: not taken (no acknowledgement, and the reader still reports its former "
                       "settings) - writing it again (attempt 2 of 3)"},
        {gaveUp, false, "[7/40] row 8 门禁-07 10.0.7.27: the reader did not take the write 3 times; nothing changed - unplug it"},
        {gone, false, "[6/40] row 8 门禁-07 10.0.7.27 pending: the line was lost right after the write - reconnect the reader "
                      "just written so it can be checked, or connect the next reader"},
        {present, false, "[6/40] row 8 门禁-07 10.0.7.27 pending: acknowledged, but the reader reports other settings "
                         "(ipAddress: wrote 10.0.7.27, the reader reports 192.168.1.100) - if you swapped readers, "
                         "reconnect the one just written (row 8 门禁-07 10.0.7.27); otherwise this reader may be faulty: unplug it"},
        {event(EV_SAME_READER), false, "[7/40] row 8 门禁-07 10.0.7.27: the same reader again (it holds this row); nothing "
                                       "written - unplug it and connect the next reader"},
        {lookalike, false, "row 8 门禁-07 10.0.7.27 stays pending: this reader has the settings its reader had before and "
                           "cannot be told from it; it gets row 9 instead (if it is that reader, release row 8 with --release 8"},
        {refused, false, "row 8 门禁-07 10.0.7.27: plan.csv:8: IP格式不对; nothing written - mend the plan and run the same command again"},
        {readerRefused, false, "a reader of device type 9 answered; it has no settings here; nothing written - unplug it and "
                               "connect the next reader"},
        {missing, false, "cannot open /dev/ttyUSB0: No such file or directory; ports present: /dev/ttyUSB1 - waiting for /dev/ttyUSB0"},
        {full, false, "tavrolin-cli: cannot write fleet.log.jsonl: No space left on device; stopped - row 8 门禁-07 10.0.7.27 may "
                      "be on the reader connected now: keep it connected, free the disk and run the same command again"},
        {event(EV_READER_GONE), false, ""},
    };
    for (const auto& c : cases) {
        const std::string line = ProvisionLine(c.event, true, c.stopping);
        EXPECT_EQ(line.substr(0, std::strlen(c.line)), c.line) << line;
        EXPECT_EQ(line.empty(), *c.line == '\0') << line;
    }
}

}  // namespace
