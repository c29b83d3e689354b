// tavrolin-cli against the simulated reader on pseudo-terminals: round
// trips per device type checked where the reader receives them, fault
// modes, exit codes and messages.
#include "tests/cli/cli_fixture.h"

namespace {

TEST_F(CliOnSim, RoundTripsWriteTheExactRecordForEveryType) {
    const struct { int type; std::vector<std::string> sets; Bytes expected; } cases[] = {
        {52, {"ipAddress=10.0.0.5", "subnetMask=255.255.255.0", "gateway=10.0.0.1", "platformIp=192.168.1.10",
              "platformPort=502", "deviceName=admin", "devicePassword=pw"},
         Record(93).At(0, {1}).Text(1, "admin").Text(33, "pw").At(65, {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6, 0})
             .At(72, {10, 0, 0, 5, 255, 255, 255, 0, 10, 0, 0, 1}).bytes},
        {1, {"connectMode=0", "deviceId=-1", "rs485Baud=9600", "antenna0Baud=19200", "antenna1Baud=57600",
             "dualAntennaMode=true", "ipAddress=172.16.0.9", "subnetMask=255.255.0.0", "gateway=172.16.0.1"},
         Record(93).Text(1, "admin").Text(33, "602417").At(72, {172, 16, 0, 9, 255, 255, 0, 0, 172, 16, 0, 1})
             .At(84, {0, 1, 3, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}).bytes},
        {2, {"connectMode=1", "deviceName=门禁A", "devicePassword=secret", "platformIp=10.1.2.3",
             "platformPort=65535", "antenna1Baud=38400", "ipAddress=10.1.2.50", "subnetMask=255.255.255.0",
             "gateway=10.1.2.1"},
         Record(93).At(0, {1}).Text(1, "\xC3\xC5\xBD\xFB" "A").Text(33, "secret").At(65, {10, 1, 2, 3, 0xFF, 0xFF, 0})
             .At(72, {10, 1, 2, 50, 255, 255, 255, 0, 10, 1, 2, 1}).At(84, {0, 0, 2, 0, 0}).bytes},
        {3, {"connectMode=0", "deviceId=42", "dhcpEnabled=true", "antenna0Baud=115200", "antenna1Baud=9600",
             "dualAntennaMode=false", "wifiSsid=办公室WiFi", "wifiPassword=secret123"},
         Record(157).Text(1, "admin").Text(33, "602417").At(71, {1}).At(84, {0, 4, 0, 0, 0})
             .Text(89, "\xB0\xEC\xB9\xAB\xCA\xD2WiFi").Text(121, "secret123").At(153, {0, 0, 0, 42}).bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        const std::string port = StartReader(c.type);
        // export, then apply the file with the changes on top
        const std::string file = dir + "/type" + std::to_string(c.type) + ".json";
        const PortResult exported = Run(CMD_EXPORT, port, Overlay(), file);
        ASSERT_EQ(exported.exitCode, EXIT_OK) << exported.message;
        Overlay overlay;
        InputError error;
        ASSERT_TRUE(ParseDocument(ReadAll(file), file, &overlay, &error)) << error.message;
        const PortResult applied = Run(CMD_APPLY, port, Settings(c.sets, overlay));
        ASSERT_EQ(applied.exitCode, EXIT_OK) << applied.message;
        EXPECT_EQ(Writes(runners.size() - 1), std::vector<Bytes>{c.expected});
        const PortResult again = Run(CMD_IDENTIFY, port);
        ASSERT_EQ(again.exitCode, EXIT_OK) << again.message;
        EXPECT_EQ(again.json.at("fields"), applied.json.at("fields"));
    }
}

TEST_F(CliOnSim, EveryFailureEndsWithItsExitCode) {
    Overlay otherType;
    otherType.deviceType = DEVICE_TYPE_SINGLE_ANTENNA;
    const struct { int type; std::string fault; std::function<void(SimReader*)> tweak; CliCommand command; Overlay overlay;
                   int exitCode; const char* says; } cases[] = {
        {DEVICE_TYPE_DUAL_ANTENNA, "none", {}, CMD_IDENTIFY, {}, EXIT_OK, ""},
        {DEVICE_TYPE_DUAL_ANTENNA, "silent", {}, CMD_IDENTIFY, {}, EXIT_TIMEOUT, "no information reply within 3 s"},
        {DEVICE_TYPE_DUAL_ANTENNA, "bad-crc", {}, CMD_IDENTIFY, {}, EXIT_TIMEOUT, "bad CRC"},
        {DEVICE_TYPE_DUAL_ANTENNA, "unknown-type:7", {}, CMD_IDENTIFY, {}, EXIT_UNSUPPORTED, "device type 7"},
        {DEVICE_TYPE_DUAL_ANTENNA, "none", [](SimReader* r) { r->protocolVersion = 0; }, CMD_IDENTIFY, {}, EXIT_UNSUPPORTED, "网络读卡器版本低"},
        {DEVICE_TYPE_DUAL_ANTENNA, "hangup:1000", {}, CMD_IDENTIFY, {}, EXIT_LINE_LOST, "line was lost"},
        {DEVICE_TYPE_DUAL_ANTENNA, "none", {}, CMD_APPLY, Settings({"connectMode=1", "platformIp=", "deviceName="}),
         EXIT_REFUSED, "平台IP格式不对"},
        {DEVICE_TYPE_DUAL_ANTENNA, "none", {}, CMD_APPLY, otherType, EXIT_REFUSED,
         "single-antenna reader (type 2) but the reader is a dual-antenna"},
        // The record stops early: the pass phrase comes back cut (and is not shown).
        {DEVICE_TYPE_WIFI, "none", [](SimReader* r) { r->infoLength = 140; }, CMD_APPLY,
         Settings({"wifiPassword=long pass phrase"}), EXIT_MISMATCH, "wifiPassword: the reader reports another value than written (not shown)"},
    };
    // All at once, each on its own reader: the time-outs overlap.
    std::vector<std::string> ports;
    for (const auto& c : cases) ports.push_back(StartReader(c.type, c.fault, c.tweak));
    std::vector<PortResult> results(ports.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Run(cases[i].command, ports[i], cases[i].overlay); });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(results[i].exitCode, cases[i].exitCode) << i << ": " << results[i].message;
        EXPECT_TRUE(Says(results[i].message, cases[i].says)) << i << ": " << results[i].message;
    }
    EXPECT_TRUE(Writes(6).empty() && Writes(7).empty());
}

