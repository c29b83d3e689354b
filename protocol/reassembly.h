// Cutting frames out of the received byte stream.
//
// RxBuffer always starts at the first byte of the frame being assembled.
// The receiving side appends; the parsing side examines the front,
// hands a complete frame to its handler in place, then removes it.
// The logic is free of threads and clocks: the caller passes the time,
// so tests drive it with a fake clock.
//
// Locking (in the program): AppendReceived, ReassemblyPoll (it may
// discard) and ConsumeFrame run under rxLock; the frame's bytes are read
// outside it, which is sound because only the parsing side lowers rxFill.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t RX_BUFFER_SIZE = 1024;
// Fewer than 10 bytes that do not grow into a header are dropped after this.
constexpr int64_t PARTIAL_DISCARD_MS = 50;
// A frame whose remaining bytes stop arriving is dropped after this long
// without a new byte (safe against USB adapter latency).
constexpr int64_t STALLED_FRAME_DISCARD_MS = 500;

struct RxBuffer {
    uint8_t bytes[RX_BUFFER_SIZE];
    size_t rxFill;
};

struct Reassembler {
    // Parsing side only.
    bool partialTiming;      // a partial header is being timed
    int64_t partialSince;
    size_t stalledFill;      // rxFill when the current frame last grew
    int64_t stalledSince;
    // Counters for tests and diagnostics.
    uint64_t bytesDiscarded;
    uint64_t framesHandled;
};

void ResetRxBuffer(RxBuffer* rx);
void ResetReassembler(Reassembler* r);

// Appends at rxFill; bytes beyond the 1024-byte buffer are dropped.
// Returns how many were stored.
size_t AppendReceived(RxBuffer* rx, const uint8_t* bytes, size_t count);

struct ReassemblyResult {
    size_t frameLength;  // > 0: a complete frame of this length lies at the front
    int waitMs;          // frameLength == 0: poll again after this long at the
                         // latest, or as soon as bytes arrive; -1: only when bytes arrive
};

// One step of the parsing side at time nowMs (milliseconds, monotonic).
ReassemblyResult ReassemblyPoll(Reassembler* r, RxBuffer* rx, int64_t nowMs);

// Removes the handled frame of total bytes and moves the rest to the front.
void ConsumeFrame(Reassembler* r, RxBuffer* rx, size_t total);
