// Checks on a complete received frame, and storing an information reply.
#include "protocol/reply.h"

#include <algorithm>
#include <cstring>

#include "protocol/bytes.h"
#include "protocol/frame.h"

ReplyKind ClassifyReply(const uint8_t* frame, size_t total) {
    if (frame == nullptr || total < FRAME_HEADER_SIZE) return REPLY_BAD_CRC;
    // The CRC covers the length field and the payload; it is stored high
    // byte first.
    if (Crc16(frame + 8, total - 8) != ReadU16BE(frame + 6)) return REPLY_BAD_CRC;
    switch (frame[5]) {
    case CMD_INFO_REPLY:
        return frame[4] == 0 ? REPLY_TOO_OLD : REPLY_INFO;
    case CMD_CONFIG_ACK:
        return REPLY_CONFIG_ACK;
    default:
        return REPLY_OTHER_COMMAND;
    }
}

void StoreInfoReply(DeviceInfoStore* store, const uint8_t* frame, size_t total,
                    int32_t portIndex) {
    if (store == nullptr || frame == nullptr || total < FRAME_HEADER_SIZE) return;
    const size_t lengthField = ReadU16BE(frame + 8);
    // Copy no more than the frame holds and no more than the store keeps;
    // the pages never read beyond the first 174 bytes of a longer record.
    const size_t present = std::min(lengthField, total - FRAME_HEADER_SIZE);
    const size_t copied = std::min(present, DEVICE_INFO_STORE_SIZE);
    std::memcpy(store->payload, frame + FRAME_HEADER_SIZE, copied);
    store->portIndex = portIndex;
    store->deviceType = store->payload[DI_DEVICE_TYPE];
    store->payloadLength = static_cast<int32_t>(lengthField);
    store->protocolVersion = frame[4];
}
