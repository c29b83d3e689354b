// bench_provision: the provisioning engine in line mode against simulated
// readers on one pseudo-terminal, timed from the engine's own events: from
// a reader's first answer to "verified", and from the moment a reader left
// (hung up, or fell silent) to the engine noticing it was gone. Medians
// over the readers of each bench, with the engine's defaults (a query
// every 300 ms, 3 s for an acknowledgement), as a technician runs it.
//
//   bench_provision [READERS]     (default 5 per bench)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "cli/provision_engine.h"
#include "sim/sim_fleet.h"

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The times of the events that matter here, on the engine's thread.
class Clock : public ProvisionObserver {
public:
    void OnEvent(const ProvisionEvent& e) override {
        std::lock_guard<std::mutex> hold(lock);
        if (e.kind == EV_READER_SEEN && seenAt < 0) seenAt = NowMs();
        if (e.kind == EV_DONE && seenAt >= 0) verified.push_back(NowMs() - seenAt);
        if (e.kind == EV_DONE) seenAt = -1;
        if (e.kind == EV_READER_GONE) gone.push_back(NowMs());
    }
    std::mutex lock;
    int64_t seenAt = -1;
    std::vector<int64_t> verified, gone;
};

double Median(std::vector<int64_t> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// One bench: readers of type 1 answering with fault, leaving by hanging up or by falling silent.
bool Bench(const std::string& dir, const char* name, int readers, const char* fault, bool hangUp) {
    std::vector<SimFleetReader> fleet(readers);
    for (SimFleetReader& r : fleet) {
        SimInit(&r.reader, DEVICE_TYPE_DUAL_ANTENNA);
        std::string error;
        SimParseFault(fault, &r.reader.fault, &error);
        r.hangUp = hangUp;
        r.gapMs = 1500;
    }
    const std::string plan = dir + "/" + name + ".csv";
    std::ofstream out(plan);
    out << "ipAddress,deviceName,gateway\n";
    for (int i = 1; i <= readers + 1; ++i) out << "10.0.9." << i << ",bench-" << i << ",10.0.9.254\n";
    out.close();
    SimRunnerOptions options;
    options.port = dir + "/" + name;
    options.createPty = true;
    std::string error;
    SimFleet* sim = SimFleetStart(options, fleet, &error);
    if (sim == nullptr) {
        std::fprintf(stderr, "bench_provision: %s\n", error.c_str());
        return false;
    }
    ProvisionSetup setup;
    setup.planFile = plan;
    setup.port = options.port;
    Clock clock;
    std::atomic<bool> stop{false};
    std::thread engine([&] { RunProvisionEngine(setup, clock, stop); });
    while (SimFleetCurrent(sim) < fleet.size()) usleep(50000);
    usleep(2000000);  // the last one's leaving noticed
    stop = true;
    engine.join();
    const std::vector<int64_t> left = SimFleetLeftAt(sim);
    SimFleetStop(sim);
    std::vector<int64_t> detection;
    for (size_t i = 0; i < left.size() && i < clock.gone.size(); ++i) detection.push_back(clock.gone[i] - left[i]);
    std::printf("%-44s %d readers: first answer to verified %6.1f ms, reader gone detected %6.1f ms after it left\n",
                name, readers, Median(clock.verified), Median(detection));
    return clock.verified.size() == static_cast<size_t>(readers) && detection.size() == static_cast<size_t>(readers);
}

}  // namespace

int main(int argc, char** argv) {
    const int readers = argc > 1 ? std::atoi(argv[1]) : 5;
    char dir[] = "/tmp/tav-bench-provision-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    std::printf("line mode, medians (a query every 300 ms, the acknowledgement waited for up to 3 s);\n"
                "the frames of one reader's write, acknowledgement, query and reply take 21.1 ms at 115200 baud:\n");
    bool ok = Bench(dir, "answering at once, leaving by hanging up", readers, "none", true);
    ok = Bench(dir, "answering at once, leaving by falling silent", readers, "none", false) && ok;
    ok = Bench(dir, "answering after 100 ms, hanging up", readers, "late:100", true) && ok;
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return ok ? 0 : 1;
}
