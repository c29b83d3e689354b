// One tick of the reply wait. The countdown is shared: the UI thread sets
// it to 3 and counts it down, ParserThread sets it to 0 when a reply
// arrives. A tick must never write back a value computed from a reading
// that reply handling has overwritten meanwhile, or a reply that arrived
// between the two would be followed by a false time-out.
#pragma once
#include <atomic>
#include <cstdint>

// Decrements a positive countdown by one. Returns true when this tick
// brought it to 0 (the wait has timed out); false when it was already 0
// or was still running after the tick.
bool TickReplyCountdown(std::atomic<int32_t>* countdown);
