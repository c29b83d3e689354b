// tavrolin-cli against the simulated reader on a pseudo-terminal: round
// trips per device type with the record checked byte by byte where the
// reader receives it, the reader's fault modes, and the program's exit
// codes and messages for bad input, missing and busy ports.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/fields.h"
#include "cli/session.h"
#include "protocol/frame.h"
#include "serial/line.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

struct CliRun {
    int exitCode = -1;
    std::string out, err;
};

class CliOnSim : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavcli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }

    void TearDown() override {
        for (SimRunner* r : runners) SimRunnerStop(r);
        std::string rm = "rm -rf '" + dir + "'";
        (void)std::system(rm.c_str());
    }

    // A reader of type with a fault, published as a pty link; returns the
    // link the tool opens.
    std::string StartReader(int type, const std::string& fault = "none",
                            const std::function<void(SimReader*)>& tweak = {}) {
        SimReader reader;
        SimInit(&reader, type);
        std::string error;
        EXPECT_TRUE(SimParseFault(fault, &reader.fault, &error)) << error;
        if (tweak) tweak(&reader);
        SimRunnerOptions options;
        options.port = dir + "/reader" + std::to_string(runners.size());
        options.createPty = true;
        SimRunner* runner = SimRunnerStart(options, reader, &error);
        EXPECT_NE(runner, nullptr) << error;
        runners.push_back(runner);
        return options.port;
    }

    SimRunner* Runner(size_t i = 0) { return runners.at(i); }

    void SetField(SimRunner* runner, const std::string& name, const std::string& value) {
        std::string error;
        bool ok = false;
        SimRunnerUpdate(runner, [&](SimReader* r) { ok = SimSetField(r, name, value, &error); });
        ASSERT_TRUE(ok) << name << ": " << error;
    }

    static PortResult Run(CliCommand command, const std::string& port, const Overlay& overlay = Overlay(),
                          const std::string& output = "") {
        CliOptions options;
        options.command = command;
        options.ports = {port};
        options.overlay = overlay;
        options.inputName = "doc.json";
        options.output = output;
        return RunOnPort(options, port);
    }

    static Overlay Settings(const std::vector<std::string>& sets, Overlay overlay = Overlay()) {
        for (const std::string& s : sets) {
            InputError error;
            EXPECT_TRUE(ParseSetting(s, &overlay, &error)) << s << ": " << error.message;
        }
        return overlay;
    }

    // The payloads of the configuration writes the reader received.
    std::vector<std::vector<uint8_t>> Writes(SimRunner* runner) {
        std::vector<std::vector<uint8_t>> writes;
        for (const SimReceivedFrame& f : SimRunnerFrames(runner))
            if (f.command == CMD_WRITE_CONFIG && f.crcOk)
                writes.emplace_back(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
        return writes;
    }

    // Runs the program itself with a shell command line's arguments.
    CliRun Cli(const std::string& args, const std::string& input = "") {
        const std::string out = dir + "/stdout", err = dir + "/stderr";
        std::string command = std::string(TAV_CLI_EXE) + " " + args + " >" + out + " 2>" + err;
        if (!input.empty()) {
            std::ofstream(dir + "/stdin") << input;
            command += " <" + dir + "/stdin";
        }
        CliRun run;
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadAll(out);
        run.err = ReadAll(err);
        return run;
    }

    std::string dir;
    std::vector<SimRunner*> runners;
};

// Expected records, written out by offset so that they do not lean on
// the code under test.
struct Record {
    std::vector<uint8_t> bytes;
    explicit Record(size_t size) : bytes(size, 0) {}
    Record& At(size_t offset, std::initializer_list<uint8_t> values) {
        std::copy(values.begin(), values.end(), bytes.begin() + offset);
        return *this;
    }
    Record& Text(size_t offset, const std::string& text) {
        std::copy(text.begin(), text.end(), bytes.begin() + offset);
        return *this;
    }
};

// A reader that answers queries but never acknowledges a write.
struct DeafReader {
    SerialLine* line = nullptr;
    std::thread thread;
    std::atomic<bool> stop{false};
    SimReader sim;
};

void StartDeafReader(DeafReader* deaf, int type, const std::string& link) {
    SimInit(&deaf->sim, type);
    std::string error;
    deaf->line = LineOpenPty(link, &error);
    ASSERT_NE(deaf->line, nullptr) << error;
    deaf->thread = std::thread([deaf] {
        uint8_t buffer[512];
        int64_t now = 0;
        while (!deaf->stop) {
            const int n = LineRead(deaf->line, buffer, sizeof buffer, 50);
            now += 50;
            if (n <= 0) continue;
            const size_t before = deaf->sim.received.size();
            const std::vector<SimAction> actions = SimFeed(&deaf->sim, buffer, static_cast<size_t>(n), now);
            if (deaf->sim.received.size() > before && deaf->sim.received.back().command == CMD_WRITE_CONFIG)
                continue;
            for (const SimAction& a : actions)
                if (a.kind == SIM_ACTION_WRITE) LineWrite(deaf->line, a.bytes.data(), a.bytes.size());
        }
    });
}