TEST_F(CliOnSim, ProgramExitCodesOneLineMessagesAndTheSummaryOfSeveralPorts) {
    const std::string a = StartReader(DEVICE_TYPE_BASIC), b = StartReader(DEVICE_TYPE_BASIC, "silent"),
                      c = StartReader(DEVICE_TYPE_BASIC);
    EXPECT_EQ(Cli("--help").exitCode, 0);
    CliRun run = Cli("identify");
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_TRUE(Says(run.err, "--port")) << run.err;
    run = Cli("identify --port " + dir + "/nothing-here");
    EXPECT_EQ(run.exitCode, EXIT_PORT);
    EXPECT_TRUE(Says(run.err, "No such file")) << run.err;
    // A cut-off document: one line, and the reader is never asked.
    run = Cli("apply --port " + a + " -", "{\"formatVersion\": 1, \"deviceType\": 52, \"fields\": {");
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(SimRunnerFrames(runners[0]).empty());

    // Several ports at once, one line each.
    const std::string doc = dir + "/doc.json";
    ASSERT_EQ(Cli("export --port " + a + " -o " + doc).exitCode, 0);
    run = Cli("apply --ports " + a + "," + b + "," + c + " " + doc + " --set deviceName=line-2");
    EXPECT_EQ(run.exitCode, EXIT_TIMEOUT);
    std::istringstream lines(run.out);
    std::vector<std::string> summary;
    for (std::string line; std::getline(lines, line);) summary.push_back(line);
    ASSERT_EQ(summary.size(), 3u) << run.out;
    EXPECT_TRUE(summary[0].rfind(a, 0) == 0 && Says(summary[0], "ok")) << summary[0];
    EXPECT_TRUE(Says(summary[1], "FAILED 5 (no reply)")) << summary[1];
    EXPECT_TRUE(Says(summary[2], "verified")) << summary[2];
    EXPECT_EQ(Writes(0).size(), 1u);
    EXPECT_EQ(Writes(2).size(), 1u);
}

}  // namespace
