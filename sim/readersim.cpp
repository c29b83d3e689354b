// readersim: a simulated reader on a serial port, for trying the tool
// without hardware and for the end-to-end tests.
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/line.h"
#include "sim/rig_control.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"
#include "tav_version.h"

namespace {

std::atomic<bool> g_stop{false};  // set by the signal handler, read by main

void OnSignal(int) { g_stop = true; }

void PrintHelp() {
    std::printf(
        "usage: readersim (--port PATH|COMn | --pty LINK) [options]\n"
        "\n"
        "Answers the configuration tool like a reader: a query with the information\n"
        "reply, a configuration write with an acknowledgement (after storing the\n"
        "written settings, so the next query reports them). Prints every frame it\n"
        "receives, in hex and decoded.\n"
        "\n"
        "  --port PATH|COMn     serial port to answer on (a tty path, or COMn on Windows)\n"
        "  --pty LINK           create a pseudo-terminal and publish its other end as\n"
        "                       the symlink LINK (Linux); open LINK from the tool's side\n"
        "  --type N             device type: 1 dual antenna, 2 single antenna, 3 WiFi,\n"
        "                       52 basic (default), or any other byte; sets the defaults\n"
        "  --protocol-version N version byte of the replies (default 2; 0 = too old,\n"
        "                       1 = record without device ID)\n"
        "  --set FIELD=VALUE    set one field; repeatable, applied after --file\n"
        "  --file F             JSON object of fields, e.g. {\"deviceName\": \"r7\",\n"
        "                       \"ipAddress\": \"10.0.0.5\", \"deviceId\": 42}\n"
        "  --fault MODE[:A[,B]] misbehave when answering (see the list below)\n"
        "  --fault-count K      apply the fault to the next K replies only (default: all)\n"
        "  --rig-cable NAME     the hangup fault unplugs the rig's cable NAME through the\n"
        "                       control file in TAV_RIG_CTL instead of closing the port\n"
        "  --once               exit after the first frame was answered\n"
        "  --list-ports         print the serial ports found and exit\n"
        "  --help               this text\n"
        "  --version            the version and build date\n"
        "\n"
        "Fields: texts as given (\"hex:C4E3BAC3\" for raw GBK bytes), addresses dotted,\n"
        "numbers decimal or 0x-hex:\n ");
    for (const std::string& f : SimFieldNames()) std::printf(" %s", f.c_str());
    std::printf(
        "\n\nFaults:\n"
        "  silent               never answer\n"
        "  bad-crc              CRC off by one\n"
        "  crc-low-first        CRC bytes in the wrong order\n"
        "  garbage[:N[,MS]]     N garbage bytes (default 5), the reply MS ms later\n"
        "                       (default 100; 0 = in the same write)\n"
        "  split[:N[,MS]]       reply in N writes (default 3) MS ms apart (default 20)\n"
        "  double               the reply twice in one write\n"
        "  late[:MS]            reply after MS ms (default 2500)\n"
        "  never-complete[:MS]  a frame announcing 2000 bytes, then the reply MS ms\n"
        "                       later (default 700; -1 = no reply)\n"
        "  oversize[:N]         information reply of N payload bytes, 513-1014 (default 600)\n"
        "  unknown-type[:T]     information reply with device type T (default 7)\n"
        "  hangup[:MS]          hang up instead of answering, line back after MS ms\n"
        "                       (default 2000)\n");
}

bool ApplyJsonFile(SimReader* sim, const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        *error = path + ": not a JSON object";
        return false;
    }
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        std::string value;
        if (it->is_string())
            value = it->get<std::string>();
        else if (it->is_number_integer())
            value = std::to_string(it->get<long long>());
        else {
            *error = path + ": field " + it.key() + " must be a text or an integer";
            return false;
        }
        if (!SimSetField(sim, it.key(), value, error)) return false;
    }
    return true;
}

long ElapsedMs() {
    static const auto start = std::chrono::steady_clock::now();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start).count());
}

}  // namespace

