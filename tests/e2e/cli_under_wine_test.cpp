// tavrolin-cli.exe under Wine on the rig's cable: the simulated reader runs
// here on TAV_SIM_PORT, the program on the paired TAV_APP_PORT.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

#include "cli/exit_codes.h"
#include "e2e_fixture.h"
#include "sim/sim_fleet.h"

namespace {

class CliUnderWine : public ReaderTest {
protected:
    // The program run to its end: the exit code (-1: it could not start), its output in *out.
    static int RunCli(const std::string& args, std::string* out) {
        out->clear();
        return RunReading(CliLine(Widen(args)), out, 30000);
    }
};

TEST_F(CliUnderWine, ExportApplyIdentifyOnTheRigsCable) {
    StartReader(DEVICE_TYPE_BASIC);
    const std::string doc = Narrow(TempPath(L"tav-cli-e2e.json")), port = " --port " + appPort;
    std::string out;
    EXPECT_EQ(RunCli("export" + port + " -o \"" + doc + "\"", &out), EXIT_OK);
    EXPECT_EQ(RunCli("--trace apply" + port + " \"" + doc + "\" --set deviceName=门禁A --set ipAddress=10.0.0.5 --set platformPort=502",
                     &out), EXIT_OK) << out;
    EXPECT_EQ(RunCli("--json identify" + port, &out), EXIT_OK);

    std::vector<uint8_t> written;
    for (const SimReceivedFrame& f : SimRunnerFrames(runner))
        if (f.command == CMD_WRITE_CONFIG) written.assign(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
    ASSERT_EQ(written.size(), 93u);
    EXPECT_EQ(Slice(written, 0, 7), (Bytes{1, 0xC3, 0xC5, 0xBD, 0xFB, 'A', 0}));
    EXPECT_EQ(Slice(written, 69, 7), (Bytes{0x01, 0xF6, 0, 10, 0, 0, 5}));
    const auto json = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << out;
    EXPECT_EQ(json["fields"]["deviceName"], "门禁A");
    EXPECT_EQ(json["fields"]["ipAddress"], "10.0.0.5");
}

// Every port present is listed, above COM32 too; a port whose link exists
// but that no driver announced is not.
TEST_F(CliUnderWine, PortsListsThePortsAboveThirtyTwo) {
    std::string out;
    ASSERT_EQ(RunCli("ports", &out), EXIT_OK);
    std::set<std::string> lines;
    for (size_t at = 0, end; at < out.size(); at = end + 1) {
        end = std::min(out.find('\n', at), out.size());
        lines.insert(out.substr(at, end - at - (end > at && out[end - 1] == '\r' ? 1 : 0)));
    }
    for (const char* name : {"TAV_APP_PORT", "TAV_APP_PORT_HIGH"}) {
        const std::string port = EnvOr(name, "");
        if (!port.empty()) { EXPECT_EQ(lines.count(port), 1u) << port << " not in:\n" << out; }
    }
    const std::string unannounced = EnvOr("TAV_APP_PORT_LIVE", "");
    if (!unannounced.empty()) { EXPECT_EQ(lines.count(unannounced), 0u) << out; }
}

TEST_F(CliUnderWine, ProvisionWithAnAcknowledgementLostResolvedOnTheSameReader) {
    // Two readers with silence between them: the rig's cable stays plugged.
    // The first takes its record but its acknowledgement never comes.
    std::vector<SimFleetReader> readers(2);
    for (SimFleetReader& r : readers) {
        SimInit(&r.reader, DEVICE_TYPE_BASIC);
        r.hangUp = false;
    }
    readers[0].reader.fault = SimFaultPlan{SIM_FAULT_SILENT, 0, 0, 1, true};
    SimRunnerOptions options;
    options.port = simPort;
    std::string error, out;
    SimFleet* fleet = SimFleetStart(options, readers, &error);
    ASSERT_NE(fleet, nullptr) << simPort << ": " << error;

    const std::wstring plan = TempPath(L"tav-fleet.csv"), log = TempPath(L"tav-fleet.log.jsonl");
    DeleteFileW(log.c_str());
    DeleteFileW(TempPath(L"tav-fleet.log.undo.jsonl").c_str());
    std::ofstream(Narrow(plan), std::ios::binary) << "ipAddress,deviceName,gateway\r\n10.0.7.21,\xE9\x97\xA8\xE7\xA6\x81-21,10.0.7.1\r\n"
                                                     "10.0.7.22,\xE9\x97\xA8\xE7\xA6\x81-22,10.0.7.1\r\n";
    EXPECT_EQ(RunCli("provision \"" + Narrow(plan) + "\" --port " + appPort, &out), EXIT_OK) << out;
    for (const char* line : {"[1/2] row 2 \xE9\x97\xA8\xE7\xA6\x81-21 10.0.7.21 written and verified (its acknowledgement was "
                             "lost) - unplug it and connect the next reader",
                             "[2/2] row 3 \xE9\x97\xA8\xE7\xA6\x81-22 10.0.7.22 written and verified - unplug it",
                             "summary: 2 of 2 rows done (2 in this run), 0 pending"})
        EXPECT_NE(out.find(line), std::string::npos) << line << " in:\n" << out;
    EXPECT_EQ(out.find("10.0.7.22 written and verified - unplug it and"), std::string::npos) << "the last line says to go on";
    const std::vector<SimReader> after = SimFleetReaders(fleet);
    SimFleetStop(fleet);
    EXPECT_EQ(SimGetField(&after[0], "ipAddress"), "10.0.7.21");
    EXPECT_EQ(SimGetField(&after[1], "ipAddress"), "10.0.7.22");
    size_t writes = 0;
    for (const SimReader& r : after)
        for (const SimReceivedFrame& f : r.received) writes += f.command == CMD_WRITE_CONFIG;
    EXPECT_EQ(writes, 2u);  // the first reader was not written twice
    const std::string lines = ReadFileText(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;  // the plan, two readers, the summary
    EXPECT_EQ(lines.find("pass1234"), std::string::npos);
    EXPECT_NE(ReadFileText(TempPath(L"tav-fleet.log.undo.jsonl")).find("pass1234"), std::string::npos);
}

}  // namespace
