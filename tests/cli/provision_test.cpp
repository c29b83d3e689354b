// tavrolin-cli provision against simulated readers coming one after
// another to one pseudo-terminal: readers that come back, drop out while
// being written, a port that vanishes between two readers, the program
// killed at random moments; port mode and undo from the log.
#include <signal.h>

#include <chrono>
#include <random>
#include <set>

#include "cli/audit_log.h"
#include "sim/sim_fleet.h"
#include "tests/cli/cli_fixture.h"

namespace {

constexpr int POLL_MS = 100;

class Provision : public CliOnSim {
protected:
    void TearDown() override {
        if (fleet != nullptr) SimFleetStop(fleet);
        CliOnSim::TearDown();
    }

    // A plan of rows for readers of type 52: row r gets 10.0.7.r and "门禁-r".
    std::string WritePlan(int rows) {
        std::string text = "ipAddress,deviceName,platformPort\r\n";
        for (int r = 2; r < rows + 2; ++r) text += "10.0.7." + std::to_string(r) + ",门禁-" + std::to_string(r) + ",9000\r\n";
        std::ofstream(dir + "/plan.csv", std::ios::binary) << text;
        return dir + "/plan.csv";
    }

    void StartFleet(std::vector<SimFleetReader> readers) {
        SimRunnerOptions options;
        options.port = dir + "/bench";
        options.createPty = true;
        std::string error;
        fleet = SimFleetStart(options, readers, &error);
        ASSERT_NE(fleet, nullptr) << error;
    }

    static SimFleetReader Reader(bool hangUp) {
        SimFleetReader r;
        SimInit(&r.reader, DEVICE_TYPE_BASIC);
        r.hangUp = hangUp;
        r.gapMs = hangUp ? 200 : 4 * POLL_MS;  // silence: longer than two unanswered queries
        return r;
    }

