#include "cli/trace.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "document/fields.h"
#include "document/text_codec.h"
#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "protocol/reply.h"

namespace {

// Set once, before any port thread starts (first call from main).
const std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
// Guards the sink for the port threads.
std::mutex g_traceLock;
void (*g_sink)(const std::string&) = nullptr;

}  // namespace

int64_t CliNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_start)
        .count();
}

void TraceWrite(const std::string& port, const char* direction, const std::string& text) {
    const int64_t ms = CliNowMs();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%5lld.%03lld]", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    std::lock_guard<std::mutex> hold(g_traceLock);
    std::string out = std::string(stamp) + " " + port + " " + direction + " ";
    for (char c : text) {
        out += c;
        if (c == '\n') out += "        ";
    }
    if (g_sink != nullptr) g_sink(out + "\n");
}

void SetTraceSink(void (*sink)(const std::string& lines)) {
    std::lock_guard<std::mutex> hold(g_traceLock);
    g_sink = sink;
}

std::string DescribeFrame(const uint8_t* frame, size_t count, int deviceType) {
    std::string text = std::to_string(count) + " bytes: " + HexBytes(frame, count, " ");
    if (count < FRAME_HEADER_SIZE) return text;
    const uint8_t command = frame[5];
    const size_t length = ReadU16BE(frame + 8);
    const bool crcOk = ClassifyReply(frame, count) != REPLY_BAD_CRC;
    char header[128];
    std::snprintf(header, sizeof header, "\n%s version %u, length %zu, crc %04X %s", CommandName(command),
                  frame[4], length, ReadU16BE(frame + 6), crcOk ? "ok" : "BAD");
    text += header;
    const uint8_t* payload = frame + FRAME_HEADER_SIZE;
    const size_t present = count - FRAME_HEADER_SIZE;
    std::string fields;
    if (command == CMD_INFO_REPLY && crcOk) fields = DescribeInfoPayload(payload, present);
    if (command == CMD_WRITE_CONFIG) fields = DescribeRecord(deviceType, payload, present);
    // The descriptions start with a blank.
    if (fields.size() > 1) text += "\n" + fields.substr(1);
    return text;
}
