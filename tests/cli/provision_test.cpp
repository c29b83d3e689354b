// tavrolin-cli provision against simulated readers on pseudo-terminals:
// the checks before any port is opened, one run per port, a port that is
// not there, port mode with secrets kept out of the log, and undo from the
// log. Readers coming and going on one cable, with faults, kills and a full
// disk, and the log's secrets and rights, are the randomized bench of
// provision_property_test.cpp.
#include "cli/audit_log.h"
#include "tests/cli/cli_fixture.h"

namespace {

class Provision : public CliOnSim {};

TEST_F(Provision, TheBaseChecksEveryRowBeforeAnyPortAndDryRunShowsTheRecords) {
    const std::string port = StartReader(DEVICE_TYPE_DUAL_ANTENNA), base = dir + "/base.json";
    ASSERT_EQ(Cli("export --port " + port + " -o " + base).exitCode, EXIT_OK);
    const std::string args = " --port " + port + " --base " + base;
    std::ofstream(dir + "/plan.csv") << "ipAddress,deviceId\n10.0.0.1,\n10.0.0.2,5\n";
    CliRun run = Cli("provision " + dir + "/plan.csv" + args);
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "plan.csv:3: deviceId is written only in connection mode 0")) << run.err;
    std::ofstream(dir + "/plan.csv") << "ipAddress,wifiSsid\n10.0.0.1,x\n";
    run = Cli("provision " + dir + "/plan.csv" + args);
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_TRUE(Says(run.err, "plan.csv:1:2: " + base + " is for a dual-antenna reader (type 1), which has no field wifiSsid")) << run.err;
    std::ofstream(dir + "/plan.csv") << "ipAddress\n10.0.0.1\n10.0.0.2\n";
    run = Cli("provision " + dir + "/plan.csv --dry-run --base " + base);
    EXPECT_EQ(run.exitCode, EXIT_OK) << run.err;
    EXPECT_TRUE(Says(run.out, "row 3: record (93 bytes):")) << run.out;
    EXPECT_TRUE(Says(run.out, "ipAddress=10.0.0.2")) << run.out;
    EXPECT_EQ(SimRunnerFrames(runners[0]).size(), 1u);  // the export's query alone
}

TEST_F(Provision, OneRunPerPortAndAPortThatIsNotThereIsSaidOnce) {
    const std::string port = StartReader(DEVICE_TYPE_BASIC, "silent");
    std::ofstream(dir + "/plan.csv") << "ipAddress\n10.0.0.1\n";
    std::ofstream(dir + "/copy.csv") << "ipAddress\n10.0.0.1\n";
    const pid_t first = Start("first", "provision " + dir + "/plan.csv --port " + port);
    ASSERT_TRUE(WaitFor("first.out", "waiting for a reader")) << ReadAll(dir + "/first.err");
    // A copy of the plan has a log of its own, but not the port.
    CliRun run = Cli("provision " + dir + "/copy.csv --port " + port);
    EXPECT_EQ(run.exitCode, EXIT_PORT);
    EXPECT_TRUE(Says(run.err, port + ": another provisioning run is working on this port")) << run.err;
    kill(first, SIGINT);
    EXPECT_EQ(Finish(first), EXIT_INTERRUPTED);
    EXPECT_TRUE(Says(ReadAll(dir + "/first.out"), "stopping after this reader")) << ReadAll(dir + "/first.out");

    const pid_t missing = Start("missing", "provision " + dir + "/copy.csv --poll-ms 50 --port " + dir + "/nothing");
    ASSERT_TRUE(WaitFor("missing.out", "ports present:"));
    usleep(500000);
    kill(missing, SIGINT);
    EXPECT_EQ(Finish(missing), EXIT_INTERRUPTED);
    const std::string out = ReadAll(dir + "/missing.out");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4) << out;  // waiting, the port, stopping, the summary
    EXPECT_TRUE(Says(out, "cannot open " + dir + "/nothing: No such file or directory; ports present: ")) << out;
}

