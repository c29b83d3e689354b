// tavrolin-cli.exe under Wine on the rig's cable: the simulated reader runs
// here on TAV_SIM_PORT, the program on the paired TAV_APP_PORT (its
// provisioning with a lost acknowledgement: batch_window_test.cpp).
#include <nlohmann/json.hpp>

#include <algorithm>

#include "cli/exit_codes.h"
#include "e2e_fixture.h"

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

}  // namespace