int main(int argc, char** argv) {
    std::string port, pty, file, faultText, rigCable, protocolVersion;
    int type = DEVICE_TYPE_BASIC, faultCount = -1;
    bool once = false;
    std::vector<std::string> sets;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "readersim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            *out = argv[++i];
        };
        std::string v;
        if (a == "--help" || a == "-h") { PrintHelp(); return 0; }
        else if (a == "--version") { std::printf("readersim " TAV_VERSION_TEXT " (" TAV_BUILD_DATE ")\n"); return 0; }
        else if (a == "--port") value(&port);
        else if (a == "--pty") value(&pty);
        else if (a == "--type") { value(&v); type = std::atoi(v.c_str()); }
        else if (a == "--protocol-version") value(&protocolVersion);
        else if (a == "--set") { value(&v); sets.push_back(v); }
        else if (a == "--file") value(&file);
        else if (a == "--fault") value(&faultText);
        else if (a == "--fault-count") { value(&v); faultCount = std::atoi(v.c_str()); }
        else if (a == "--rig-cable") value(&rigCable);
        else if (a == "--once") once = true;
        else if (a == "--list-ports") {
            for (const std::string& p : LineEnumerate()) std::printf("%s\n", p.c_str());
            return 0;
        } else {
            std::fprintf(stderr, "readersim: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (port.empty() == pty.empty()) {
        std::fprintf(stderr, "readersim: give exactly one of --port and --pty (see --help)\n");
        return 2;
    }
    if (type < 0 || type > 255) {
        std::fprintf(stderr, "readersim: --type must be 0-255\n");
        return 2;
    }

    SimReader sim;
    SimInit(&sim, type);
    std::string error;
    if (!file.empty() && !ApplyJsonFile(&sim, file, &error)) {
        std::fprintf(stderr, "readersim: %s\n", error.c_str());
        return 2;
    }
    for (const std::string& s : sets) {
        size_t eq = s.find('=');
        if (eq == std::string::npos || !SimSetField(&sim, s.substr(0, eq), s.substr(eq + 1), &error)) {
            std::fprintf(stderr, "readersim: --set %s: %s\n", s.c_str(),
                         eq == std::string::npos ? "expected FIELD=VALUE" : error.c_str());
            return 2;
        }
    }
    if (!protocolVersion.empty() && !SimSetField(&sim, "protocolVersion", protocolVersion, &error)) {
        std::fprintf(stderr, "readersim: --protocol-version: %s\n", error.c_str());
        return 2;
    }
    if (!faultText.empty()) {
        if (!SimParseFault(faultText, &sim.fault, &error)) {
            std::fprintf(stderr, "readersim: --fault: %s\n", error.c_str());
            return 2;
        }
        sim.fault.repliesLeft = faultCount;
    }

    SimRunnerOptions options;
    options.port = pty.empty() ? port : pty;
    options.createPty = !pty.empty();
    options.once = once;
    options.log = [](const std::string& text) {
        std::printf("[%6ld ms] %s\n", ElapsedMs(), text.c_str());
        std::fflush(stdout);
    };
    if (!rigCable.empty()) {
        options.lineControl = [rigCable](bool down) {
            std::string why;
            if (!RigSetCable("", rigCable, !down, 3000, &why))
                std::fprintf(stderr, "readersim: %s\n", why.c_str());
        };
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    SimRunner* runner = SimRunnerStart(options, sim, &error);
    if (runner == nullptr) {
        std::fprintf(stderr, "readersim: %s\n", error.c_str());
        return 1;
    }
    std::printf("readersim: type %d, protocol version %u, %zu-byte record, fault %s, on %s\n", type,
                sim.protocolVersion, sim.infoLength, faultText.empty() ? "none" : faultText.c_str(),
                options.port.c_str());
    std::fflush(stdout);
    while (!g_stop && !SimRunnerFinished(runner))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SimRunnerStop(runner);
    return 0;
}