void StopDeafReader(DeafReader* deaf) {
    deaf->stop = true;
    if (deaf->thread.joinable()) deaf->thread.join();
    LineClose(deaf->line);
}

}  // namespace

TEST_F(CliOnSim, RoundTripsWriteTheExactRecordForEveryType) {
    struct Case {
        int type;
        std::vector<std::string> sets;
        std::vector<uint8_t> expected;
    } cases[] = {
        {52,
         {"ipAddress=10.0.0.5", "subnetMask=255.255.255.0", "gateway=10.0.0.1", "platformIp=192.168.1.10",
          "platformPort=502", "deviceName=admin", "devicePassword=pw"},
         Record(93).At(0, {1}).Text(1, "admin").Text(33, "pw").At(65, {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6, 0})
             .At(72, {10, 0, 0, 5, 255, 255, 255, 0, 10, 0, 0, 1}).bytes},
        {1,
         {"connectMode=0", "deviceId=-1", "rs485Baud=9600", "antenna0Baud=19200", "antenna1Baud=57600",
          "dualAntennaMode=true", "ipAddress=172.16.0.9", "subnetMask=255.255.0.0", "gateway=172.16.0.1"},
         Record(93).Text(1, "admin").Text(33, "602417").At(72, {172, 16, 0, 9, 255, 255, 0, 0, 172, 16, 0, 1})
             .At(84, {0, 1, 3, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}).bytes},
        {2,
         {"connectMode=1", "deviceName=门禁A", "devicePassword=secret", "platformIp=10.1.2.3",
          "platformPort=65535", "antenna1Baud=38400", "ipAddress=10.1.2.50", "subnetMask=255.255.255.0",
          "gateway=10.1.2.1"},
         Record(93).At(0, {1}).Text(1, "\xC3\xC5\xBD\xFB" "A").Text(33, "secret")
             .At(65, {10, 1, 2, 3, 0xFF, 0xFF, 0}).At(72, {10, 1, 2, 50, 255, 255, 255, 0, 10, 1, 2, 1})
             .At(84, {0, 0, 2, 0, 0}).bytes},
        {3,
         {"connectMode=0", "deviceId=42", "dhcpEnabled=true", "antenna0Baud=115200", "antenna1Baud=9600",
          "dualAntennaMode=false", "wifiSsid=办公室WiFi", "wifiPassword=secret123"},
         Record(157).Text(1, "admin").Text(33, "602417").At(71, {1}).At(84, {0, 4, 0, 0, 0})
             .Text(89, "\xB0\xEC\xB9\xAB\xCA\xD2WiFi").Text(121, "secret123").At(153, {0, 0, 0, 42}).bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        const std::string port = StartReader(c.type);
        SimRunner* runner = runners.back();

        // export, then apply the file with the changes on top
        const std::string file = dir + "/type" + std::to_string(c.type) + ".json";
        PortResult exported = Run(CMD_EXPORT, port, Overlay(), file);
        ASSERT_EQ(exported.exitCode, EXIT_OK) << exported.message;
        Overlay overlay;
        InputError error;
        ASSERT_TRUE(ParseDocument(ReadAll(file), file, &overlay, &error)) << error.message;
        PortResult applied = Run(CMD_APPLY, port, Settings(c.sets, overlay));
        ASSERT_EQ(applied.exitCode, EXIT_OK) << applied.message;

        const auto writes = Writes(runner);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], c.expected);

        // The reader now reports it, and a second export reflects it.
        PortResult again = Run(CMD_IDENTIFY, port);
        ASSERT_EQ(again.exitCode, EXIT_OK) << again.message;
        EXPECT_EQ(again.json["fields"], applied.json["fields"]);
        EXPECT_NE(again.json["fields"], exported.json["fields"]);
    }
}

