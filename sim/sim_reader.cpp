// The simulated reader's record, its frame handling and its faults.
#include "sim/sim_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/bytes.h"
#include "protocol/config_record.h"
#include "protocol/frame.h"

namespace {

enum FieldKind { FIELD_TEXT, FIELD_U8, FIELD_U16, FIELD_U32, FIELD_IP };

struct FieldDef {
    const char* name;
    FieldKind kind;
    size_t offset;
    size_t width;  // texts only
};

// deviceId moves with the device type; it is handled apart from the table.
const FieldDef kFields[] = {
    {"firmwareVersion", FIELD_TEXT, DI_FIRMWARE_VERSION, FIRMWARE_VERSION_FIELD},
    {"deviceType", FIELD_U8, DI_DEVICE_TYPE, 1},
    {"connectMode", FIELD_U8, DI_CONNECT_MODE, 1},
    {"deviceName", FIELD_TEXT, DI_DEVICE_NAME, DEVICE_TEXT_FIELD},
    {"devicePassword", FIELD_TEXT, DI_DEVICE_PASSWORD, DEVICE_TEXT_FIELD},
    {"platformIp", FIELD_IP, DI_PLATFORM_IP, 4},
    {"platformPort", FIELD_U16, DI_PLATFORM_PORT, 2},
    {"dhcpEnabled", FIELD_U8, DI_DHCP_ENABLED, 1},
    {"ipAddress", FIELD_IP, DI_IP_ADDRESS, 4},
    {"subnetMask", FIELD_IP, DI_SUBNET_MASK, 4},
    {"gateway", FIELD_IP, DI_GATEWAY, 4},
    {"rs485Baud", FIELD_U8, DI_RS485_BAUD, 1},
    {"antenna0Baud", FIELD_U8, DI_ANTENNA0_BAUD, 1},
    {"antenna1Baud", FIELD_U8, DI_ANTENNA1_BAUD, 1},
    {"byte104", FIELD_U8, 104, 1},
    {"dualAntennaMode", FIELD_U8, DI_DUAL_ANTENNA_MODE, 1},
    {"wifiSsid", FIELD_TEXT, DI_WIFI_SSID, DEVICE_TEXT_FIELD},
    {"wifiPassword", FIELD_TEXT, DI_WIFI_PASSWORD, DEVICE_TEXT_FIELD},
};

size_t DeviceIdOffset(const SimReader* sim) {
    return sim->info[DI_DEVICE_TYPE] == DEVICE_TYPE_WIFI ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID;
}

const FieldDef* FindField(const std::string& name) {
    for (const FieldDef& f : kFields)
        if (name == f.name) return &f;
    return nullptr;
}

bool ParseInt(const std::string& text, long long lo, long long hi, long long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ParseIp(const std::string& text, uint8_t out[4]) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    out[0] = static_cast<uint8_t>(a);
    out[1] = static_cast<uint8_t>(b);
    out[2] = static_cast<uint8_t>(c);
    out[3] = static_cast<uint8_t>(d);
    return true;
}

bool ParseHexBytes(const std::string& hex, std::string* out) {
    if (hex.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (*end != '\0') return false;
        out->push_back(static_cast<char>(v));
    }
    return true;
}

void PutText(uint8_t* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

std::string FormatIp(const uint8_t* p) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return buf;
}

// A text as stored, printable: bytes outside ASCII shown as \xNN.
std::string PrintableText(const uint8_t* p, size_t width) {
    std::string out;
    for (size_t i = 0; i < width && p[i] != 0; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F) {
            out.push_back(static_cast<char>(p[i]));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", p[i]);
            out += buf;
        }
    }
    return out;
}

// Whether the current reply is still subject to the fault; counts it.
bool TakeFault(SimReader* sim, bool info) {
    SimFaultPlan& f = sim->fault;
    if (f.fault == SIM_FAULT_NONE || f.repliesLeft == 0 || (info && f.writesOnly)) return false;
    if (f.repliesLeft > 0) --f.repliesLeft;
    return true;
}

SimAction Write(int delayMs, std::vector<uint8_t> bytes) {
    return SimAction{SIM_ACTION_WRITE, delayMs, std::move(bytes), 0};
}

