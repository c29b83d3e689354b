// Frame building and the CRC shared by the sender and reply handling.
#include "protocol/frame.h"

#include <cstring>

#include "protocol/bytes.h"

uint16_t Crc16(const uint8_t* bytes, size_t count) {
    if (bytes == nullptr || count == 0) return 0;
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 1)
                crc = static_cast<uint16_t>((crc >> 1) ^ 0xA001);
            else
                crc = static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

// Writes magic, version and command, copies the payload, then fills in the
// CRC over the length field and payload. The length field must already be
// at bytes 8-9 when this is called, so callers write it first.
static void FinishFrame(std::vector<uint8_t>& frame, uint8_t protocolVersion,
                        uint8_t command, const uint8_t* payload, size_t count) {
    std::memcpy(frame.data(), FRAME_MAGIC, sizeof FRAME_MAGIC);
    frame[4] = protocolVersion;
    frame[5] = command;
    if (count > 0) std::memcpy(frame.data() + FRAME_HEADER_SIZE, payload, count);
    WriteU16BE(frame.data() + 6, Crc16(frame.data() + 8, count + 2));
}

std::vector<uint8_t> BuildQueryInfoFrame() {
    std::vector<uint8_t> frame(FRAME_HEADER_SIZE, 0);
    FinishFrame(frame, 0, CMD_QUERY_INFO, nullptr, 0);
    return frame;
}

std::vector<uint8_t> BuildWriteConfigFrame(const uint8_t* payload, size_t count) {
    if (count > MAX_SENT_PAYLOAD) return {};
    if (payload == nullptr && count > 0) return {};
    std::vector<uint8_t> frame(FRAME_HEADER_SIZE + count, 0);
    // The sender fills only the low byte of the length; the payload never
    // reaches 256 bytes.
    frame[8] = 0;
    frame[9] = static_cast<uint8_t>(count);
    FinishFrame(frame, 0, CMD_WRITE_CONFIG, payload, count);
    return frame;
}

std::vector<uint8_t> BuildFrame(uint8_t protocolVersion, uint8_t command,
                                const uint8_t* payload, size_t count) {
    if (count > 0xFFFF) return {};
    if (payload == nullptr && count > 0) return {};
    std::vector<uint8_t> frame(FRAME_HEADER_SIZE + count, 0);
    WriteU16BE(frame.data() + 8, static_cast<uint16_t>(count));
    FinishFrame(frame, protocolVersion, command, payload, count);
    return frame;
}

bool HasFrameMagic(const uint8_t* p) {
    return std::memcmp(p, FRAME_MAGIC, sizeof FRAME_MAGIC) == 0;
}

size_t FrameTotalLength(const uint8_t* header) {
    return static_cast<size_t>(ReadU16BE(header + 8)) + FRAME_HEADER_SIZE;
}

const char* CommandName(uint8_t command) {
    switch (command) {
    case CMD_QUERY_INFO: return "CMD_QUERY_INFO";
    case CMD_INFO_REPLY: return "CMD_INFO_REPLY";
    case CMD_WRITE_CONFIG: return "CMD_WRITE_CONFIG";
    case CMD_CONFIG_ACK: return "CMD_CONFIG_ACK";
    default: return "unknown command";
    }
}
