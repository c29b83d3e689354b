// Cutting frames out of the received byte stream; see reassembly.h for
// which side calls what. Everything here is driven by the caller's clock.
#include "protocol/reassembly.h"

#include <algorithm>
#include <cstring>

#include "protocol/frame.h"

void ResetRxBuffer(RxBuffer* rx) {
    rx->rxFill = 0;
}

void ResetReassembler(Reassembler* r) {
    r->partialTiming = false;
    r->partialSince = 0;
    r->stalledFill = 0;
    r->stalledSince = 0;
    r->bytesDiscarded = 0;
    r->framesHandled = 0;
}

size_t AppendReceived(RxBuffer* rx, const uint8_t* bytes, size_t count) {
    if (bytes == nullptr || rx->rxFill >= RX_BUFFER_SIZE) return 0;
    const size_t stored = std::min(count, RX_BUFFER_SIZE - rx->rxFill);
    std::memcpy(rx->bytes + rx->rxFill, bytes, stored);
    rx->rxFill += stored;
    return stored;
}

// Forgets any timing in progress: the front of the buffer now holds
// something new (or nothing).
static void StopTimers(Reassembler* r) {
    r->partialTiming = false;
    r->stalledFill = 0;
}

static void DiscardAll(Reassembler* r, RxBuffer* rx) {
    r->bytesDiscarded += rx->rxFill;
    rx->rxFill = 0;
    StopTimers(r);
}

// Milliseconds from since to now, clamped to [0, limit] so that a clock
// that steps back or jumps far cannot overflow the arithmetic.
static int64_t ElapsedMs(int64_t since, int64_t now, int64_t limit) {
    if (now <= since) return 0;
    const uint64_t span = static_cast<uint64_t>(now) - static_cast<uint64_t>(since);
    return span >= static_cast<uint64_t>(limit) ? limit : static_cast<int64_t>(span);
}

ReassemblyResult ReassemblyPoll(Reassembler* r, RxBuffer* rx, int64_t nowMs) {
    const size_t fill = rx->rxFill;
    if (fill == 0) {
        StopTimers(r);
        return {0, -1};
    }

    if (fill < FRAME_HEADER_SIZE) {
        // A partial header: the clock starts when the parser first sees it
        // and does not restart when it grows; only a full header stops it.
        r->stalledFill = 0;
        if (!r->partialTiming) {
            r->partialTiming = true;
            r->partialSince = nowMs;
        }
        const int64_t waited = ElapsedMs(r->partialSince, nowMs, PARTIAL_DISCARD_MS);
        if (waited >= PARTIAL_DISCARD_MS) {
            DiscardAll(r, rx);
            return {0, -1};
        }
        return {0, static_cast<int>(PARTIAL_DISCARD_MS - waited)};
    }
    r->partialTiming = false;

    // Garbage at the front: everything goes, a later magic included.
    if (!HasFrameMagic(rx->bytes)) {
        DiscardAll(r, rx);
        return {0, -1};
    }

    const size_t total = FrameTotalLength(rx->bytes);
    // Such a frame can never fit; waiting for it would block the buffer.
    if (total > RX_BUFFER_SIZE) {
        DiscardAll(r, rx);
        return {0, -1};
    }
    if (fill >= total) {
        r->stalledFill = 0;
        return {total, 0};
    }

    // Incomplete frame: drop it when no byte has arrived for a while, so a
    // lost tail cannot hold the buffer forever.
    if (r->stalledFill != fill) {
        r->stalledFill = fill;
        r->stalledSince = nowMs;
    }
    const int64_t quiet = ElapsedMs(r->stalledSince, nowMs, STALLED_FRAME_DISCARD_MS);
    if (quiet >= STALLED_FRAME_DISCARD_MS) {
        DiscardAll(r, rx);
        return {0, -1};
    }
    return {0, static_cast<int>(STALLED_FRAME_DISCARD_MS - quiet)};
}

void ConsumeFrame(Reassembler* r, RxBuffer* rx, size_t total) {
    StopTimers(r);
    if (total == 0) return;
    ++r->framesHandled;
    if (total >= rx->rxFill) {
        rx->rxFill = 0;
        return;
    }
    const size_t rest = rx->rxFill - total;
    std::memmove(rx->bytes, rx->bytes + total, rest);
    rx->rxFill = rest;
}