// Garbage that never contains the magic's first byte, so it can never be
// mistaken for the start of a frame.
std::vector<uint8_t> Garbage(size_t count) {
    std::vector<uint8_t> g(count);
    for (size_t i = 0; i < count; ++i) g[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    for (uint8_t& b : g)
        if (b == FRAME_MAGIC[0]) b = 0x00;
    return g;
}

std::vector<uint8_t> InfoReply(const SimReader* sim, size_t payloadLength, int typeOverride) {
    std::vector<uint8_t> payload(payloadLength, 0);
    size_t fromRecord = payloadLength < DEVICE_INFO_STORE_SIZE ? payloadLength : DEVICE_INFO_STORE_SIZE;
    std::memcpy(payload.data(), sim->info, fromRecord);
    // Beyond the record an oversized reply carries a recognisable pattern.
    for (size_t i = fromRecord; i < payloadLength; ++i) payload[i] = static_cast<uint8_t>(i);
    if (typeOverride >= 0 && payloadLength > DI_DEVICE_TYPE)
        payload[DI_DEVICE_TYPE] = static_cast<uint8_t>(typeOverride);
    return BuildFrame(sim->protocolVersion, CMD_INFO_REPLY, payload.data(), payload.size());
}

// The answer to one good frame, with the fault applied.
std::vector<SimAction> Answer(SimReader* sim, uint8_t command) {
    bool info = command == CMD_INFO_REPLY;
    bool faulty = TakeFault(sim, info);
    SimFault fault = faulty ? sim->fault.fault : SIM_FAULT_NONE;
    int arg = sim->fault.arg, arg2 = sim->fault.arg2;

    std::vector<uint8_t> reply;
    if (info && fault == SIM_FAULT_OVERSIZE)
        reply = InfoReply(sim, static_cast<size_t>(arg), -1);
    else if (info && fault == SIM_FAULT_UNKNOWN_TYPE)
        reply = InfoReply(sim, sim->infoLength, arg);
    else if (info)
        reply = SimInfoReplyFrame(sim);
    else
        reply = SimConfigAckFrame(sim);

    std::vector<SimAction> actions;
    switch (fault) {
    case SIM_FAULT_SILENT:
        break;
    case SIM_FAULT_BAD_CRC:
        WriteU16BE(reply.data() + 6, static_cast<uint16_t>(ReadU16BE(reply.data() + 6) + 1));
        actions.push_back(Write(0, reply));
        break;
    case SIM_FAULT_CRC_LOW_FIRST:
        std::swap(reply[6], reply[7]);
        actions.push_back(Write(0, reply));
        break;
    case SIM_FAULT_GARBAGE: {
        std::vector<uint8_t> g = Garbage(static_cast<size_t>(arg));
        if (arg2 <= 0) {
            g.insert(g.end(), reply.begin(), reply.end());
            actions.push_back(Write(0, g));
        } else {
            actions.push_back(Write(0, g));
            actions.push_back(Write(arg2, reply));
        }
        break;
    }
    case SIM_FAULT_SPLIT: {
        size_t pieces = static_cast<size_t>(arg);
        if (pieces > reply.size()) pieces = reply.size();
        size_t at = 0;
        for (size_t i = 0; i < pieces; ++i) {
            size_t end = reply.size() * (i + 1) / pieces;
            actions.push_back(Write(i == 0 ? 0 : arg2,
                                    std::vector<uint8_t>(reply.begin() + at, reply.begin() + end)));
            at = end;
        }
        break;
    }
    case SIM_FAULT_DOUBLE: {
        std::vector<uint8_t> two = reply;
        two.insert(two.end(), reply.begin(), reply.end());
        actions.push_back(Write(0, two));
        break;
    }
    case SIM_FAULT_LATE:
        actions.push_back(Write(arg, reply));
        break;
    case SIM_FAULT_NEVER_COMPLETE: {
        // A header announcing 2000 payload bytes and a few of them.
        std::vector<uint8_t> broken(FRAME_MAGIC, FRAME_MAGIC + 4);
        const uint8_t rest[] = {sim->protocolVersion, command, 0x00, 0x00, 0x07, 0xD0,
                                1, 2, 3, 4, 5, 6, 7, 8};
        broken.insert(broken.end(), rest, rest + sizeof rest);
        actions.push_back(Write(0, broken));
        if (arg >= 0) actions.push_back(Write(arg, reply));
        break;
    }
    case SIM_FAULT_HANG_UP:
        actions.push_back(SimAction{SIM_ACTION_HANG_UP, 0, {}, arg});
        break;
    default:  // none, and the information-only faults on an acknowledgement
        actions.push_back(Write(0, reply));
        break;
    }
    return actions;
}

// Writes a received ConfigRecord into the DeviceInfo: connectMode from 0
// to 17, everything after it 17 bytes later. The tail (deviceId, or the
// WiFi texts and deviceId) lands where the same type reports it.
void ApplyConfig(SimReader* sim, const uint8_t* record, size_t count) {
    if (count == 0) return;
    sim->info[DI_CONNECT_MODE] = record[CR_CONNECT_MODE];
    size_t room = DEVICE_INFO_STORE_SIZE - DI_DEVICE_NAME;
    size_t rest = count - 1 < room ? count - 1 : room;
    std::memcpy(sim->info + DI_DEVICE_NAME, record + CR_DEVICE_NAME, rest);
    ++sim->configsApplied;
}

std::vector<SimAction> HandleFrame(SimReader* sim, const uint8_t* frame, size_t total,
                                   int64_t nowMs) {
    SimReceivedFrame r;
    r.raw.assign(frame, frame + total);
    r.protocolVersion = frame[4];
    r.command = frame[5];
    r.crc = ReadU16BE(frame + 6);
    r.length = ReadU16BE(frame + 8);
    r.crcOk = Crc16(frame + 8, total - 8) == r.crc;
    r.atMs = nowMs;
    sim->received.push_back(r);
    if (!r.crcOk) return {};
    const bool write = r.command == CMD_WRITE_CONFIG;
    if ((write || r.command == CMD_QUERY_INFO) && sim->fault.fault == SIM_FAULT_LOST && TakeFault(sim, !write)) return {};
    if (r.command == CMD_QUERY_INFO) return Answer(sim, CMD_INFO_REPLY);
    if (write) {
        ApplyConfig(sim, frame + FRAME_HEADER_SIZE, total - FRAME_HEADER_SIZE);
        return Answer(sim, CMD_CONFIG_ACK);
    }
    return {};
}

}  // namespace

