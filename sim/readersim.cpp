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
#include "sim/sim_fleet.h"
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
        "  --fleet F            several readers one after another on the port, from the\n"
        "                       JSON array F: per reader type, fields, fault, faultOnWrite,\n"
        "                       sameAs (an earlier reader again), writesToLeave (1),\n"
        "                       queriesToLeave (2), maxQueries (leaves unwritten after\n"
        "                       that many), swapOnWrite (the next reader answers right\n"
        "                       after the acknowledgement), hangUp (true; false: falls\n"
        "                       silent), gapMs (1000); exits after the last one left\n"
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
        "                       (default 2000)\n"
        "  lost                 the frame never arrives: not taken, not answered\n");
}

bool ReadJsonFile(const std::string& path, nlohmann::json* doc, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    *doc = nlohmann::json::parse(in, nullptr, false);
    if (doc->is_discarded()) {
        *error = path + ": not valid JSON";
        return false;
    }
    return true;
}

bool ApplyJsonFields(SimReader* sim, const nlohmann::json& doc, const std::string& where, std::string* error) {
    if (!doc.is_object()) {
        *error = where + ": not a JSON object";
        return false;
    }
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        std::string value;
        if (it->is_string())
            value = it->get<std::string>();
        else if (it->is_number_integer())
            value = std::to_string(it->get<long long>());
        else {
            *error = where + ": field " + it.key() + " must be a text or an integer";
            return false;
        }
        if (!SimSetField(sim, it.key(), value, error)) return false;
    }
    return true;
}

// --fleet: a JSON array, one object per reader in the order they come:
// {"type": 52, "fields": {...}, "fault": "hangup:500", "faultOnWrite": true, "sameAs": 0,
//  "writesToLeave": 1, "queriesToLeave": 2, "maxQueries": -1, "swapOnWrite": false,
//  "hangUp": true, "gapMs": 1000}
bool ReadFleet(const std::string& path, std::vector<SimFleetReader>* fleet, std::string* error) {
    nlohmann::json doc;
    if (!ReadJsonFile(path, &doc, error)) return false;
    if (!doc.is_array() || doc.empty()) {
        *error = path + ": expected an array of readers";
        return false;
    }
    for (size_t i = 0; i < doc.size(); ++i) {
        const nlohmann::json& r = doc[i];
        const std::string where = path + " reader " + std::to_string(i);
        if (!r.is_object()) {
            *error = where + ": not a JSON object";
            return false;
        }
        SimFleetReader step;
        SimInit(&step.reader, r.value("type", DEVICE_TYPE_BASIC));
        if (r.contains("fields") && !ApplyJsonFields(&step.reader, r["fields"], where, error)) return false;
        if (r.contains("fault") && !SimParseFault(r.value("fault", ""), &step.reader.fault, error)) return false;
        step.reader.fault.writesOnly = r.value("faultOnWrite", false);
        if (step.reader.fault.writesOnly) step.reader.fault.repliesLeft = 1;
        step.sameAs = r.value("sameAs", -1);
        step.writesToLeave = r.value("writesToLeave", 1);
        step.queriesToLeave = r.value("queriesToLeave", 2);
        step.maxQueries = r.value("maxQueries", -1);
        step.swapOnWrite = r.value("swapOnWrite", false);
        step.hangUp = r.value("hangUp", true);
        step.gapMs = r.value("gapMs", 1000);
        fleet->push_back(step);
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
    std::string port, pty, file, faultText, rigCable, protocolVersion, fleetFile;
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
        else if (a == "--fleet") value(&fleetFile);
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
    nlohmann::json fields;
    if (!file.empty() && (!ReadJsonFile(file, &fields, &error) || !ApplyJsonFields(&sim, fields, file, &error))) {
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
    if (!fleetFile.empty()) {
        std::vector<SimFleetReader> readers;
        SimFleet* fleet = nullptr;
        if (!ReadFleet(fleetFile, &readers, &error) || (fleet = SimFleetStart(options, readers, &error)) == nullptr) {
            std::fprintf(stderr, "readersim: %s\n", error.c_str());
            return 2;
        }
        std::printf("readersim: %zu readers one after another on %s\n", readers.size(), options.port.c_str());
        std::fflush(stdout);
        while (!g_stop && SimFleetCurrent(fleet) < readers.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SimFleetStop(fleet);
        return 0;
    }
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
