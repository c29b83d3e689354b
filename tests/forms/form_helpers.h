// Building blocks for the forms tests: a filled-in form per page type and
// readable addresses.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "forms/page_form.h"
#include "protocol/device_info.h"

inline AddressField Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    AddressField f;
    f.blank = false;
    f.value = (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
    return f;
}

// A form every chain accepts. Mode 1 unless mode0 is asked for.
inline PageForm ValidForm(bool mode0 = false) {
    PageForm f;
    f.connectModeSelection = mode0 ? 0 : 1;
    f.platformIp = Addr(192, 168, 1, 10);
    f.platformPort = "502";
    f.nameOrId = mode0 ? "12345" : "reader-7";
    f.password = "secret";
    f.ipAddress = Addr(10, 0, 0, 5);
    f.subnetMask = Addr(255, 255, 255, 0);
    f.gateway = Addr(10, 0, 0, 1);
    f.baud[BAUD_RS485] = 1;
    f.baud[BAUD_ANTENNA0] = 2;
    f.baud[BAUD_ANTENNA1] = 4;
    f.dualAntenna = true;
    f.wifiSsid = "shop-floor";
    f.wifiPassword = "pass phrase";
    return f;
}

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& r, size_t from, size_t count) {
    return std::vector<uint8_t>(r.begin() + from, r.begin() + from + count);
}

// A 32-byte text field as it must appear: the text, then NULs.
inline std::vector<uint8_t> Field32(const std::string& text) {
    std::vector<uint8_t> f(32, 0);
    std::memcpy(f.data(), text.data(), text.size());
    return f;
}

inline DeviceInfoStore EmptyStore() {
    DeviceInfoStore s;
    std::memset(&s, 0, sizeof s);
    return s;
}
