// cli_soak: tavrolin-cli's apply, in this process, against simulated
// readers on pseudo-terminals, run after run with a random fault on each
// reader. Every run must end within its time-out with the exit code its
// fault calls for; a failed run must leave the reader as it was; this
// process's descriptors (/proc/self/fd) and memory (RssAnon) must stay
// flat from the fifth run on; each reader must end up holding, byte for
// byte, the settings of its last successful run.
//
//   cli_soak [READERS] [RUNS] [SEED]     (defaults 8, 50, 1)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/session.h"
#include "document/fields.h"
#include "protocol/device_info.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"

namespace {

const int TYPES[] = {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI};

// The faults drawn for a reader's run, each with the exit code it calls
// for; "none" is drawn about half the time. The receive path drops a
// partial header that is not whole within 50 ms: garbage is followed by
// the reply only after that, and a split 10-byte acknowledgement must be
// whole well within it (else it is dropped and the run times out).
const struct { const char* fault; int exitCode; } FAULTS[] = {
    {"none", EXIT_OK},          {"none", EXIT_OK},         {"none", EXIT_OK},          {"none", EXIT_OK},
    {"none", EXIT_OK},          {"garbage:9,150", EXIT_OK}, {"split:3,5", EXIT_OK},    {"double", EXIT_OK},
    {"silent", EXIT_TIMEOUT},   {"bad-crc", EXIT_TIMEOUT}, {"hangup:300", EXIT_LINE_LOST},
    {"unknown-type:9", EXIT_UNSUPPORTED},
};
// Query, write and verification each wait up to the time-out.
constexpr int RUN_LIMIT_MS = 3 * REPLY_TIMEOUT_MS + 1500;

long Descriptors() {
    long n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n - 3;  // ".", ".." and the one opendir holds
}

long RssAnonKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "RssAnon:") status >> value;
        else status.ignore(256, '\n');
    }
    return value;
}

struct Reader {
    std::string port;
    int type;
    SimRunner* runner = nullptr;
    std::vector<uint8_t> held;  // its information record after its last successful run
};