void SimInit(SimReader* sim, int deviceType) {
    std::memset(sim->info, 0, sizeof sim->info);
    uint8_t* p = sim->info;
    PutText(p + DI_FIRMWARE_VERSION, FIRMWARE_VERSION_FIELD, "V2.1.8");
    p[DI_DEVICE_TYPE] = static_cast<uint8_t>(deviceType);
    p[DI_CONNECT_MODE] = 1;
    PutText(p + DI_DEVICE_NAME, DEVICE_TEXT_FIELD, "reader01");
    PutText(p + DI_DEVICE_PASSWORD, DEVICE_TEXT_FIELD, "pass1234");
    const uint8_t platform[4] = {192, 168, 1, 10}, ip[4] = {192, 168, 1, 100},
                  mask[4] = {255, 255, 255, 0}, gateway[4] = {192, 168, 1, 1};
    std::memcpy(p + DI_PLATFORM_IP, platform, 4);
    WriteU16BE(p + DI_PLATFORM_PORT, 502);
    p[DI_DHCP_ENABLED] = 0;
    std::memcpy(p + DI_IP_ADDRESS, ip, 4);
    std::memcpy(p + DI_SUBNET_MASK, mask, 4);
    std::memcpy(p + DI_GATEWAY, gateway, 4);
    p[DI_RS485_BAUD] = 4;
    p[DI_ANTENNA0_BAUD] = 4;
    p[DI_ANTENNA1_BAUD] = 4;
    p[DI_DUAL_ANTENNA_MODE] = 0;
    if (deviceType == DEVICE_TYPE_WIFI) {
        PutText(p + DI_WIFI_SSID, DEVICE_TEXT_FIELD, "FactoryAP");
        PutText(p + DI_WIFI_PASSWORD, DEVICE_TEXT_FIELD, "wifipass123");
        WriteU32BE(p + DI_WIFI_DEVICE_ID, 1001);
        sim->infoLength = DEVICE_INFO_WIFI_SIZE;
    } else {
        WriteU32BE(p + DI_DEVICE_ID, 1001);
        sim->infoLength = DEVICE_INFO_SHORT_SIZE;
    }
    sim->protocolVersion = 2;
    sim->fault = SimFaultPlan{SIM_FAULT_NONE, 0, 0, -1};
    sim->pending.clear();
    sim->pendingGrewAt = 0;
    sim->received.clear();
    sim->bytesDiscarded = 0;
    sim->configsApplied = 0;
}

