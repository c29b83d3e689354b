// tavrolin-cli.exe under Wine on the rig's cable: the simulated reader runs
// here on TAV_SIM_PORT, the program on the paired TAV_APP_PORT. Skips without the rig.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "protocol/frame.h"
#include "sim/sim_fleet.h"
#include "sim/sim_runner.h"

namespace {

std::wstring Widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    return wide;
}

// Runs the program (its build path as Wine sees it, "Z:\...") with args, standard
// output to outFile; returns the exit code, or -1 when it could not start.
int RunCli(const std::string& args, const std::string& outFile, std::string* out) {
    std::string exe = std::string("Z:") + TAV_CLI_EXE;
    for (char& c : exe) c = c == '/' ? '\\' : c;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileW(Widen(outFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + Widen(exe) + L"\" " + Widen(args);
    PROCESS_INFORMATION process = {};
    DWORD code = static_cast<DWORD>(-1);
    if (CreateProcessW(Widen(exe).c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(file);
    std::ifstream in(outFile, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<int>(code);
}

}  // namespace

TEST(CliUnderWine, ExportApplyIdentifyOnTheRigsCable) {
    const char* appPort = std::getenv("TAV_APP_PORT");
    const char* simPort = std::getenv("TAV_SIM_PORT");
    if (!appPort || !simPort || !*appPort || !*simPort) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";
    SimReader reader;
    SimInit(&reader, DEVICE_TYPE_BASIC);
    SimRunnerOptions options;
    options.port = simPort;
    std::string error, out;
    SimRunner* runner = SimRunnerStart(options, reader, &error);
    ASSERT_NE(runner, nullptr) << simPort << ": " << error;

    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string doc = std::string(folder) + "tav-cli-e2e.json", outFile = std::string(folder) + "tav-cli-e2e.out";
    const std::string port = std::string(" --port ") + appPort;
    EXPECT_EQ(RunCli("export" + port + " -o \"" + doc + "\"", outFile, &out), EXIT_OK);
    EXPECT_EQ(RunCli("--trace apply" + port + " \"" + doc + "\" --set deviceName=门禁A --set ipAddress=10.0.0.5 --set platformPort=502",
                     outFile, &out), EXIT_OK) << out;
    EXPECT_EQ(RunCli("--json identify" + port, outFile, &out), EXIT_OK);

    std::vector<uint8_t> written;
    for (const SimReceivedFrame& f : SimRunnerFrames(runner))
        if (f.command == CMD_WRITE_CONFIG) written.assign(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
    SimRunnerStop(runner);
    ASSERT_EQ(written.size(), 93u);
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.begin() + 7), (std::vector<uint8_t>{1, 0xC3, 0xC5, 0xBD, 0xFB, 'A', 0}));
    EXPECT_EQ(std::vector<uint8_t>(written.begin() + 69, written.begin() + 76), (std::vector<uint8_t>{0x01, 0xF6, 0, 10, 0, 0, 5}));
    const auto json = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << out;
    EXPECT_EQ(json["fields"]["deviceName"], "门禁A");
    EXPECT_EQ(json["fields"]["ipAddress"], "10.0.0.5");
}

TEST(CliUnderWine, ProvisionTwoReadersOneAfterAnotherOnTheRigsCable) {
    const char* appPort = std::getenv("TAV_APP_PORT");
    const char* simPort = std::getenv("TAV_SIM_PORT");
    if (!appPort || !simPort || !*appPort || !*simPort) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";
    // Two readers with silence between them: the rig's cable stays plugged.
    std::vector<SimFleetReader> readers(2);
    for (SimFleetReader& r : readers) {
        SimInit(&r.reader, DEVICE_TYPE_BASIC);
        r.hangUp = false;
    }
    SimRunnerOptions options;
    options.port = simPort;
    std::string error, out;
    SimFleet* fleet = SimFleetStart(options, readers, &error);
    ASSERT_NE(fleet, nullptr) << simPort << ": " << error;

    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string plan = std::string(folder) + "tav-fleet.csv", log = std::string(folder) + "tav-fleet.log.jsonl";
    DeleteFileA(log.c_str());
    std::ofstream(plan, std::ios::binary) << "ipAddress,deviceName\r\n10.0.7.21,\xE9\x97\xA8\xE7\xA6\x81-21\r\n"
                                             "10.0.7.22,\xE9\x97\xA8\xE7\xA6\x81-22\r\n";
    EXPECT_EQ(RunCli("provision \"" + plan + "\" --port " + appPort, std::string(folder) + "tav-fleet.out", &out), EXIT_OK)
        << out;
    EXPECT_NE(out.find("row 3: 10.0.7.22 written and verified - connect the next reader"), std::string::npos) << out;
    const std::vector<SimReader> after = SimFleetReaders(fleet);
    SimFleetStop(fleet);
    EXPECT_EQ(SimGetField(&after[0], "ipAddress"), "10.0.7.21");
    EXPECT_EQ(SimGetField(&after[1], "ipAddress"), "10.0.7.22");
    std::ifstream in(log, std::ios::binary);
    const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}
