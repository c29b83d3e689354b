// tavrolin-cli.exe under Wine on the rig's cable: the simulated reader runs
// here on TAV_SIM_PORT, the program on the paired TAV_APP_PORT (its
// provisioning with a lost acknowledgement: batch_window_test.cpp).
#include <nlohmann/json.hpp>

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

}  // namespace
