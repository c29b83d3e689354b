// The fixture of the tests of tavrolin-cli against simulated readers on
// pseudo-terminals: readers on links of their own in a temporary folder,
// the commands run in-process or as the program itself.
#pragma once
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "protocol/frame.h"
#include "sim/sim_runner.h"
#include "tests/forms/form_helpers.h"


inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Says(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
        (void)std::system(("rm -rf '" + dir + "'").c_str());
    }

    // A reader of type on a pty link of its own; returns the link.
    std::string StartReader(int type, const std::string& fault = "none", const std::function<void(SimReader*)>& tweak = {}) {
        SimReader reader;
        SimInit(&reader, type);
        std::string error;
        EXPECT_TRUE(SimParseFault(fault, &reader.fault, &error)) << error;
        if (tweak) tweak(&reader);
        SimRunnerOptions options;
        options.port = dir + "/reader" + std::to_string(runners.size());
        options.createPty = true;
        runners.push_back(SimRunnerStart(options, reader, &error));
        EXPECT_NE(runners.back(), nullptr) << error;
        return options.port;
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
        InputError error;
        for (const std::string& s : sets) EXPECT_TRUE(ParseSetting(s, &overlay, &error)) << s << ": " << error.message;
        return overlay;
    }

    // The payloads of the configuration writes reader i received.
    std::vector<Bytes> Writes(size_t i) {
        std::vector<Bytes> writes;
        for (const SimReceivedFrame& f : SimRunnerFrames(runners.at(i)))
            if (f.command == CMD_WRITE_CONFIG && f.crcOk) writes.emplace_back(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
        return writes;
    }

    // Runs the program itself with a shell command line's arguments.
    CliRun Cli(const std::string& args, const std::string& input = "") {
        const std::string out = dir + "/stdout", err = dir + "/stderr";
        std::ofstream(dir + "/stdin") << input;
        const int status = std::system((std::string(TAV_CLI_EXE) + " " + args + " <" + dir + "/stdin >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
    }

    // Starts the program in the background, its output in dir/NAME.out and
    // .err; fileLimit > 0: no file may grow past it (a full disk).
    pid_t Start(const std::string& name, const std::string& args, long fileLimit = 0) {
        const std::string command = "exec " + std::string(TAV_CLI_EXE) + " " + args + " >" + dir + "/" + name + ".out 2>" +
                                    dir + "/" + name + ".err </dev/null";
        const pid_t pid = fork();
        if (pid == 0) {
            // Only calls a child of a threaded process may make before exec.
            if (fileLimit > 0) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    // Whether dir/FILE comes to say text within 10 s.
    bool WaitFor(const std::string& file, const std::string& text) {
        for (int waited = 0; waited < 10000; waited += 50, usleep(50000))
            if (Says(ReadAll(dir + "/" + file), text)) return true;
        return false;
    }
    // The exit code; -1 when it had to be killed.
    static int Finish(pid_t pid, int timeoutMs = 30000) {
        int status = 0;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            usleep(20000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }

    std::string dir;
    std::vector<SimRunner*> runners;
};