std::vector<std::string> SimFieldNames() {
    std::vector<std::string> names;
    for (const FieldDef& f : kFields) names.push_back(f.name);
    names.push_back("deviceId");
    names.push_back("protocolVersion");
    names.push_back("payloadLength");
    return names;
}

bool SimSetField(SimReader* sim, const std::string& name, const std::string& value,
                 std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = name + ": " + why + " '" + value + "'";
        return false;
    };
    long long v = 0;
    if (name == "protocolVersion") {
        if (!ParseInt(value, 0, 255, &v)) return fail("expected 0-255, got");
        sim->protocolVersion = static_cast<uint8_t>(v);
        return true;
    }
    if (name == "payloadLength") {
        if (!ParseInt(value, 0, 1014, &v)) return fail("expected 0-1014, got");
        sim->infoLength = static_cast<size_t>(v);
        return true;
    }
    if (name == "deviceId") {
        if (!ParseInt(value, INT32_MIN, UINT32_MAX, &v)) return fail("expected a 32-bit number, got");
        WriteU32BE(sim->info + DeviceIdOffset(sim), static_cast<uint32_t>(v));
        return true;
    }
    const FieldDef* f = FindField(name);
    if (f == nullptr) {
        if (error) *error = "unknown field '" + name + "'";
        return false;
    }
    uint8_t* p = sim->info + f->offset;
    switch (f->kind) {
    case FIELD_TEXT: {
        std::string bytes = value;
        if (value.rfind("hex:", 0) == 0 && !ParseHexBytes(value.substr(4), &bytes))
            return fail("bad hex text");
        if (bytes.size() > f->width) return fail("text longer than its field");
        PutText(p, f->width, bytes);
        return true;
    }
    case FIELD_U8:
        if (!ParseInt(value, 0, 255, &v)) return fail("expected 0-255, got");
        p[0] = static_cast<uint8_t>(v);
        return true;
    case FIELD_U16:
        if (!ParseInt(value, 0, 65535, &v)) return fail("expected 0-65535, got");
        WriteU16BE(p, static_cast<uint16_t>(v));
        return true;
    case FIELD_U32:
        if (!ParseInt(value, INT32_MIN, UINT32_MAX, &v)) return fail("expected a 32-bit number, got");
        WriteU32BE(p, static_cast<uint32_t>(v));
        return true;
    case FIELD_IP:
        if (!ParseIp(value, p)) return fail("expected a dotted address, got");
        return true;
    }
    return false;
}

std::string SimGetField(const SimReader* sim, const std::string& name) {
    if (name == "protocolVersion") return std::to_string(sim->protocolVersion);
    if (name == "payloadLength") return std::to_string(sim->infoLength);
    if (name == "deviceId")
        return std::to_string(static_cast<int32_t>(ReadU32BE(sim->info + DeviceIdOffset(sim))));
    const FieldDef* f = FindField(name);
    if (f == nullptr) return "";
    const uint8_t* p = sim->info + f->offset;
    switch (f->kind) {
    case FIELD_TEXT: return PrintableText(p, f->width);
    case FIELD_U8: return std::to_string(p[0]);
    case FIELD_U16: return std::to_string(ReadU16BE(p));
    case FIELD_U32: return std::to_string(static_cast<int32_t>(ReadU32BE(p)));
    case FIELD_IP: return FormatIp(p);
    }
    return "";
}