std::vector<uint8_t> Info(SimRunner* runner) {
    std::vector<uint8_t> info(DEVICE_INFO_STORE_SIZE);
    SimRunnerUpdate(runner, [&](SimReader* r) { std::memcpy(info.data(), r->info, info.size()); });
    return info;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it comes, into a file too
    const int readers = argc > 1 ? std::atoi(argv[1]) : 8;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 50;
    std::mt19937 random(argc > 3 ? std::atoi(argv[3]) : 1);
    char dir[] = "/tmp/tav-soak-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;

    std::vector<Reader> bench(readers);
    for (int i = 0; i < readers; ++i) {
        Reader& r = bench[i];
        r.port = std::string(dir) + "/r" + std::to_string(i + 1);
        r.type = TYPES[i % 4];
        SimReader sim;
        SimInit(&sim, r.type);
        SimRunnerOptions options;
        options.port = r.port;
        options.createPty = true;
        std::string error;
        if ((r.runner = SimRunnerStart(options, sim, &error)) == nullptr) {
            std::fprintf(stderr, "cli_soak: reader %s: %s\n", r.port.c_str(), error.c_str());
            return 1;
        }
        r.held = Info(r.runner);
    }

    int failures = 0, counts[9] = {};
    long fdsAt5 = 0, memoryAt5 = 0, fdsLast = 0, memoryLast = 0, slowest = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int run = 1; run <= runs; ++run) {
        std::vector<int> drawn(readers);
        std::vector<PortResult> results(readers);
        std::vector<long> took(readers);
        std::vector<std::thread> threads;
        for (int i = 0; i < readers; ++i) {
            drawn[i] = static_cast<int>(random() % (sizeof FAULTS / sizeof FAULTS[0]));
            SimFaultPlan plan;
            std::string error;
            SimParseFault(FAULTS[drawn[i]].fault, &plan, &error);
            SimRunnerUpdate(bench[i].runner, [&](SimReader* s) { s->fault = plan; });
            // Values of this run: each reader gets its own address and name.
            CliOptions options;
            options.command = CMD_APPLY;
            options.ports = {bench[i].port};
            InputError ignored;
            ParseSetting("ipAddress=10." + std::to_string(run) + "." + std::to_string(i) + ".7", &options.overlay, &ignored);
            ParseSetting("deviceName=soak-" + std::to_string(run) + "-" + std::to_string(i), &options.overlay, &ignored);
            if (bench[i].type != DEVICE_TYPE_BASIC) ParseSetting("connectMode=1", &options.overlay, &ignored);
            threads.emplace_back([&, options, i] {
                const auto t0 = std::chrono::steady_clock::now();
                results[i] = RunOnPort(options, bench[i].port);
                took[i] = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - t0).count());
            });
        }
        for (std::thread& t : threads) t.join();

        for (int i = 0; i < readers; ++i) {
            Reader& r = bench[i];
            SimRunnerUpdate(r.runner, [](SimReader* s) { s->fault = SimFaultPlan{SIM_FAULT_NONE, 0, 0, -1}; });
            SimRunnerClearFrames(r.runner);  // the readers' own log is no part of the tool's memory
            const int code = results[i].exitCode, expected = FAULTS[drawn[i]].exitCode;
            ++counts[code >= 0 && code <= 8 ? code : 1];
            slowest = std::max(slowest, took[i]);
            const std::vector<uint8_t> now = Info(r.runner);
            const uint8_t ip[4] = {10, static_cast<uint8_t>(run), static_cast<uint8_t>(i), 7};
            const char* wrong = code != expected ? "exit code"
                              : took[i] > RUN_LIMIT_MS ? "time"
                              : expected != EXIT_OK && now != r.held ? "a failed run changed the reader"
                              : code == EXIT_OK && std::memcmp(&now[DI_IP_ADDRESS], ip, 4) != 0
                                  ? "success, but the reader holds another address"
                                  : nullptr;
            if (wrong != nullptr) {
                std::printf("run %d, %s (type %d, fault %s): %s: exit %d (expected %d) after %ld ms: %s\n", run,
                            r.port.c_str(), r.type, FAULTS[drawn[i]].fault, wrong, code, expected, took[i],
                            results[i].message.c_str());
                ++failures;
            }
            if (code == EXIT_OK) r.held = now;
        }
        // Sampled with every reader's line open again (a hang-up reopens it).
        for (Reader& r : bench)
            for (int k = 0; k < 50 && !SimRunnerLineOpen(r.runner); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fdsLast = Descriptors(), memoryLast = RssAnonKb();
        if (run == 5) fdsAt5 = fdsLast, memoryAt5 = memoryLast;
        if (run % 10 == 0 || run == runs) std::printf("run %d: descriptors %ld, RssAnon %ld KB\n", run, fdsLast, memoryLast);
    }

    // The settings of the last successful run, byte for byte, and what the
    // reader holds of them.
    for (Reader& r : bench) {
        if (Info(r.runner) != r.held) {
            std::printf("%s: the reader's record changed after its last successful run\n", r.port.c_str());
            ++failures;
        }
        SimRunnerStop(r.runner);
    }
    std::printf("exit codes:");
    for (int c = 0; c <= 8; ++c)
        if (counts[c] > 0) std::printf(" %d x%d", c, counts[c]);
    std::printf("\nslowest run %ld ms (limit %d); from run 5 to the last: descriptors %ld -> %ld, RssAnon %ld -> %ld KB "
                "(tolerance 0 and 1024 KB)\n", slowest, RUN_LIMIT_MS, fdsAt5, fdsLast, memoryAt5, memoryLast);
    if (runs >= 5 && (fdsLast > fdsAt5 || memoryLast - memoryAt5 > 1024)) ++failures;
    std::printf("cli soak: %d readers x %d runs in %.0f s, %d failures\n", readers, runs,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), failures);
    rmdir(dir);
    return failures == 0 ? 0 : 1;
}
