// What a device page's controls hold, and the Apply chain that turns it
// into a ConfigRecord or into the message of the first failed check.
// Pure logic: no window calls, so the pages, the command-line tool and
// the tests share one implementation.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// An IP address control as read: blank only when all four of its fields
// are empty; a blank field of a partly filled address reads as 0.
struct AddressField {
    bool blank = true;
    uint32_t value = 0;  // first dotted field in the most significant byte
};

// Which record field a baud combo box feeds.
enum BaudField { BAUD_RS485 = 0, BAUD_ANTENNA0 = 1, BAUD_ANTENNA1 = 2, BAUD_FIELD_COUNT = 3 };

// The controls of a device page as read, before any check. Texts are GBK
// bytes as the controls hold them, not yet cut to the record's limits.
// Selections are combo box indexes, -1 for no selection. Controls a page
// does not have keep these defaults and its chain never reads them.
struct PageForm {
    int connectModeSelection = -1;  // 1016
    AddressField platformIp;        // 1022
    std::string platformPort;       // 1023
    std::string nameOrId;           // 1019: device name in mode 1, device ID in mode 0
    std::string password;           // 1020
    bool dhcp = false;              // 1012
    AddressField ipAddress;         // 1009
    AddressField subnetMask;        // 1008
    AddressField gateway;           // 1007
    int baud[BAUD_FIELD_COUNT] = {-1, -1, -1};  // 1027, 1013, 1014 (type 2: 1013 is BAUD_ANTENNA1)
    bool dualAntenna = false;       // 1015
    std::string wifiSsid;           // 1010
    std::string wifiPassword;       // 1011
};

struct ApplyResult {
    bool ok = false;
    // On failure: the message of the first failed check (UTF-8), or an
    // empty text when the device type has no page.
    std::string message;
    // On success: the record to send, 93 bytes (types 1, 2, 52) or 157 (type 3).
    std::vector<uint8_t> record;
};

bool HasDevicePage(int deviceType);

// Runs the Apply checks of the page for deviceType in their order and stops
// at the first failure; otherwise builds the record in a zeroed 160-byte
// area and returns its first 93 or 157 bytes.
ApplyResult RunApplyChain(int deviceType, const PageForm& form);

// The user-visible texts the Apply chains produce.
extern const char* const MSG_PLATFORM_IP_INVALID;     // "平台IP格式不对"
extern const char* const MSG_PLATFORM_PORT_EMPTY;     // "平台端口不能为空"
extern const char* const MSG_DEVICE_NAME_EMPTY;       // "设备名称不能为空"
extern const char* const MSG_DEVICE_PASSWORD_EMPTY;   // "设备密码不能为空"
extern const char* const MSG_IP_INVALID;              // "IP格式不对"
extern const char* const MSG_DEVICE_ID_EMPTY;         // "设备ID不能为空"
extern const char* const MSG_WIFI_SSID_EMPTY;         // "WIFI名称不能为空"
extern const char* const MSG_WIFI_PASSWORD_EMPTY;     // "WIFI密码不能为空"

// Mode 0 writes these instead of the user's name and password.
extern const char* const MODE0_DEVICE_NAME;      // "admin"
extern const char* const MODE0_DEVICE_PASSWORD;  // "602417"
