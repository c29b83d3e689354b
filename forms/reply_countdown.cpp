#include "forms/reply_countdown.h"

bool TickReplyCountdown(std::atomic<int32_t>* countdown) {
    int32_t seen = countdown->load();
    while (seen > 0) {
        // Only write seen - 1 if nobody changed the countdown since it was
        // read; otherwise look again (a reply may have set it to 0, an
        // Apply may have set it back to 3).
        if (countdown->compare_exchange_weak(seen, seen - 1)) return seen - 1 == 0;
    }
    return false;
}
