// Several readers one after another on one port, as on a bench with one
// cable: each reader answers with its own settings until it has taken its
// records and been asked a few more times (the tool waiting for it to
// go), then leaves by hanging up (the port vanishes) or by falling
// silent, and the next one comes after a gap. A reader may also be
// swapped for the next one right after it acknowledged a write, before
// the tool can check it, or leave unwritten after some queries (the
// technician taking away a reader the tool would not write).
//
// The bench's steps run on the runner's thread under its lock (the
// runner's step), so a swap falls exactly between two frames; callers
// read the readers' states through SimFleetReaders.
#pragma once
#include <string>
#include <vector>

#include "sim/sim_runner.h"

struct SimFleetReader {
    SimReader reader;
    int sameAs = -1;         // >= 0: this is reader sameAs connected again, as it last left
    int writesToLeave = 1;   // records it takes before it may leave
    int queriesToLeave = 2;  // queries after its last record before it leaves
    int maxQueries = -1;     // >= 0: leaves after this many queries without its records
    bool swapOnWrite = false;  // acknowledges its first write, then the next reader answers instead
    bool hangUp = true;      // leaves by hanging up; false: falls silent
    int gapMs = 1000;        // the port hung up or silent before the next reader (silent:
                             // longer than the tool's two unanswered queries)
};

struct SimFleet;

SimFleet* SimFleetStart(const SimRunnerOptions& options, const std::vector<SimFleetReader>& readers,
                        std::string* error);
void SimFleetStop(SimFleet* fleet);

// Every reader as it is now (the ones still to come as they will start).
std::vector<SimReader> SimFleetReaders(SimFleet* fleet);
// Which reader is connected now; the count of readers once all have left.
size_t SimFleetCurrent(SimFleet* fleet);
// When each reader left (steady clock, milliseconds since its epoch; -1
// for the ones still there or to come, or swapped away).
std::vector<int64_t> SimFleetLeftAt(SimFleet* fleet);
