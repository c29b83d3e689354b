// ConfigRecord: the payload of CMD_WRITE_CONFIG, built field by field in
// a zeroed 160-byte area. Every field from deviceName on sits 17 bytes
// before its DeviceInfo counterpart; connectMode moves from 17 to 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum ConfigRecordOffset : size_t {
    CR_CONNECT_MODE = 0,
    CR_DEVICE_NAME = 1,
    CR_DEVICE_PASSWORD = 33,
    CR_PLATFORM_IP = 65,
    CR_PLATFORM_PORT = 69,
    CR_DHCP_ENABLED = 71,
    CR_IP_ADDRESS = 72,
    CR_SUBNET_MASK = 76,
    CR_GATEWAY = 80,
    CR_RS485_BAUD = 84,
    CR_ANTENNA0_BAUD = 85,
    CR_ANTENNA1_BAUD = 86,
    CR_RESERVED_87 = 87,
    CR_DUAL_ANTENNA_MODE = 88,
    CR_DEVICE_ID = 89,         // types 1, 2, 52
    CR_WIFI_SSID = 89,         // type 3
    CR_WIFI_PASSWORD = 121,    // type 3
    CR_WIFI_DEVICE_ID = 153,   // type 3
};

constexpr size_t CONFIG_RECORD_AREA = 160;
constexpr size_t CONFIG_RECORD_SHORT = 93;   // types 1, 2, 52
constexpr size_t CONFIG_RECORD_WIFI = 157;   // type 3
constexpr size_t CONFIG_TEXT_FIELD = 32;
constexpr size_t DEVICE_INFO_TO_CONFIG_SHIFT = 17;

// Limits of the texts read from the pages' controls, in GBK bytes.
constexpr size_t SHORT_TEXT_LIMIT = 29;   // names, passwords, the port field
constexpr size_t LONG_TEXT_LIMIT = 31;    // the device ID field, WiFi texts

// Decimal value by atoi rules: leading blanks, an optional sign, digits up
// to the first non-digit; no digits give 0; beyond the signed 32-bit range
// the nearest limit.
int32_t AtoiRules(const std::string& text);

// The first at most maxBytes bytes of a GBK text, never splitting a
// double-byte character (a lead byte 0x81-0xFE and its trail byte).
std::string CutGbk(const std::string& text, size_t maxBytes);

// Copies text into a field of width bytes: stops at the text's NUL and
// fills the rest of the field with NULs. A text as long as the field or
// longer keeps its first width - 1 bytes so the field stays terminated.
void CopyTextField(uint8_t* field, size_t width, const std::string& text);
