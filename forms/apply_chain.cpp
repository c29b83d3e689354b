// The Apply chains of the four device pages. Each check that fails ends
// the chain with its message; nothing of a failed chain is sent.
#include "forms/page_form.h"

#include <cstring>

#include "protocol/bytes.h"
#include "protocol/config_record.h"
#include "protocol/device_info.h"

const char* const MSG_PLATFORM_IP_INVALID = "平台IP格式不对";
const char* const MSG_PLATFORM_PORT_EMPTY = "平台端口不能为空";
const char* const MSG_DEVICE_NAME_EMPTY = "设备名称不能为空";
const char* const MSG_DEVICE_PASSWORD_EMPTY = "设备密码不能为空";
const char* const MSG_IP_INVALID = "IP格式不对";
const char* const MSG_DEVICE_ID_EMPTY = "设备ID不能为空";
const char* const MSG_WIFI_SSID_EMPTY = "WIFI名称不能为空";
const char* const MSG_WIFI_PASSWORD_EMPTY = "WIFI密码不能为空";

const char* const MODE0_DEVICE_NAME = "admin";
const char* const MODE0_DEVICE_PASSWORD = "602417";

namespace {

struct Builder {
    uint8_t area[CONFIG_RECORD_AREA];
    const char* failure;
};

void Fail(Builder* b, const char* message) {
    if (!b->failure) b->failure = message;
}

void PutText(Builder* b, size_t offset, const std::string& text) {
    CopyTextField(b->area + offset, CONFIG_TEXT_FIELD, text);
}

// A text the record needs: as read, cut to limit GBK bytes; empty fails
// with message. Returns false at that failure.
bool PutRequiredText(Builder* b, size_t offset, const std::string& read, size_t limit,
                     const char* message) {
    const std::string text = CutGbk(read, limit);
    if (text.empty()) {
        Fail(b, message);
        return false;
    }
    PutText(b, offset, text);
    return true;
}

// Platform address, port, name and password from the controls (mode 1).
// Returns false at the first failed check.
bool PutPlatformFields(Builder* b, const PageForm& form) {
    if (form.platformIp.blank) {
        Fail(b, MSG_PLATFORM_IP_INVALID);
        return false;
    }
    WriteU32BE(b->area + CR_PLATFORM_IP, form.platformIp.value);

    const std::string port = CutGbk(form.platformPort, SHORT_TEXT_LIMIT);
    if (port.empty()) {
        Fail(b, MSG_PLATFORM_PORT_EMPTY);
        return false;
    }
    WriteU16BE(b->area + CR_PLATFORM_PORT, static_cast<uint16_t>(AtoiRules(port)));

    return PutRequiredText(b, CR_DEVICE_NAME, form.nameOrId, SHORT_TEXT_LIMIT, MSG_DEVICE_NAME_EMPTY) &&
           PutRequiredText(b, CR_DEVICE_PASSWORD, form.password, SHORT_TEXT_LIMIT,
                           MSG_DEVICE_PASSWORD_EMPTY);
}

// The connection section of the pages with a mode combo box: selection 0
// is mode 0; any other result, no selection included, is mode 1.
bool PutConnection(Builder* b, const PageForm& form, bool* mode0) {
    *mode0 = form.connectModeSelection == 0;
    if (*mode0) {
        b->area[CR_CONNECT_MODE] = 0;
        PutText(b, CR_DEVICE_NAME, MODE0_DEVICE_NAME);
        PutText(b, CR_DEVICE_PASSWORD, MODE0_DEVICE_PASSWORD);
        return true;
    }
    b->area[CR_CONNECT_MODE] = 1;
    return PutPlatformFields(b, form);
}

bool PutAddresses(Builder* b, const PageForm& form) {
    const AddressField* fields[3] = {&form.ipAddress, &form.subnetMask, &form.gateway};
    const size_t offsets[3] = {CR_IP_ADDRESS, CR_SUBNET_MASK, CR_GATEWAY};
    for (int i = 0; i < 3; ++i) {
        if (fields[i]->blank) {
            Fail(b, MSG_IP_INVALID);
            return false;
        }
        WriteU32BE(b->area + offsets[i], fields[i]->value);
    }
    return true;
}

// Mode 0 only: the device ID text, at most 31 bytes, by atoi rules.
bool PutDeviceId(Builder* b, const PageForm& form, size_t offset) {
    const std::string id = CutGbk(form.nameOrId, LONG_TEXT_LIMIT);
    if (id.empty()) {
        Fail(b, MSG_DEVICE_ID_EMPTY);
        return false;
    }
    WriteU32BE(b->area + offset, static_cast<uint32_t>(AtoiRules(id)));
    return true;
}

// A selection index as its low byte: no selection (-1) is sent as 255.
uint8_t SelectionByte(int selection) { return static_cast<uint8_t>(selection & 0xFF); }

bool BuildBasic(Builder* b, const PageForm& form) {
    b->area[CR_CONNECT_MODE] = 1;
    if (!PutPlatformFields(b, form)) return false;
    b->area[CR_DHCP_ENABLED] = 0;
    return PutAddresses(b, form);
}

bool BuildDual(Builder* b, const PageForm& form) {
    bool mode0 = false;
    if (!PutConnection(b, form, &mode0)) return false;
    b->area[CR_DHCP_ENABLED] = 0;
    if (!PutAddresses(b, form)) return false;
    b->area[CR_RS485_BAUD] = SelectionByte(form.baud[BAUD_RS485]);
    b->area[CR_ANTENNA0_BAUD] = SelectionByte(form.baud[BAUD_ANTENNA0]);
    b->area[CR_ANTENNA1_BAUD] = SelectionByte(form.baud[BAUD_ANTENNA1]);
    b->area[CR_DUAL_ANTENNA_MODE] = form.dualAntenna ? 1 : 0;
    return !mode0 || PutDeviceId(b, form, CR_DEVICE_ID);
}

bool BuildSingle(Builder* b, const PageForm& form) {
    bool mode0 = false;
    if (!PutConnection(b, form, &mode0)) return false;
    b->area[CR_DHCP_ENABLED] = 0;
    if (!PutAddresses(b, form)) return false;
    // The single antenna uses the antenna port 1 byte.
    b->area[CR_ANTENNA1_BAUD] = SelectionByte(form.baud[BAUD_ANTENNA1]);
    return !mode0 || PutDeviceId(b, form, CR_DEVICE_ID);
}

bool BuildWifi(Builder* b, const PageForm& form) {
    bool mode0 = false;
    if (!PutConnection(b, form, &mode0)) return false;
    if (form.dhcp) {
        b->area[CR_DHCP_ENABLED] = 1;  // addresses stay 0, their controls are not read
    } else {
        b->area[CR_DHCP_ENABLED] = 0;
        if (!PutAddresses(b, form)) return false;
    }
    b->area[CR_ANTENNA0_BAUD] = SelectionByte(form.baud[BAUD_ANTENNA0]);
    b->area[CR_ANTENNA1_BAUD] = SelectionByte(form.baud[BAUD_ANTENNA1]);
    b->area[CR_DUAL_ANTENNA_MODE] = form.dualAntenna ? 1 : 0;

    if (!PutRequiredText(b, CR_WIFI_SSID, form.wifiSsid, LONG_TEXT_LIMIT, MSG_WIFI_SSID_EMPTY) ||
        !PutRequiredText(b, CR_WIFI_PASSWORD, form.wifiPassword, LONG_TEXT_LIMIT, MSG_WIFI_PASSWORD_EMPTY))
        return false;
    return !mode0 || PutDeviceId(b, form, CR_WIFI_DEVICE_ID);
}

}  // namespace