// A write whose outcome no log line holds (the run was killed between the
// write and its line) is pending: not given to another reader until released.
TEST_F(Provision, AnUnrecordedWriteIsPendingUntilReleased) {
    const std::string a = StartReader(DEVICE_TYPE_BASIC), b = StartReader(DEVICE_TYPE_BASIC);
    std::ofstream(dir + "/plan.csv") << "ipAddress,deviceName\n10.0.0.1,a\n10.0.0.2,b\n";
    AuditRecord intent;
    intent.time = "2026-12-07T01:30:49Z";
    intent.port = a;
    intent.row = 2;
    intent.deviceType = DEVICE_TYPE_BASIC;
    intent.before = nlohmann::ordered_json::object();
    intent.written = {{"ipAddress", "10.0.0.1"}, {"deviceName", "a"}};
    intent.record = Bytes(93, 1);
    intent.result = RESULT_WRITING;
    intent.attempt = "r.1";
    std::ofstream(dir + "/plan.log.undo.jsonl") << FormatAuditRecord(intent, false);
    CliRun run = Cli("provision " + dir + "/plan.csv --dry-run");
    EXPECT_TRUE(Says(run.out, "2 rows checked: 1 to do, 0 done, 1 pending")) << run.out << run.err;

    const pid_t first = Start("first", "provision " + dir + "/plan.csv --port " + a);
    ASSERT_TRUE(WaitFor("first.out", "[1/2] row 3 b 10.0.0.2 written and verified - unplug it\n")) << ReadAll(dir + "/first.out");
    kill(first, SIGINT);
    EXPECT_EQ(Finish(first), EXIT_PENDING);
    EXPECT_TRUE(Says(ReadAll(dir + "/first.out"), "pending: row 2 a 10.0.0.1 (the run that wrote it ended before it could "
                                                  "record the outcome) - reconnect its reader")) << ReadAll(dir + "/first.out");
    run = Cli("provision " + dir + "/plan.csv --release 2 --port " + b);
    EXPECT_EQ(run.exitCode, EXIT_OK) << run.out << run.err;
    EXPECT_TRUE(Says(run.out, "[2/2] row 2 a 10.0.0.1 written and verified - unplug it\n")) << run.out;
    EXPECT_TRUE(Says(ReadAll(dir + "/plan.log.jsonl"), R"("event":"release","row":2)"));
    run = Cli("provision " + dir + "/plan.csv --release 2 --port " + b);
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "plan.csv:2: --release 2: the row is not pending (done)")) << run.err;
}

TEST_F(Provision, PortModeResumesFromItsLogAndUndoRestoresTheReader) {
    const std::string a = StartReader(DEVICE_TYPE_BASIC), b = StartReader(DEVICE_TYPE_BASIC);
    std::ofstream(dir + "/ports.csv") << "port,ipAddress,deviceName,devicePassword\n"
                                      << a << ",10.0.0.9,first,new-pass\n" << b << ",10.0.0.10,second,new-pass\n";
    const std::string log = " --log " + dir + "/ports.jsonl";
    CliRun run = Cli("provision " + dir + "/ports.csv" + log);
    ASSERT_EQ(run.exitCode, EXIT_OK) << run.err;
    EXPECT_TRUE(Says(run.out, "row 3 second 10.0.0.10 (" + b + ") written and verified\n")) << run.out;
    // Killed while writing a line: the torn line is cut off, the done rows stay done.
    std::ofstream(dir + "/ports.jsonl", std::ios::app) << "{\"time\": \"2026-";
    run = Cli("provision " + dir + "/ports.csv" + log);
    EXPECT_EQ(run.exitCode, EXIT_OK);
    EXPECT_TRUE(Says(run.err, "ports.jsonl:5:1: the last line is incomplete")) << run.err;
    EXPECT_EQ(Writes(0).size() + Writes(1).size(), 2u);
    run = Cli("report " + dir + "/ports.jsonl --csv " + dir + "/report.csv");
    EXPECT_EQ(run.exitCode, EXIT_OK);
    EXPECT_TRUE(Says(run.out, "2 row(s) in the log: 2 done")) << run.out;
    EXPECT_FALSE(Says(ReadAll(dir + "/report.csv"), "pass")) << ReadAll(dir + "/report.csv");
    run = Cli("scan --ports " + a + "," + dir + "/nothing," + b);
    EXPECT_EQ(run.exitCode, EXIT_OK);
    EXPECT_TRUE(Says(run.out, b + " ") && Says(run.out, "ip 10.0.0.10") && Says(run.out, "name second")) << run.out;
    EXPECT_TRUE(Says(run.err, "3 port(s) asked, 2 reader(s) answered")) << run.err;

    // Rows moved keep their state; a done row's values changed are refused with a hint.
    std::ofstream(dir + "/ports.csv") << "port,ipAddress,deviceName,devicePassword\n" << b
                                      << ",10.0.0.10,second,new-pass\n" << a << ",10.0.0.9,first,new-pass\n";
    EXPECT_EQ(Cli("provision " + dir + "/ports.csv" + log).exitCode, EXIT_OK);
    std::ofstream(dir + "/ports.csv") << "port,ipAddress,deviceName\n" << a << ",10.0.0.99,first\n";
    run = Cli("provision " + dir + "/ports.csv" + log);
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "ports.csv:2: the log " + dir + "/ports.jsonl has first 10.0.0.9 (row 2 then) done")) << run.err;
    EXPECT_TRUE(Says(run.err, "or start a new log (--log)")) << run.err;
    EXPECT_EQ(Writes(0).size() + Writes(1).size(), 2u);

    // Undo row 2 on b (another reader): refused; on a: its settings back, the password too.
    run = Cli("apply --port " + b + " --from-log " + dir + "/ports.jsonl --row 2");
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "does not hold what row 2 wrote")) << run.err;
    run = Cli("apply --port " + a + " --from-log " + dir + "/ports.jsonl --row 2");
    ASSERT_EQ(run.exitCode, EXIT_OK) << run.err;
    const PortResult after = Run(CMD_IDENTIFY, a);
    EXPECT_EQ(after.json["fields"]["devicePassword"], "pass1234");
    EXPECT_EQ(after.json["fields"]["ipAddress"], "192.168.1.100");
    EXPECT_EQ(Writes(0).size() + Writes(1).size(), 3u);
}

}  // namespace
