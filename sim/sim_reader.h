// A simulated reader: the far end of the serial line, free of I/O.
//
// SimFeed takes the bytes the reader receives (in any chunking), cuts
// frames out of them, answers CMD_QUERY_INFO with CMD_INFO_REPLY and
// CMD_WRITE_CONFIG with CMD_CONFIG_ACK (after applying the written record
// to its DeviceInfo), and returns what the reader does next as a list of
// timed actions. A runner (sim_runner.h) carries the actions out on a
// SerialLine; tests look at them directly.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device_info.h"

// How the reader misbehaves when it answers.
enum SimFault {
    SIM_FAULT_NONE,
    SIM_FAULT_SILENT,          // never answers
    SIM_FAULT_BAD_CRC,         // CRC off by one
    SIM_FAULT_CRC_LOW_FIRST,   // CRC bytes in low-byte-first order
    SIM_FAULT_GARBAGE,         // arg bytes of garbage, arg2 ms, then the reply
    SIM_FAULT_SPLIT,           // reply in arg writes, arg2 ms apart
    SIM_FAULT_DOUBLE,          // the reply twice in one write
    SIM_FAULT_LATE,            // the reply after arg ms
    SIM_FAULT_NEVER_COMPLETE,  // a header whose length can never complete,
                               // then after arg ms the reply (arg < 0: none)
    SIM_FAULT_OVERSIZE,        // information reply payload of arg bytes (> 512)
    SIM_FAULT_UNKNOWN_TYPE,    // information reply carries device type arg
    SIM_FAULT_HANG_UP,         // hang up instead of answering; line down arg ms
    SIM_FAULT_LOST,            // the frame never arrives: neither taken nor answered
};

struct SimFaultPlan {
    SimFault fault;
    int arg;
    int arg2;
    int repliesLeft;  // replies the fault still applies to; < 0: all of them
    bool writesOnly = false;  // only acknowledgements: the reader takes the record, then misbehaves
};

// One frame the reader received, as it came and decoded.
struct SimReceivedFrame {
    std::vector<uint8_t> raw;
    uint8_t protocolVersion;
    uint8_t command;
    uint16_t crc;       // as stored, high byte first
    uint16_t length;    // length field
    bool crcOk;
    int64_t atMs;       // the feed time at which it completed
};

enum SimActionKind {
    SIM_ACTION_WRITE,    // write bytes
    SIM_ACTION_HANG_UP,  // drop the line for downMs, then bring it back
};

struct SimAction {
    SimActionKind kind;
    int delayMs;   // after the previous action of the list (the first: after the feed)
    std::vector<uint8_t> bytes;
    int downMs;
};

// Frames larger than this are never taken for frames by the reader.
constexpr size_t SIM_MAX_FRAME = 1024;
// A frame that stops growing for this long is given up at the next feed.
constexpr int64_t SIM_STALE_FRAME_MS = 500;

struct SimReader {
    uint8_t info[DEVICE_INFO_STORE_SIZE];  // the DeviceInfo record it reports
    size_t infoLength;                     // payload bytes of an information reply
    uint8_t protocolVersion;               // byte 4 of every reply
    SimFaultPlan fault;

    // Reassembly of received bytes.
    std::vector<uint8_t> pending;
    int64_t pendingGrewAt;

    // Everything received, for tests and the console.
    std::vector<SimReceivedFrame> received;
    uint64_t bytesDiscarded;
    uint64_t configsApplied;
};

// A reader of the given type with the factory defaults of that type.
void SimInit(SimReader* sim, int deviceType);

// Sets a field by its record name (deviceName, ipAddress, deviceId, ...)
// or one of protocolVersion, payloadLength. Texts are stored as given
// ("hex:" followed by hex digits gives raw bytes), addresses are dotted,
// numbers decimal or 0x-hex. False with a reason for an unknown name or a
// bad value.
bool SimSetField(SimReader* sim, const std::string& name, const std::string& value,
                 std::string* error);
// The names SimSetField accepts, for help texts.
std::vector<std::string> SimFieldNames();
// The current value of a field, formatted as SimSetField reads it.
std::string SimGetField(const SimReader* sim, const std::string& name);

// Parses "MODE[:arg[,arg2]]" (e.g. "late:3500", "split:4,30"). Mode names:
// none silent bad-crc crc-low-first garbage split double late
// never-complete oversize unknown-type hangup lost.
bool SimParseFault(const std::string& text, SimFaultPlan* out, std::string* error);
std::vector<std::string> SimFaultNames();

// Feeds received bytes at time nowMs (monotonic milliseconds).
std::vector<SimAction> SimFeed(SimReader* sim, const uint8_t* bytes, size_t count,
                               int64_t nowMs);

// The information reply frame as the reader would send it with no fault.
std::vector<uint8_t> SimInfoReplyFrame(const SimReader* sim);
// The acknowledgement frame with no fault.
std::vector<uint8_t> SimConfigAckFrame(const SimReader* sim);

// One line per frame: hex bytes, then the decoded header and record fields.
std::string SimDescribeFrame(const SimReceivedFrame& frame);
std::string SimHex(const uint8_t* bytes, size_t count);