namespace {
struct FaultName {
    const char* name;
    SimFault fault;
    int arg, arg2;  // defaults
};
const FaultName kFaults[] = {
    {"none", SIM_FAULT_NONE, 0, 0},
    {"silent", SIM_FAULT_SILENT, 0, 0},
    {"bad-crc", SIM_FAULT_BAD_CRC, 0, 0},
    {"crc-low-first", SIM_FAULT_CRC_LOW_FIRST, 0, 0},
    {"garbage", SIM_FAULT_GARBAGE, 5, 100},
    {"split", SIM_FAULT_SPLIT, 3, 20},
    {"double", SIM_FAULT_DOUBLE, 0, 0},
    {"late", SIM_FAULT_LATE, 2500, 0},
    {"never-complete", SIM_FAULT_NEVER_COMPLETE, 700, 0},
    {"oversize", SIM_FAULT_OVERSIZE, 600, 0},
    {"unknown-type", SIM_FAULT_UNKNOWN_TYPE, 7, 0},
    {"hangup", SIM_FAULT_HANG_UP, 2000, 0},
    {"lost", SIM_FAULT_LOST, 0, 0},
};
}  // namespace

std::vector<std::string> SimFaultNames() {
    std::vector<std::string> names;
    for (const FaultName& f : kFaults) names.push_back(f.name);
    return names;
}

bool SimParseFault(const std::string& text, SimFaultPlan* out, std::string* error) {
    std::string mode = text, args;
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        mode = text.substr(0, colon);
        args = text.substr(colon + 1);
    }
    for (const FaultName& f : kFaults) {
        if (mode != f.name) continue;
        SimFaultPlan plan{f.fault, f.arg, f.arg2, -1};
        if (!args.empty()) {
            std::string first = args, second;
            size_t comma = args.find(',');
            if (comma != std::string::npos) {
                first = args.substr(0, comma);
                second = args.substr(comma + 1);
            }
            long long a = 0, b = 0;
            if (!ParseInt(first, -1, 600000, &a) ||
                (!second.empty() && !ParseInt(second, 0, 600000, &b))) {
                if (error) *error = "bad fault argument in '" + text + "'";
                return false;
            }
            plan.arg = static_cast<int>(a);
            if (!second.empty()) plan.arg2 = static_cast<int>(b);
        }
        // Arguments that would make the fault something else.
        bool ok = true;
        if (plan.fault == SIM_FAULT_OVERSIZE) ok = plan.arg > 512 && plan.arg <= 1014;
        if (plan.fault == SIM_FAULT_SPLIT) ok = plan.arg >= 2;
        if (plan.fault == SIM_FAULT_GARBAGE) ok = plan.arg >= 1;
        if (plan.fault == SIM_FAULT_LATE || plan.fault == SIM_FAULT_HANG_UP) ok = plan.arg >= 0;
        if (plan.fault == SIM_FAULT_UNKNOWN_TYPE) ok = plan.arg >= 0 && plan.arg <= 255;
        if (!ok) {
            if (error) *error = "fault argument out of range in '" + text + "'";
            return false;
        }
        *out = plan;
        return true;
    }
    if (error) *error = "unknown fault '" + mode + "'";
    return false;
}

std::vector<SimAction> SimFeed(SimReader* sim, const uint8_t* bytes, size_t count,
                               int64_t nowMs) {
    std::vector<uint8_t>& buf = sim->pending;
    // A frame that stopped growing long ago is given up: drop its first
    // byte and look for a magic further on.
    if (!buf.empty() && count > 0 && nowMs - sim->pendingGrewAt >= SIM_STALE_FRAME_MS) {
        buf.erase(buf.begin());
        ++sim->bytesDiscarded;
    }
    if (count > 0) {
        buf.insert(buf.end(), bytes, bytes + count);
        sim->pendingGrewAt = nowMs;
    }

    std::vector<SimAction> actions;
    for (;;) {
        // Skip to the next possible magic.
        size_t start = 0;
        while (start < buf.size()) {
            size_t have = buf.size() - start;
            size_t cmp = have < 4 ? have : 4;
            if (std::memcmp(buf.data() + start, FRAME_MAGIC, cmp) == 0) break;
            ++start;
        }
        if (start > 0) {
            sim->bytesDiscarded += start;
            buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(start));
        }
        if (buf.size() < FRAME_HEADER_SIZE) break;
        size_t total = FrameTotalLength(buf.data());
        if (total > SIM_MAX_FRAME) {
            buf.erase(buf.begin());
            ++sim->bytesDiscarded;
            continue;
        }
        if (buf.size() < total) break;
        std::vector<SimAction> more = HandleFrame(sim, buf.data(), total, nowMs);
        // Several frames in one feed: each answer starts after the previous one.
        for (SimAction& a : more) actions.push_back(std::move(a));
        buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(total));
    }
    return actions;
}

