// tavrolin-cli.exe under Wine on the rig's cable: the simulated reader runs
// here on TAV_SIM_PORT, the program on the paired TAV_APP_PORT. Skips without the rig.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "protocol/frame.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"

#ifndef TAV_CLI_EXE
#define TAV_CLI_EXE ""
#endif

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A path of the build ("/work/...") as Wine sees it ("Z:\work\...").
std::string DosPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::wstring Widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    return wide;
}

struct CliRun {
    int exitCode = -1;
    std::string out;
};

// Runs the program with args (UTF-8), standard output to a file; bounded.
CliRun RunCli(const std::string& args, const std::string& outFile) {
    CliRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(Widen(outFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    const std::wstring exe = Widen(DosPath(TAV_CLI_EXE));
    std::wstring commandLine = L"\"" + exe + L"\" " + Widen(args);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    std::ifstream in(outFile, std::ios::binary);
    run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

}  // namespace

TEST(CliUnderWine, ExportApplyIdentifyOnTheRigsCable) {
    const std::string appPort = Env("TAV_APP_PORT"), simPort = Env("TAV_SIM_PORT");
    if (appPort.empty() || simPort.empty()) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";

    SimReader reader;
    SimInit(&reader, DEVICE_TYPE_BASIC);
    SimRunnerOptions options;
    options.port = simPort;
    std::string error;
    SimRunner* runner = SimRunnerStart(options, reader, &error);
    ASSERT_NE(runner, nullptr) << simPort << ": " << error;

    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string doc = std::string(folder) + "tav-cli-e2e.json";
    const std::string out = std::string(folder) + "tav-cli-e2e.out";

    CliRun exported = RunCli("export --port " + appPort + " -o \"" + doc + "\"", out);
    EXPECT_EQ(exported.exitCode, EXIT_OK);
    CliRun applied = RunCli("--trace apply --port " + appPort + " \"" + doc +
                             "\" --set deviceName=门禁A --set ipAddress=10.0.0.5 --set platformPort=502",
                         out);
    EXPECT_EQ(applied.exitCode, EXIT_OK) << applied.out;
    CliRun identified = RunCli("--json identify --port " + appPort, out);
    EXPECT_EQ(identified.exitCode, EXIT_OK);

    std::vector<uint8_t> written;
    for (const SimReceivedFrame& f : SimRunnerFrames(runner))
        if (f.command == CMD_WRITE_CONFIG) written.assign(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
    SimRunnerStop(runner);

    ASSERT_EQ(written.size(), 93u);
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.begin() + 7), (std::vector<uint8_t>{1, 0xC3, 0xC5, 0xBD, 0xFB, 'A', 0}));
    EXPECT_EQ(std::vector<uint8_t>(written.begin() + 69, written.begin() + 76), (std::vector<uint8_t>{0x01, 0xF6, 0, 10, 0, 0, 5}));

    const auto json = nlohmann::json::parse(identified.out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << identified.out;
    EXPECT_EQ(json["fields"]["deviceName"], "门禁A");
    EXPECT_EQ(json["fields"]["ipAddress"], "10.0.0.5");
}
