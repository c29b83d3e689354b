// The checks reply handling makes on a complete frame, free of any
// window code so they can be tested and fuzzed natively.
#pragma once
#include <cstddef>
#include <cstdint>

#include "device_info.h"

enum ReplyKind {
    REPLY_BAD_CRC,        // ignored without a message
    REPLY_OTHER_COMMAND,  // ignored
    REPLY_TOO_OLD,        // information reply with protocolVersion 0
    REPLY_INFO,           // information reply to store
    REPLY_CONFIG_ACK,     // acknowledgement of a written configuration
};

// frame points at total bytes (total >= 10, total = length field + 10).
ReplyKind ClassifyReply(const uint8_t* frame, size_t total);

// Copies an accepted information reply into the store: the first 512
// payload bytes (the rest of a longer payload is dropped), the length
// field, the protocol version and the port index; deviceType is byte 16
// of the stored record. A shorter reply leaves the stored bytes beyond it.
void StoreInfoReply(DeviceInfoStore* store, const uint8_t* frame, size_t total,
                    int32_t portIndex);