std::vector<uint8_t> SimInfoReplyFrame(const SimReader* sim) {
    return InfoReply(sim, sim->infoLength, -1);
}

std::vector<uint8_t> SimConfigAckFrame(const SimReader* sim) {
    return BuildFrame(sim->protocolVersion, CMD_CONFIG_ACK, nullptr, 0);
}

std::string SimHex(const uint8_t* bytes, size_t count) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

std::string SimDescribeFrame(const SimReceivedFrame& f) {
    const char* name = f.command == CMD_QUERY_INFO     ? "QUERY_INFO"
                       : f.command == CMD_INFO_REPLY   ? "INFO_REPLY"
                       : f.command == CMD_WRITE_CONFIG ? "WRITE_CONFIG"
                       : f.command == CMD_CONFIG_ACK   ? "CONFIG_ACK"
                                                       : "unknown";
    char head[160];
    std::snprintf(head, sizeof head, "%s (cmd %u) version %u length %u crc %04X %s", name,
                  f.command, f.protocolVersion, f.length, f.crc, f.crcOk ? "ok" : "BAD");
    std::string out = std::string(head) + "\n  hex: " + SimHex(f.raw.data(), f.raw.size());
    if (f.command != CMD_WRITE_CONFIG || !f.crcOk) return out;

    const uint8_t* r = f.raw.data() + FRAME_HEADER_SIZE;
    size_t n = f.raw.size() - FRAME_HEADER_SIZE;
    if (n < CONFIG_RECORD_SHORT) return out + "\n  (record shorter than 93 bytes)";
    char line[512];
    std::snprintf(line, sizeof line,
                  "\n  connectMode=%u deviceName=\"%s\" devicePassword=\"%s\" platformIp=%s "
                  "platformPort=%u\n  dhcpEnabled=%u ipAddress=%s subnetMask=%s gateway=%s "
                  "rs485Baud=%u antenna0Baud=%u antenna1Baud=%u byte87=%u dualAntennaMode=%u",
                  r[CR_CONNECT_MODE], PrintableText(r + CR_DEVICE_NAME, CONFIG_TEXT_FIELD).c_str(),
                  PrintableText(r + CR_DEVICE_PASSWORD, CONFIG_TEXT_FIELD).c_str(),
                  FormatIp(r + CR_PLATFORM_IP).c_str(), ReadU16BE(r + CR_PLATFORM_PORT),
                  r[CR_DHCP_ENABLED], FormatIp(r + CR_IP_ADDRESS).c_str(),
                  FormatIp(r + CR_SUBNET_MASK).c_str(), FormatIp(r + CR_GATEWAY).c_str(),
                  r[CR_RS485_BAUD], r[CR_ANTENNA0_BAUD], r[CR_ANTENNA1_BAUD], r[CR_RESERVED_87],
                  r[CR_DUAL_ANTENNA_MODE]);
    out += line;
    if (n >= CONFIG_RECORD_WIFI) {
        std::snprintf(line, sizeof line, "\n  wifiSsid=\"%s\" wifiPassword=\"%s\" deviceId=%d",
                      PrintableText(r + CR_WIFI_SSID, CONFIG_TEXT_FIELD).c_str(),
                      PrintableText(r + CR_WIFI_PASSWORD, CONFIG_TEXT_FIELD).c_str(),
                      static_cast<int32_t>(ReadU32BE(r + CR_WIFI_DEVICE_ID)));
    } else {
        std::snprintf(line, sizeof line, "\n  deviceId=%d",
                      static_cast<int32_t>(ReadU32BE(r + CR_DEVICE_ID)));
    }
    return out + line;
}
