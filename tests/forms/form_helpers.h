// Building blocks for the tests of the pages' logic: a filled-in form, a
// stored reply with distinct values, and records written out by offset.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "forms/page_form.h"
#include "protocol/bytes.h"
#include "protocol/device_info.h"

using Bytes = std::vector<uint8_t>;

inline AddressField Addr(uint32_t value) {
    AddressField f;
    f.blank = false;
    f.value = value;
    return f;
}

// A form every chain accepts. Mode 1 unless mode0 is asked for; the name reads as a number too.
inline PageForm ValidForm(bool mode0 = false) {
    PageForm f;
    f.connectModeSelection = mode0 ? 0 : 1;
    f.platformIp = Addr(0xC0A8010A);
    f.platformPort = "502";
    f.nameOrId = mode0 ? "12345" : "7reader";
    f.password = "secret";
    f.ipAddress = Addr(0x0A000005);
    f.subnetMask = Addr(0xFFFFFF00);
    f.gateway = Addr(0x0A000001);
    f.baud[BAUD_RS485] = 1;
    f.baud[BAUD_ANTENNA0] = 2;
    f.baud[BAUD_ANTENNA1] = 4;
    f.dualAntenna = true;
    f.wifiSsid = "shop-floor";
    f.wifiPassword = "pass phrase";
    return f;
}

// A stored reply of type in mode 1 with a distinct value in every field.
inline DeviceInfoStore StoreFor(int type, int protocolVersion = 2) {
    DeviceInfoStore s;
    std::memset(&s, 0, sizeof s);
    s.deviceType = type;
    s.protocolVersion = protocolVersion;
    s.payloadLength = type == DEVICE_TYPE_WIFI ? 174 : 110;
    uint8_t* p = s.payload;
    std::memcpy(p + DI_FIRMWARE_VERSION, "V2.1.7", 6);
    p[DI_DEVICE_TYPE] = static_cast<uint8_t>(type);
    p[DI_CONNECT_MODE] = 1;
    std::memcpy(p + DI_DEVICE_NAME, "gate-3", 6);
    std::memcpy(p + DI_DEVICE_PASSWORD, "\xC3\xDC\xC2\xEB", 4);  // GBK text
    WriteU32BE(p + DI_PLATFORM_IP, 0xC0A8010A);
    WriteU16BE(p + DI_PLATFORM_PORT, 502);
    WriteU32BE(p + DI_IP_ADDRESS, 0x0A000005);
    WriteU32BE(p + DI_SUBNET_MASK, 0xFFFFFF00);
    WriteU32BE(p + DI_GATEWAY, 0x0A000001);
    p[DI_RS485_BAUD] = 1;
    p[DI_ANTENNA0_BAUD] = 2;
    p[DI_ANTENNA1_BAUD] = 4;
    if (type == DEVICE_TYPE_WIFI) {
        std::memcpy(p + DI_WIFI_SSID, "\xB0\xEC\xB9\xAB", 4);  // GBK 办公
        std::memcpy(p + DI_WIFI_PASSWORD, "phrase", 6);
        WriteU32BE(p + DI_WIFI_DEVICE_ID, 77);
    } else {
        WriteU32BE(p + DI_DEVICE_ID, 42);
    }
    return s;
}

// An expected record: size zero bytes with the given bytes and texts at their offsets.
struct Record {
    Bytes bytes;
    explicit Record(size_t size) : bytes(size, 0) {}
    Record& At(size_t offset, std::initializer_list<uint8_t> values) {
        std::copy(values.begin(), values.end(), bytes.begin() + offset);
        return *this;
    }
    Record& Text(size_t offset, const std::string& text) {
        std::copy(text.begin(), text.end(), bytes.begin() + offset);
        return *this;
    }
};

inline Bytes Slice(const Bytes& r, size_t from, size_t count) {
    return Bytes(r.begin() + from, r.begin() + from + count);
}
