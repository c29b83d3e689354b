#include "sim/sim_fleet.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "protocol/frame.h"

namespace {

constexpr int CONTROL_SLICE_MS = 20;
// A reader leaves only after its last answer has gone out.
constexpr int LEAVE_LINGER_MS = 40;

}  // namespace

struct SimFleet {
    std::vector<SimFleetReader> plan;
    SimRunner* runner = nullptr;
    std::thread thread;
    std::atomic<bool> stop{false};

    // Guarded by lock: the controller thread updates, callers read.
    std::mutex lock;
    std::vector<SimReader> readers;  // as they left, or as they are to start
    size_t current = 0;
};

static SimReader Silent(const SimReader& like) {
    SimReader quiet = like;
    quiet.fault = SimFaultPlan{SIM_FAULT_SILENT, 0, 0, -1};
    quiet.received.clear();
    return quiet;
}

// Whether reader i has done what it came for: its records taken and the
// tool asking it again and again.
static bool ReadyToLeave(const SimFleetReader& step, const SimReader& now) {
    if (now.configsApplied < static_cast<uint64_t>(step.writesToLeave)) return false;
    int queries = 0;
    for (const SimReceivedFrame& f : now.received) {
        if (f.command == CMD_WRITE_CONFIG) queries = 0;
        else if (f.command == CMD_QUERY_INFO) ++queries;
    }
    return queries >= step.queriesToLeave;
}

static void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

static void Control(SimFleet* f) {
    for (size_t i = 0; i < f->plan.size() && !f->stop; ++i) {
        bool leave = false;
        while (!f->stop && !leave)
            SimRunnerUpdate(f->runner, [&](SimReader* r) { leave = ReadyToLeave(f->plan[i], *r); }), SleepMs(CONTROL_SLICE_MS);
        if (f->stop) break;
        SleepMs(LEAVE_LINGER_MS);
        const SimFleetReader& step = f->plan[i];
        SimReader left;
        SimRunnerUpdate(f->runner, [&](SimReader* r) {
            left = *r;
            *r = Silent(*r);
        });
        SimReader next;
        {
            std::lock_guard<std::mutex> hold(f->lock);
            f->readers[i] = left;
            f->current = i + 1;
            if (i + 1 < f->plan.size()) {
                const int same = f->plan[i + 1].sameAs;
                next = same >= 0 && static_cast<size_t>(same) <= i ? f->readers[same] : f->readers[i + 1];
                next.received.clear();
                next.configsApplied = 0;
                next.fault = f->plan[i + 1].reader.fault;
            }
        }
        if (step.hangUp) SimRunnerHangUp(f->runner, step.gapMs);
        SleepMs(step.gapMs);
        if (i + 1 < f->plan.size()) {
            SimRunnerUpdate(f->runner, [&](SimReader* r) { *r = next; });
            std::lock_guard<std::mutex> hold(f->lock);
            f->readers[i + 1] = next;
        }
    }
}

SimFleet* SimFleetStart(const SimRunnerOptions& options, const std::vector<SimFleetReader>& readers,
                        std::string* error) {
    if (readers.empty()) {
        *error = "no readers";
        return nullptr;
    }
    SimFleet* f = new SimFleet;
    f->plan = readers;
    for (const SimFleetReader& r : readers) f->readers.push_back(r.reader);
    f->runner = SimRunnerStart(options, readers[0].reader, error);
    if (f->runner == nullptr) {
        delete f;
        return nullptr;
    }
    f->thread = std::thread(Control, f);
    return f;
}

void SimFleetStop(SimFleet* f) {
    if (f == nullptr) return;
    f->stop = true;
    if (f->thread.joinable()) f->thread.join();
    {
        std::lock_guard<std::mutex> hold(f->lock);
        if (f->current < f->readers.size())
            SimRunnerUpdate(f->runner, [&](SimReader* r) { f->readers[f->current] = *r; });
    }
    SimRunnerStop(f->runner);
    delete f;
}

std::vector<SimReader> SimFleetReaders(SimFleet* f) {
    std::vector<SimReader> readers;
    size_t current;
    {
        std::lock_guard<std::mutex> hold(f->lock);
        readers = f->readers;
        current = f->current;
    }
    if (current < readers.size()) SimRunnerUpdate(f->runner, [&](SimReader* r) { readers[current] = *r; });
    return readers;
}

size_t SimFleetCurrent(SimFleet* f) {
    std::lock_guard<std::mutex> hold(f->lock);
    return f->current;
}