bool HasDevicePage(int deviceType) {
    return deviceType == DEVICE_TYPE_BASIC || deviceType == DEVICE_TYPE_DUAL_ANTENNA ||
           deviceType == DEVICE_TYPE_SINGLE_ANTENNA || deviceType == DEVICE_TYPE_WIFI;
}

ApplyResult RunApplyChain(int deviceType, const PageForm& form) {
    ApplyResult result;
    Builder b;
    std::memset(b.area, 0, sizeof b.area);
    b.failure = nullptr;

    bool built = false;
    size_t length = CONFIG_RECORD_SHORT;
    switch (deviceType) {
    case DEVICE_TYPE_BASIC: built = BuildBasic(&b, form); break;
    case DEVICE_TYPE_DUAL_ANTENNA: built = BuildDual(&b, form); break;
    case DEVICE_TYPE_SINGLE_ANTENNA: built = BuildSingle(&b, form); break;
    case DEVICE_TYPE_WIFI:
        built = BuildWifi(&b, form);
        length = CONFIG_RECORD_WIFI;
        break;
    default: return result;  // no page, no chain: ok false, empty message
    }
    if (!built) {
        result.message = b.failure ? b.failure : "";
        return result;
    }
    result.ok = true;
    result.record.assign(b.area, b.area + length);
    return result;
}