TEST_F(CliOnSim, EveryFaultModeEndsWithItsExitCode) {
    struct Case {
        std::string fault;
        std::function<void(SimReader*)> tweak;
        int exitCode;
        const char* says;
    } cases[] = {
        {"none", {}, EXIT_OK, ""},
        {"silent", {}, EXIT_TIMEOUT, "no information reply within 3 s"},
        {"bad-crc", {}, EXIT_TIMEOUT, "bad CRC"},
        {"crc-low-first", {}, EXIT_TIMEOUT, "bad CRC"},
        {"garbage:7,100", {}, EXIT_OK, ""},
        {"split:5,40", {}, EXIT_OK, ""},
        {"double", {}, EXIT_OK, ""},
        {"late:2000", {}, EXIT_OK, ""},
        {"late:3600", {}, EXIT_TIMEOUT, "no information reply"},
        {"never-complete:700", {}, EXIT_OK, ""},
        {"never-complete:-1", {}, EXIT_TIMEOUT, "stray byte"},
        {"oversize:1000", {}, EXIT_OK, ""},
        {"unknown-type:7", {}, EXIT_UNSUPPORTED, "device type 7"},
        {"hangup:1000", {}, EXIT_LINE_LOST, "line was lost"},
        {"none", [](SimReader* r) { r->protocolVersion = 0; }, EXIT_UNSUPPORTED, "网络读卡器版本低"},
    };
    // All at once, each on its own reader: the time-outs overlap.
    std::vector<std::string> ports;
    for (const Case& c : cases) ports.push_back(StartReader(DEVICE_TYPE_DUAL_ANTENNA, c.fault, c.tweak));
    std::vector<PortResult> results(ports.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Run(CMD_IDENTIFY, ports[i]); });
    for (std::thread& t : threads) t.join();

    for (size_t i = 0; i < ports.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(results[i].exitCode, c.exitCode) << c.fault << ": " << results[i].message;
        EXPECT_NE(results[i].message.find(c.says), std::string::npos) << c.fault << ": " << results[i].message;
        if (c.exitCode == EXIT_OK) {
            EXPECT_EQ(results[i].json["deviceType"], 1) << c.fault;
        }
    }
}

TEST_F(CliOnSim, ApplyRefusesWithoutWritingAnything) {
    const std::string port = StartReader(DEVICE_TYPE_DUAL_ANTENNA);
    struct Case {
        Overlay overlay;
        int exitCode;
        const char* says;
    } cases[] = {
        // the page's own chain, first failure wins
        {Settings({"connectMode=1", "platformIp=", "deviceName="}), EXIT_REFUSED, "平台IP格式不对"},
        {Settings({"connectMode=0", "subnetMask=", "gateway="}), EXIT_REFUSED, "IP格式不对"},
        {Settings({"connectMode=1", "devicePassword="}), EXIT_REFUSED, "设备密码不能为空"},
        // what the tool adds
        {Settings({"connectMode=0", "platformPort=1"}), EXIT_REFUSED, "connectMode=1"},
        {Settings({"wifiSsid=x"}), EXIT_USAGE, "has no field wifiSsid"},
    };
    Overlay otherType;
    otherType.deviceType = DEVICE_TYPE_SINGLE_ANTENNA;
    for (Case& c : cases) {
        PortResult r = Run(CMD_APPLY, port, c.overlay);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.message;
        EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("nothing written"), std::string::npos) << r.message;
    }
    PortResult r = Run(CMD_APPLY, port, otherType);
    EXPECT_EQ(r.exitCode, EXIT_REFUSED);
    EXPECT_NE(r.message.find("single-antenna reader (type 2) but the reader is a dual-antenna"), std::string::npos)
        << r.message;

    SetField(Runner(), "rs485Baud", "9");
    r = Run(CMD_APPLY, port, Settings({"deviceName=x"}));
    EXPECT_EQ(r.exitCode, EXIT_REFUSED);
    EXPECT_NE(r.message.find("rs485Baud: the reader reports no valid baud rate"), std::string::npos) << r.message;

    EXPECT_TRUE(Writes(Runner()).empty());
}

TEST_F(CliOnSim, ApplyReportsAMissingAcknowledgementAndAMismatch) {
    // A reader that drops writes on the floor: no acknowledgement.
    DeafReader deaf;
    const std::string silentOnWrite = dir + "/deaf";
    StartDeafReader(&deaf, DEVICE_TYPE_BASIC, silentOnWrite);
    // A WiFi reader whose record stops early: the pass phrase comes back cut.
    const std::string shortRecord = StartReader(DEVICE_TYPE_WIFI, "none", [](SimReader* r) { r->infoLength = 140; });
    // Every reply twice: the stale second copies must not be taken for answers.
    const std::string doubled = StartReader(DEVICE_TYPE_SINGLE_ANTENNA, "double");

    PortResult r = Run(CMD_APPLY, silentOnWrite, Settings({"deviceName=x"}));
    StopDeafReader(&deaf);
    EXPECT_EQ(r.exitCode, EXIT_TIMEOUT) << r.message;
    EXPECT_NE(r.message.find("no acknowledgement within 3 s"), std::string::npos) << r.message;

    r = Run(CMD_APPLY, shortRecord, Settings({"wifiPassword=long pass phrase"}));
    EXPECT_EQ(r.exitCode, EXIT_MISMATCH) << r.message;
    EXPECT_NE(r.message.find("wifiPassword: wrote \"long pass phrase\", the reader reports \"lo\""),
              std::string::npos)
        << r.message;

    r = Run(CMD_APPLY, doubled, Settings({"connectMode=0", "deviceId=7"}));
    EXPECT_EQ(r.exitCode, EXIT_OK) << r.message;
    EXPECT_EQ(r.json["fields"]["deviceId"], 7);
}

