#include "sim/sim_fleet.h"

#include "protocol/frame.h"

namespace {

// A reader leaves only after its last answer has gone out.
constexpr int LEAVE_LINGER_MS = 40;

SimReader Silent(const SimReader& like) {
    SimReader quiet = like;
    quiet.fault = SimFaultPlan{SIM_FAULT_SILENT, 0, 0, -1};
    quiet.received.clear();
    return quiet;
}

// Whether a reader has done what it came for: its records taken and the
// tool asking it again and again; or asked long enough without them.
bool ReadyToLeave(const SimFleetReader& step, const SimReader& now) {
    int queries = 0, all = 0;
    for (const SimReceivedFrame& f : now.received) {
        if (f.command == CMD_WRITE_CONFIG) queries = 0;
        else if (f.command == CMD_QUERY_INFO) ++queries, ++all;
    }
    if (now.configsApplied < static_cast<uint64_t>(step.writesToLeave))
        return step.maxQueries >= 0 && all >= step.maxQueries;
    return queries >= step.queriesToLeave;
}

}  // namespace

struct SimFleet {
    std::vector<SimFleetReader> plan;
    SimRunner* runner = nullptr;

    // Guarded by the runner's lock: the step runs under it, callers go
    // through SimRunnerUpdate.
    std::vector<SimReader> readers;  // as they left, or as they are to start
    std::vector<size_t> physical;    // per visit: the reader it is (its first visit)
    std::vector<size_t> latest;      // per reader: its last visit so far
    std::vector<int64_t> leftAt;     // per visit: when it left, -1 before
    size_t current = 0;
    enum { PRESENT, LINGER, GAP } phase = PRESENT;
    int64_t until = 0;
};

// The next visitor in place of the reader on the line: a new reader, or
// one connected again as it last left; silence after the last.
static void Arrive(SimFleet* f, SimReader* r) {
    const size_t i = f->current;
    if (i >= f->plan.size()) {
        *r = Silent(*r);
        f->phase = SimFleet::GAP;
        return;
    }
    const size_t p = f->physical[i];
    SimReader next = f->readers[p == i ? i : f->latest[p]];
    next.received.clear();
    next.configsApplied = 0;
    next.pending.clear();
    next.fault = f->plan[i].reader.fault;
    *r = next;
    f->readers[i] = next;
    f->latest[p] = i;
    f->phase = SimFleet::PRESENT;
}

static int Step(SimFleet* f, SimReader* r, int64_t now) {
    const size_t i = f->current;
    if (i >= f->plan.size()) return -1;
    const SimFleetReader& step = f->plan[i];
    switch (f->phase) {
    case SimFleet::PRESENT:
        if (step.swapOnWrite && r->configsApplied >= 1) {
            // Swapped before the tool's check: the acknowledgement goes out, the next reader answers.
            f->readers[i] = *r;
            ++f->current;
            Arrive(f, r);
        } else if (ReadyToLeave(step, *r)) {
            f->phase = SimFleet::LINGER;
            f->until = now + LEAVE_LINGER_MS;
        }
        return -1;
    case SimFleet::LINGER:
        if (now < f->until) return -1;
        f->readers[i] = *r;
        f->leftAt[i] = now;
        *r = Silent(*r);
        ++f->current;
        f->phase = SimFleet::GAP;
        f->until = now + step.gapMs;
        return step.hangUp ? step.gapMs : -1;
    case SimFleet::GAP:
        if (now >= f->until) Arrive(f, r);
        return -1;
    }
    return -1;
}

SimFleet* SimFleetStart(const SimRunnerOptions& options, const std::vector<SimFleetReader>& readers,
                        std::string* error) {
    if (readers.empty()) {
        *error = "no readers";
        return nullptr;
    }
    SimFleet* f = new SimFleet;
    f->plan = readers;
    for (size_t i = 0; i < readers.size(); ++i) {
        const int same = readers[i].sameAs;
        f->readers.push_back(readers[i].reader);
        f->physical.push_back(same >= 0 && static_cast<size_t>(same) < i ? f->physical[same] : i);
        f->latest.push_back(i);
        f->leftAt.push_back(-1);
    }
    SimRunnerOptions withSteps = options;
    withSteps.step = [f](SimReader* r, int64_t now) { return Step(f, r, now); };
    f->runner = SimRunnerStart(withSteps, readers[0].reader, error);
    if (f->runner == nullptr) {
        delete f;
        return nullptr;
    }
    return f;
}

void SimFleetStop(SimFleet* f) {
    if (f == nullptr) return;
    SimRunnerStop(f->runner);
    delete f;
}

std::vector<SimReader> SimFleetReaders(SimFleet* f) {
    std::vector<SimReader> readers;
    SimRunnerUpdate(f->runner, [&](SimReader* r) {
        readers = f->readers;
        if (f->current < readers.size() && f->phase != SimFleet::GAP) readers[f->current] = *r;
    });
    return readers;
}

size_t SimFleetCurrent(SimFleet* f) {
    size_t current = 0;
    SimRunnerUpdate(f->runner, [&](SimReader*) { current = f->current; });
    return current;
}

std::vector<int64_t> SimFleetLeftAt(SimFleet* f) {
    std::vector<int64_t> left;
    SimRunnerUpdate(f->runner, [&](SimReader*) { left = f->leftAt; });
    return left;
}