    // Starts the program on the plan; standard output and error to files.
    pid_t Start(const std::string& plan) {
        const pid_t pid = fork();
        if (pid == 0) {
            freopen((dir + "/run.out").c_str(), "a", stdout);
            freopen((dir + "/run.err").c_str(), "a", stderr);
            const std::string poll = std::to_string(POLL_MS), port = dir + "/bench";
            execl(TAV_CLI_EXE, TAV_CLI_EXE, "provision", plan.c_str(), "--port", port.c_str(), "--poll-ms", poll.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    // The exit code, or -1 when the program had not ended within timeoutMs (it is killed).
    static int Finish(pid_t pid, int timeoutMs) {
        int status = 0;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            usleep(20000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }

    // Every reader ends with exactly its row, each row is done once in
    // the log, and the readers took writeCount records in all.
    void ExpectRowsOnReaders(const std::vector<int>& rowOf, size_t writeCount) {
        const std::vector<SimReader> readers = SimFleetReaders(fleet);
        size_t writes = 0;
        for (size_t i = 0; i < readers.size(); ++i) {
            for (const SimReceivedFrame& f : readers[i].received) writes += f.command == CMD_WRITE_CONFIG;
            const std::string row = std::to_string(rowOf[i]);
            EXPECT_EQ(SimGetField(&readers[i], "ipAddress"), "10.0.7." + row) << "reader " << i;
            EXPECT_EQ(SimGetField(&readers[i], "deviceName"), "\\xC3\\xC5\\xBD\\xFB-" + row) << "reader " << i;  // GBK
        }
        EXPECT_EQ(writes, writeCount);
        AuditLog log;
        std::string error;
        ASSERT_TRUE(ParseAuditLog(ReadAll(dir + "/plan.log.jsonl"), "log", &log, &error)) << error;
        EXPECT_TRUE(log.warning.empty()) << log.warning;
        std::multiset<int> done;
        for (const AuditRecord& r : log.records)
            if (r.result == "ok") done.insert(r.row);
        std::multiset<int> expected(rowOf.begin(), rowOf.end());
        EXPECT_EQ(std::set<int>(done.begin(), done.end()), std::set<int>(expected.begin(), expected.end()));
        EXPECT_EQ(done.size(), std::set<int>(done.begin(), done.end()).size()) << "a row done twice";
    }

    SimFleet* fleet = nullptr;
};

TEST_F(Provision, TwelveReadersComeAndGoOnOneCable) {
    std::vector<SimFleetReader> readers;
    std::vector<int> rowOf;
    for (int i = 0; i < 13; ++i) readers.push_back(Reader(i % 2 == 0));
    readers[5].sameAs = 2;  // reader 2 connected again: nothing written
    readers[5].writesToLeave = 0;
    readers[6].reader.fault = SimFaultPlan{SIM_FAULT_HANG_UP, 300, 0, 1, true};  // drops out while written
    for (int i = 0, row = 2; i < 13; ++i) rowOf.push_back(i == 5 ? 4 : row++);
    StartFleet(readers);
    const std::string plan = WritePlan(12);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Finish(Start(plan), 40000), EXIT_OK) << ReadAll(dir + "/run.err");
    const std::string out = ReadAll(dir + "/run.out");
    for (const char* said : {"row 2: 10.0.7.2 written and verified - connect the next reader", "row 4: the same reader again",
                             "row 7: 10.0.7.7 not done: the serial line was lost",
                             "row 7: 10.0.7.7 held already, nothing sent", "all 12 rows done"})
        EXPECT_TRUE(Says(out, said)) << said << " in:\n" << out;
    ExpectRowsOnReaders(rowOf, 12);
    std::printf("12 rows on one cable: %lld ms\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       std::chrono::steady_clock::now() - start).count()));
}

TEST_F(Provision, KilledAtRandomMomentsARerunFinishesThePlan) {
    std::vector<SimFleetReader> readers;
    std::vector<int> rowOf;
    for (int i = 0; i < 6; ++i) readers.push_back(Reader(i % 2 == 1)), rowOf.push_back(i + 2);
    StartFleet(readers);
    const std::string plan = WritePlan(6);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Ctrl-C: the run ends after the reader it works on, saying how to go on.
    pid_t pid = Start(plan);
    usleep(300000);
    ::kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid, 5000), EXIT_INTERRUPTED);
    EXPECT_TRUE(Says(ReadAll(dir + "/run.err"), "Run the same command again")) << ReadAll(dir + "/run.err");
    for (int kill = 0; kill < 4; ++kill) {
        pid = Start(plan);
        usleep(std::uniform_int_distribution<int>(50, 900)(random) * 1000);
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(Finish(Start(plan), 30000), EXIT_OK) << ReadAll(dir + "/run.err");
    ExpectRowsOnReaders(rowOf, 6);
}

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

TEST_F(Provision, PortModeThenUndoFromTheLog) {
    const std::string a = StartReader(DEVICE_TYPE_BASIC), b = StartReader(DEVICE_TYPE_BASIC);
    std::ofstream(dir + "/ports.csv") << "port,ipAddress,deviceName\n" << a << ",10.0.0.9,first\n" << b << ",10.0.0.10,second\n";
    const std::string log = " --log " + dir + "/ports.jsonl";
    CliRun run = Cli("provision " + dir + "/ports.csv" + log);
    ASSERT_EQ(run.exitCode, EXIT_OK) << run.err;
    EXPECT_TRUE(Says(run.out, "row 3: 10.0.0.10 written and verified")) << run.out;
    // Killed while writing a line: the torn line is cut off, the done rows stay done.
    const std::string complete = ReadAll(dir + "/ports.jsonl");
    std::ofstream(dir + "/ports.jsonl", std::ios::app) << "{\"time\": \"2026-";
    run = Cli("provision " + dir + "/ports.csv" + log);
    EXPECT_EQ(run.exitCode, EXIT_OK);
    EXPECT_TRUE(Says(run.err, "ports.jsonl:3:1: the last line is incomplete")) << run.err;
    EXPECT_EQ(ReadAll(dir + "/ports.jsonl"), complete);
    EXPECT_EQ(Writes(0).size() + Writes(1).size(), 2u);
    run = Cli("scan --ports " + a + "," + dir + "/nothing," + b);
    EXPECT_EQ(run.exitCode, EXIT_OK);
    EXPECT_TRUE(Says(run.out, b + " ") && Says(run.out, "ip 10.0.0.10") && Says(run.out, "name second")) << run.out;
    EXPECT_TRUE(Says(run.err, "3 port(s) asked, 2 reader(s) answered")) << run.err;

    // The plan changed under a done row: refused before any port is opened.
    std::ofstream(dir + "/ports.csv") << "port,ipAddress,deviceName\n" << a << ",10.0.0.99,first\n";
    run = Cli("provision " + dir + "/ports.csv" + log);
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "ports.csv:2: the log")) << run.err;

    // Undo row 2 on b (another reader): refused; on a: its settings back.
    run = Cli("apply --port " + b + " --from-log " + dir + "/ports.jsonl --row 2");
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_TRUE(Says(run.err, "does not hold what row 2 wrote")) << run.err;
    run = Cli("apply --port " + a + " --from-log " + dir + "/ports.jsonl --row 2");
    ASSERT_EQ(run.exitCode, EXIT_OK) << run.err;
    const PortResult after = Run(CMD_IDENTIFY, a);
    EXPECT_EQ(after.json["fields"]["ipAddress"], "192.168.1.100");
    EXPECT_EQ(after.json["fields"]["deviceName"], "reader01");
    EXPECT_EQ(Writes(0).size() + Writes(1).size(), 3u);
}

}  // namespace
