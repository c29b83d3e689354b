// Frames on the serial line: a 10-byte header and a payload.
//
//   0  magic "KWTB"      4  protocolVersion   5  command
//   6  crc (high first)  8  length (high first)  10 payload
//
// The CRC is CRC-16/MODBUS over the length field and the payload.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum {
    CMD_QUERY_INFO = 1,
    CMD_INFO_REPLY = 2,
    CMD_WRITE_CONFIG = 3,
    CMD_CONFIG_ACK = 4,
};

constexpr size_t FRAME_HEADER_SIZE = 10;
constexpr uint8_t FRAME_MAGIC[4] = {0x4B, 0x57, 0x54, 0x42};  // "KWTB"
// The sender's frame buffer: payloads of at most this many bytes.
constexpr size_t MAX_SENT_PAYLOAD = 190;

// CRC-16/MODBUS (init 0xFFFF, reflected poly 0xA001, no final xor).
// Returns 0 for a null buffer or a zero count.
uint16_t Crc16(const uint8_t* bytes, size_t count);

// The 10-byte CMD_QUERY_INFO frame; always "KWTB" 00 01 B0 01 00 00.
std::vector<uint8_t> BuildQueryInfoFrame();

// A CMD_WRITE_CONFIG frame around count payload bytes (count + 10 bytes).
// Returns an empty vector when count exceeds MAX_SENT_PAYLOAD.
std::vector<uint8_t> BuildWriteConfigFrame(const uint8_t* payload, size_t count);

// Any frame, as a reader would send it (used by the simulator and tests):
// full 16-bit length, CRC stored high byte first.
std::vector<uint8_t> BuildFrame(uint8_t protocolVersion, uint8_t command,
                                const uint8_t* payload, size_t count);

// True when the four bytes at p are the magic.
bool HasFrameMagic(const uint8_t* p);

// Total length of the frame whose header starts at p: length field + 10.
size_t FrameTotalLength(const uint8_t* header);

// "CMD_QUERY_INFO", ... for logs and traces; "unknown command" otherwise.
const char* CommandName(uint8_t command);
