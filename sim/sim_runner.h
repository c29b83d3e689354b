// Runs a SimReader on a serial line in a thread of its own.
//
// The runner thread owns the line: it reads, feeds the reader, and
// carries out the timed actions. The SimReader is shared with the caller
// and guarded by the runner's lock: change it only through SimRunnerUpdate
// and read what it received through SimRunnerFrames.
//
// When the line goes away (hang-up, unplugged cable, or the reader's own
// hang-up fault) the runner closes it and tries to open the same port
// again every 200 ms until it succeeds or is stopped.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_reader.h"

struct SimRunner;

struct SimRunnerOptions {
    std::string port;    // a tty path or COMn
    bool createPty = false;  // POSIX: create a pty and publish its slave at port
    // Stop once a frame was answered and every action of the answer is done.
    bool once = false;
    // Called on the runner thread with each frame received (described) and
    // each write; may be empty.
    std::function<void(const std::string&)> log;
    // Drops (true) or restores (false) the line for the hang-up fault, for
    // example by unplugging the rig's cable. Empty: the runner closes its
    // end and opens it again after the fault's time.
    std::function<void(bool down)> lineControl;
    // Called on the runner thread under the reader's lock, after every
    // frame it received was answered and at least every 50 ms, with the
    // monotonic time: may change the reader (a bench swapping readers).
    // Returns how long to hang the line up from now, or -1.
    std::function<int(SimReader* reader, int64_t nowMs)> step;
};

// Opens the port and starts the thread. nullptr with a reason when the
// port cannot be opened.
SimRunner* SimRunnerStart(const SimRunnerOptions& options, const SimReader& reader,
                          std::string* error);

// Stops the thread and closes the line.
void SimRunnerStop(SimRunner* runner);

// Hangs the line up for downMs as the hang-up fault does (the reader is
// unplugged), from any thread.
void SimRunnerHangUp(SimRunner* runner, int downMs);

// Runs fn on the reader under the runner's lock.
void SimRunnerUpdate(SimRunner* runner, const std::function<void(SimReader*)>& fn);

// A copy of every frame received so far.
std::vector<SimReceivedFrame> SimRunnerFrames(SimRunner* runner);

// Forgets the frames received so far.
void SimRunnerClearFrames(SimRunner* runner);

// Waits up to timeoutMs for count frames to have been received; true when
// they were.
bool SimRunnerWaitFrames(SimRunner* runner, size_t count, int timeoutMs);

// True once the runner stopped by itself (once mode).
bool SimRunnerFinished(SimRunner* runner);

// Whether the runner's line is open right now.
bool SimRunnerLineOpen(SimRunner* runner);
