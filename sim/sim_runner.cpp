// The runner thread: read, feed, act.
#include "sim/sim_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "serial/line.h"

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct TimedAction {
    int64_t dueMs;
    SimAction action;
};

constexpr int REOPEN_INTERVAL_MS = 200;
constexpr int READ_SLICE_MS = 50;
constexpr int ONCE_LINGER_MS = 300;

}  // namespace

struct SimRunner {
    SimRunnerOptions options;

    // Guarded by lock: shared between the runner thread and callers.
    std::mutex lock;
    std::condition_variable frameArrived;
    SimReader reader;

    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> lineOpen{false};
    std::atomic<int> hangUpMs{-1};  // a hang-up asked for by SimRunnerHangUp; -1: none

    // Runner thread only (set before the thread starts).
    SerialLine* line = nullptr;
    std::deque<TimedAction> queue;
    int64_t reopenAt = 0;
    int64_t restoreAt = -1;  // when lineControl(false) is due; -1: none
    std::thread thread;
};

static void Log(SimRunner* r, const std::string& text) {
    if (r->options.log) r->options.log(text);
}

static SerialLine* OpenRunnerLine(const SimRunnerOptions& o, std::string* error) {
    if (o.createPty) return LineOpenPty(o.port, error);
    return LineOpen(o.port, error);
}

static void DropLine(SimRunner* r, int64_t reopenAt) {
    if (r->line) LineClose(r->line);
    r->line = nullptr;
    r->lineOpen = false;
    r->queue.clear();
    r->reopenAt = reopenAt;
}

static void RunActions(SimRunner* r, int64_t now) {
    const int asked = r->hangUpMs.exchange(-1);
    if (asked >= 0) r->queue.push_front(TimedAction{now, SimAction{SIM_ACTION_HANG_UP, 0, {}, asked}});
    while (!r->queue.empty() && r->queue.front().dueMs <= now) {
        SimAction a = std::move(r->queue.front().action);
        r->queue.pop_front();
        if (a.kind == SIM_ACTION_WRITE) {
            Log(r, "sent " + std::to_string(a.bytes.size()) + " bytes: " +
                       SimHex(a.bytes.data(), a.bytes.size()));
            if (r->line && !LineWrite(r->line, a.bytes.data(), a.bytes.size()))
                Log(r, "write failed");
        } else {
            Log(r, "hanging up for " + std::to_string(a.downMs) + " ms");
            if (r->options.lineControl) {
                r->options.lineControl(true);
                r->restoreAt = now + a.downMs;
            } else {
                DropLine(r, now + a.downMs);
                return;
            }
        }
    }
}

// The owner's step, under the lock; a hang-up it asks for is carried out next.
static void Step(SimRunner* r, int64_t now) {
    if (!r->options.step) return;
    int down;
    {
        std::lock_guard<std::mutex> hold(r->lock);
        down = r->options.step(&r->reader, now);
    }
    if (down >= 0) r->hangUpMs = down;
}

static void RunnerLoop(SimRunner* r) {
    uint8_t buffer[1024];
    bool answered = false;
    while (!r->stop) {
        int64_t now = NowMs();
        Step(r, now);
        if (r->restoreAt >= 0 && now >= r->restoreAt) {
            r->restoreAt = -1;
            r->options.lineControl(false);
        }
        if (r->line == nullptr) {
            if (now >= r->reopenAt) {
                std::string error;
                r->line = OpenRunnerLine(r->options, &error);
                if (r->line) {
                    r->lineOpen = true;
                    Log(r, "line open again: " + r->options.port);
                } else {
                    r->reopenAt = now + REOPEN_INTERVAL_MS;
                }
            }
            if (r->line == nullptr) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
        }
        int timeout = READ_SLICE_MS;
        if (!r->queue.empty())
            timeout = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(timeout, r->queue.front().dueMs - now)));
        int n = LineRead(r->line, buffer, sizeof buffer, timeout);
        now = NowMs();
        if (n < 0) {
            Log(r, "line gone: " + r->options.port);
            DropLine(r, now + REOPEN_INTERVAL_MS);
            continue;
        }
        if (n > 0) {
            std::vector<SimAction> actions;
            std::vector<SimReceivedFrame> fresh;
            {
                std::lock_guard<std::mutex> hold(r->lock);
                size_t before = r->reader.received.size();
                actions = SimFeed(&r->reader, buffer, static_cast<size_t>(n), now);
                fresh.assign(r->reader.received.begin() + static_cast<std::ptrdiff_t>(before),
                             r->reader.received.end());
            }
            // A reader swapped right after a write: its answer still goes out.
            if (!fresh.empty()) Step(r, now);
            if (!fresh.empty()) r->frameArrived.notify_all();
            for (const SimReceivedFrame& f : fresh) {
                Log(r, "received " + SimDescribeFrame(f));
                answered = true;
            }
            // Each answer follows whatever is still queued.
            int64_t at = r->queue.empty() ? now : std::max(now, r->queue.back().dueMs);
            for (SimAction& a : actions) {
                at += a.delayMs;
                r->queue.push_back(TimedAction{at, std::move(a)});
            }
        }
        RunActions(r, now);
        if (r->options.once && answered && r->queue.empty() && r->restoreAt < 0) {
            // Closing at once would throw away what the other end has not
            // read yet (a pty discards it on hang-up).
            std::this_thread::sleep_for(std::chrono::milliseconds(ONCE_LINGER_MS));
            break;
        }
    }
    if (r->restoreAt >= 0) r->options.lineControl(false);
    DropLine(r, 0);
    r->finished = true;
    r->frameArrived.notify_all();
}

SimRunner* SimRunnerStart(const SimRunnerOptions& options, const SimReader& reader,
                          std::string* error) {
    SerialLine* line = OpenRunnerLine(options, error);
    if (line == nullptr) return nullptr;
    SimRunner* r = new SimRunner;
    r->options = options;
    r->reader = reader;
    r->line = line;
    r->lineOpen = true;
    r->thread = std::thread(RunnerLoop, r);
    return r;
}

void SimRunnerStop(SimRunner* r) {
    if (r == nullptr) return;
    r->stop = true;
    if (r->thread.joinable()) r->thread.join();
    delete r;
}

void SimRunnerHangUp(SimRunner* r, int downMs) { r->hangUpMs = downMs; }

void SimRunnerUpdate(SimRunner* r, const std::function<void(SimReader*)>& fn) {
    std::lock_guard<std::mutex> hold(r->lock);
    fn(&r->reader);
}

std::vector<SimReceivedFrame> SimRunnerFrames(SimRunner* r) {
    std::lock_guard<std::mutex> hold(r->lock);
    return r->reader.received;
}

void SimRunnerClearFrames(SimRunner* r) {
    std::lock_guard<std::mutex> hold(r->lock);
    r->reader.received.clear();
}

bool SimRunnerWaitFrames(SimRunner* r, size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> hold(r->lock);
    return r->frameArrived.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        return r->reader.received.size() >= count || r->finished;
    }) && r->reader.received.size() >= count;
}

bool SimRunnerFinished(SimRunner* r) { return r->finished; }

bool SimRunnerLineOpen(SimRunner* r) { return r->lineOpen; }
