// DeviceInfo: the payload of CMD_INFO_REPLY, read by byte offset.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum {
    DEVICE_TYPE_DUAL_ANTENNA = 1,
    DEVICE_TYPE_SINGLE_ANTENNA = 2,
    DEVICE_TYPE_WIFI = 3,
    DEVICE_TYPE_BASIC = 52,
};

// Field offsets from the first payload byte.
enum DeviceInfoOffset : size_t {
    DI_FIRMWARE_VERSION = 0,   // 16 bytes of text
    DI_DEVICE_TYPE = 16,
    DI_CONNECT_MODE = 17,
    DI_DEVICE_NAME = 18,       // 32 bytes of text
    DI_DEVICE_PASSWORD = 50,   // 32 bytes of text
    DI_PLATFORM_IP = 82,
    DI_PLATFORM_PORT = 86,
    DI_DHCP_ENABLED = 88,
    DI_IP_ADDRESS = 89,
    DI_SUBNET_MASK = 93,
    DI_GATEWAY = 97,
    DI_RS485_BAUD = 101,
    DI_ANTENNA0_BAUD = 102,
    DI_ANTENNA1_BAUD = 103,
    DI_DUAL_ANTENNA_MODE = 105,
    DI_DEVICE_ID = 106,        // types 1, 2, 52
    DI_WIFI_SSID = 106,        // type 3: 32 bytes of text
    DI_WIFI_PASSWORD = 138,    // type 3: 32 bytes of text
    DI_WIFI_DEVICE_ID = 170,   // type 3
};

constexpr size_t DEVICE_INFO_STORE_SIZE = 512;   // what the program keeps of a reply
constexpr size_t DEVICE_INFO_SHORT_SIZE = 110;   // a reader of type 1, 2 or 52 sends this much
constexpr size_t DEVICE_INFO_WIFI_SIZE = 174;    // a type 3 reader sends this much
constexpr size_t DEVICE_TEXT_FIELD = 32;
constexpr size_t FIRMWARE_VERSION_FIELD = 16;

// The last accepted information reply, as reply handling keeps it.
// portIndex and deviceType lie next to each other: WM_DEVICE_INFO passes
// the address of that pair.
struct DeviceInfoStore {
    int32_t portIndex;
    int32_t deviceType;
    uint8_t payload[DEVICE_INFO_STORE_SIZE];
    int32_t payloadLength;
    int32_t protocolVersion;
    // The port the reply came on, as it was opened ("COM40", a typed name):
    // what the device page reopens. GBK, NUL-terminated; empty when unknown.
    char portName[16];
};

// A text field as stored (GBK bytes): up to the first NUL. A text that
// fills its field without a NUL runs on into the next field, but never
// past the end of the stored record (size bytes at record).
std::string DeviceInfoText(const uint8_t* record, size_t size, size_t offset);

uint8_t DeviceInfoByte(const uint8_t* record, size_t offset);
uint16_t DeviceInfoU16(const uint8_t* record, size_t offset);
uint32_t DeviceInfoU32(const uint8_t* record, size_t offset);
