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

inline AddressField Addr(uint32_t value) { return AddressField{false, value}; }

// A form every chain accepts. Mode 1 unless mode0 is asked for; the name reads as a number too.
inline PageForm ValidForm(bool mode0 = false) {
    return PageForm{mode0 ? 0 : 1, Addr(0xC0A8010A), "502", mode0 ? "12345" : "7reader", "secret", false,
                    Addr(0x0A000005), Addr(0xFFFFFF00), Addr(0x0A000001), {1, 2, 4}, true, "shop-floor", "pass phrase"};
}

// A stored reply of type in mode 1 with a distinct value in every field.
inline DeviceInfoStore StoreFor(int type, int protocolVersion = 2) {
    DeviceInfoStore s;
    std::memset(&s, 0, sizeof s);
    s.deviceType = type;
    s.protocolVersion = protocolVersion;
    s.payloadLength = type == DEVICE_TYPE_WIFI ? 174 : 110;
    uint8_t* p = s.payload;
    std::memcpy(p, "V2.1.7", 6);
    p[DI_DEVICE_TYPE] = static_cast<uint8_t>(type);
    p[DI_CONNECT_MODE] = 1;
    std::memcpy(p + DI_DEVICE_NAME, "gate-3", 6);
    std::memcpy(p + DI_DEVICE_PASSWORD, "\xC3\xDC\xC2\xEB", 4);  // GBK text
    // platform IP and port, DHCP, IP address, mask, gateway, three baud rates
    const uint8_t middle[] = {192, 168, 1, 10, 0x01, 0xF6, 0, 10, 0, 0, 5, 255, 255, 255, 0, 10, 0, 0, 1, 1, 2, 4};
    std::memcpy(p + DI_PLATFORM_IP, middle, sizeof middle);
    if (type == DEVICE_TYPE_WIFI) {
        std::memcpy(p + DI_WIFI_SSID, "\xB0\xEC\xB9\xAB", 4);  // GBK 办公
        std::memcpy(p + DI_WIFI_PASSWORD, "phrase", 6);
    }
    WriteU32BE(p + (type == DEVICE_TYPE_WIFI ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID), type == DEVICE_TYPE_WIFI ? 77 : 42);
    return s;
}

// An expected record: size zero bytes with the given bytes and texts at their offsets.
struct Record {
    Bytes bytes;
    explicit Record(size_t size) : bytes(size, 0) {}
    Record& At(size_t at, std::initializer_list<uint8_t> v) { return Put(at, v.begin(), v.end()); }
    Record& Text(size_t at, const std::string& t) { return Put(at, t.begin(), t.end()); }
    template <class It> Record& Put(size_t at, It from, It to) {
        std::copy(from, to, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return *this;
    }
};

inline Bytes Slice(const Bytes& r, size_t from, size_t count) { return Bytes(r.begin() + from, r.begin() + from + count); }