TEST_F(CliOnSim, ProgramExitCodesAndOneLineMessages) {
    const std::string port = StartReader(DEVICE_TYPE_BASIC);
    const std::string doc = dir + "/doc.json";

    EXPECT_EQ(Cli("--help").exitCode, 0);
    CliRun run = Cli("identify");
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_NE(run.err.find("--port"), std::string::npos) << run.err;
    EXPECT_EQ(Cli("identify --port " + port + " --ports a,b").exitCode, EXIT_USAGE);
    EXPECT_EQ(Cli("identify --ports " + port + "," + port).exitCode, EXIT_USAGE);
    EXPECT_EQ(Cli("export --ports a,b -o same.json").exitCode, EXIT_USAGE);

    run = Cli("identify --port " + dir + "/nothing-here");
    EXPECT_EQ(run.exitCode, EXIT_PORT);
    EXPECT_NE(run.err.find("No such file"), std::string::npos) << run.err;

    // A port another run holds is busy.
    ReaderSession holder;
    std::string error;
    ASSERT_TRUE(SessionOpen(&holder, port, false, &error)) << error;
    run = Cli("identify --port " + port);
    EXPECT_EQ(run.exitCode, EXIT_PORT);
    EXPECT_NE(run.err.find("busy"), std::string::npos) << run.err;
    SessionClose(&holder);

    // Bad documents: one line each, and the reader is never asked.
    const char* bad[] = {"{\"formatVersion\": 1, \"deviceType\": 52, \"fields\": {",
                         "{\"formatVersion\": 1, \"deviceType\": 52, \"fields\": {\"colour\": 1}}",
                         "{\"formatVersion\": 1, \"deviceType\": 52, \"fields\": {\"platformPort\": \"x\"}}"};
    for (const char* text : bad) {
        run = Cli("apply --port " + port + " -", text);
        EXPECT_EQ(run.exitCode, EXIT_USAGE) << text;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(Cli("apply --port " + port + " " + dir + "/missing.json").exitCode, EXIT_USAGE);
    EXPECT_TRUE(SimRunnerFrames(Runner()).empty());

    // export to a file, apply it with a change, JSON out
    ASSERT_EQ(Cli("export --port " + port + " -o " + doc).exitCode, 0);
    run = Cli("--json apply --port " + port + " " + doc + " --set platformPort=8080");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto result = nlohmann::json::parse(run.out);
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["fields"]["platformPort"], 8080);

    run = Cli("apply --port " + port + " " + doc + " --set ipAddress=");
    EXPECT_EQ(run.exitCode, EXIT_REFUSED);
    EXPECT_NE(run.err.find("IP格式不对"), std::string::npos) << run.err;
}

TEST_F(CliOnSim, SeveralPortsAtOnceEndWithASummary) {
    const std::string a = StartReader(DEVICE_TYPE_BASIC);
    const std::string b = StartReader(DEVICE_TYPE_BASIC, "silent");
    const std::string c = StartReader(DEVICE_TYPE_BASIC);
    const std::string doc = dir + "/doc.json";
    ASSERT_EQ(Cli("export --port " + a + " -o " + doc).exitCode, 0);

    CliRun run = Cli("apply --ports " + a + "," + b + "," + c + " " + doc + " --set deviceName=line-2");
    EXPECT_EQ(run.exitCode, EXIT_TIMEOUT);
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> summary;
    while (std::getline(lines, line)) summary.push_back(line);
    ASSERT_EQ(summary.size(), 3u) << run.out;
    EXPECT_EQ(summary[0].rfind(a, 0), 0u);
    EXPECT_NE(summary[0].find("ok"), std::string::npos);
    EXPECT_NE(summary[1].find("FAILED 5 (no reply)"), std::string::npos) << summary[1];
    EXPECT_NE(summary[2].find("verified"), std::string::npos) << summary[2];
    EXPECT_EQ(Writes(Runner(0)).size(), 1u);
    EXPECT_EQ(Writes(Runner(2)).size(), 1u);

    // export of several ports: one file per port
    run = Cli("export --ports " + a + "," + c + " -o " + dir + "/saved-{port}.json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(ReadAll(dir + "/saved-reader0.json").find("\"line-2\""), std::string::npos);
    EXPECT_NE(ReadAll(dir + "/saved-reader2.json").find("\"line-2\""), std::string::npos);
}
