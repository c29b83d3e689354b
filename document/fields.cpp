// Named fields of the reader's settings: documents, --set values, the
// overlay on the reader's values, and the check after a write.
#include "document/fields.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "document/text_codec.h"
#include "protocol/bytes.h"
#include "protocol/config_record.h"

using Json = nlohmann::ordered_json;

namespace {

const FieldDef FIELDS[FIELD_COUNT] = {
    {F_CONNECT_MODE, "connectMode", KIND_CONNECT_MODE, 0, false},
    {F_DEVICE_NAME, "deviceName", KIND_TEXT, SHORT_TEXT_LIMIT, false},
    {F_DEVICE_PASSWORD, "devicePassword", KIND_TEXT, SHORT_TEXT_LIMIT, true},
    {F_PLATFORM_IP, "platformIp", KIND_ADDRESS, 0, false},
    {F_PLATFORM_PORT, "platformPort", KIND_PORT, 0, false},
    {F_DHCP_ENABLED, "dhcpEnabled", KIND_FLAG, 0, false},
    {F_IP_ADDRESS, "ipAddress", KIND_ADDRESS, 0, false},
    {F_SUBNET_MASK, "subnetMask", KIND_ADDRESS, 0, false},
    {F_GATEWAY, "gateway", KIND_ADDRESS, 0, false},
    {F_RS485_BAUD, "rs485Baud", KIND_BAUD, 0, false},
    {F_ANTENNA0_BAUD, "antenna0Baud", KIND_BAUD, 0, false},
    {F_ANTENNA1_BAUD, "antenna1Baud", KIND_BAUD, 0, false},
    {F_DUAL_ANTENNA_MODE, "dualAntennaMode", KIND_FLAG, 0, false},
    {F_DEVICE_ID, "deviceId", KIND_DEVICE_ID, 0, false},
    {F_WIFI_SSID, "wifiSsid", KIND_TEXT, LONG_TEXT_LIMIT, false},
    {F_WIFI_PASSWORD, "wifiPassword", KIND_TEXT, LONG_TEXT_LIMIT, true},
};

// The baud rates of BaudList, by index.
const int BAUD_RATES[BAUD_LIST_SIZE] = {9600, 19200, 38400, 57600, 115200};

// The field that feeds each baud combo box of PageForm.
const FieldId BAUD_FIELDS[BAUD_FIELD_COUNT] = {F_RS485_BAUD, F_ANTENNA0_BAUD, F_ANTENNA1_BAUD};

uint32_t Bit(FieldId id) { return 1u << id; }

uint32_t FieldsOfType(int deviceType) {
    const uint32_t common = Bit(F_DEVICE_NAME) | Bit(F_DEVICE_PASSWORD) | Bit(F_PLATFORM_IP) |
                            Bit(F_PLATFORM_PORT) | Bit(F_IP_ADDRESS) | Bit(F_SUBNET_MASK) |
                            Bit(F_GATEWAY);
    const uint32_t connection = Bit(F_CONNECT_MODE) | Bit(F_DEVICE_ID);
    switch (deviceType) {
    case DEVICE_TYPE_BASIC: return common;
    case DEVICE_TYPE_DUAL_ANTENNA:
        return common | connection | Bit(F_RS485_BAUD) | Bit(F_ANTENNA0_BAUD) |
               Bit(F_ANTENNA1_BAUD) | Bit(F_DUAL_ANTENNA_MODE);
    case DEVICE_TYPE_SINGLE_ANTENNA: return common | connection | Bit(F_ANTENNA1_BAUD);
    case DEVICE_TYPE_WIFI:
        return common | connection | Bit(F_DHCP_ENABLED) | Bit(F_ANTENNA0_BAUD) |
               Bit(F_ANTENNA1_BAUD) | Bit(F_DUAL_ANTENNA_MODE) | Bit(F_WIFI_SSID) |
               Bit(F_WIFI_PASSWORD);
    default: return 0;
    }
}

// Offset of a field in the DeviceInfo payload; every field but
// connectMode sits 17 bytes later than in the ConfigRecord.
size_t RecordOffset(FieldId id, int deviceType) {
    switch (id) {
    case F_CONNECT_MODE: return CR_CONNECT_MODE;
    case F_DEVICE_NAME: return CR_DEVICE_NAME;
    case F_DEVICE_PASSWORD: return CR_DEVICE_PASSWORD;
    case F_PLATFORM_IP: return CR_PLATFORM_IP;
    case F_PLATFORM_PORT: return CR_PLATFORM_PORT;
    case F_DHCP_ENABLED: return CR_DHCP_ENABLED;
    case F_IP_ADDRESS: return CR_IP_ADDRESS;
    case F_SUBNET_MASK: return CR_SUBNET_MASK;
    case F_GATEWAY: return CR_GATEWAY;
    case F_RS485_BAUD: return CR_RS485_BAUD;
    case F_ANTENNA0_BAUD: return CR_ANTENNA0_BAUD;
    case F_ANTENNA1_BAUD: return CR_ANTENNA1_BAUD;
    case F_DUAL_ANTENNA_MODE: return CR_DUAL_ANTENNA_MODE;
    case F_DEVICE_ID: return deviceType == DEVICE_TYPE_WIFI ? CR_WIFI_DEVICE_ID : CR_DEVICE_ID;
    case F_WIFI_SSID: return CR_WIFI_SSID;
    case F_WIFI_PASSWORD: return CR_WIFI_PASSWORD;
    default: return 0;
    }
}

size_t InfoOffset(FieldId id, int deviceType) {
    if (id == F_CONNECT_MODE) return DI_CONNECT_MODE;
    return RecordOffset(id, deviceType) + DEVICE_INFO_TO_CONFIG_SHIFT;
}

size_t FieldWidth(FieldKind kind) {
    switch (kind) {
    case KIND_TEXT: return CONFIG_TEXT_FIELD;
    case KIND_ADDRESS:
    case KIND_DEVICE_ID: return 4;
    case KIND_PORT: return 2;
    default: return 1;
    }
}

std::string Decimal(long long value) { return std::to_string(value); }

std::string BaudText(int index) {
    if (index >= 0 && index < BAUD_LIST_SIZE) return BAUD_LIST[index];
    return "(none)";
}

// A field's value from its bytes in a record or a DeviceInfo payload, as
// one canonical text (texts up to their NUL, never past the field).
std::string DecodeField(const FieldDef& def, const uint8_t* p) {
    switch (def.kind) {
    case KIND_TEXT: {
        size_t n = 0;
        while (n < CONFIG_TEXT_FIELD && p[n] != 0) ++n;
        return "\"" + GbkForDisplay(std::string(reinterpret_cast<const char*>(p), n)) + "\"";
    }
    case KIND_ADDRESS: return DottedAddress(ReadU32BE(p));
    case KIND_PORT: return Decimal(ReadU16BE(p));
    case KIND_FLAG: return p[0] != 0 ? "true" : "false";
    case KIND_BAUD: return p[0] < BAUD_LIST_SIZE ? Decimal(BAUD_RATES[p[0]]) : "index " + Decimal(p[0]);
    case KIND_DEVICE_ID: return Decimal(static_cast<int32_t>(ReadU32BE(p)));
    case KIND_CONNECT_MODE: return Decimal(p[0]);
    }
    return "";
}

std::string DescribeFields(int deviceType, const uint8_t* bytes, size_t count, bool record) {
    std::string out;
    for (const FieldDef& def : FIELDS) {
        if (!TypeHasField(deviceType, def.id)) continue;
        const size_t offset = record ? RecordOffset(def.id, deviceType) : InfoOffset(def.id, deviceType);
        if (offset + FieldWidth(def.kind) > count) continue;
        out += " ";
        out += def.name;
        out += "=";
        out += DecodeField(def, bytes + offset);
    }
    return out;
}

Json TextJson(const std::string& gbk) {
    std::string utf8;
    if (GbkToUtf8(gbk, &utf8)) return utf8;
    // Bytes that are no GBK text survive a round trip as hex.
    return Json{{"hex", HexBytes(reinterpret_cast<const unsigned char*>(gbk.data()), gbk.size(), "")}};
}

bool Fail(InputError* error, int code, const std::string& message) {
    error->exitCode = code;
    error->message = message;
    return false;
}

// A text from the input, as a JSON string: quoted, with line breaks and
// other control characters escaped, so that a message stays one line and
// puts nothing raw on the terminal.
std::string Quoted(const std::string& text) {
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string KindHint(FieldKind kind) {
    switch (kind) {
    case KIND_CONNECT_MODE: return "0 (wait for the platform) or 1 (connect to the platform)";
    case KIND_TEXT: return "a text";
    case KIND_ADDRESS: return "an address \"a.b.c.d\" (\"\" for none)";
    case KIND_PORT: return "a port number 0-65535";
    case KIND_FLAG: return "true or false";
    case KIND_BAUD: return "one of 9600, 19200, 38400, 57600, 115200";
    case KIND_DEVICE_ID: return "a signed 32-bit number";
    }
    return "";
}

bool ParseHex(const std::string& hex, std::string* out) {
    if (hex.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string two = hex.substr(i, 2);
        const long v = std::strtol(two.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(two[0]))) return false;
        out->push_back(static_cast<char>(v));
    }
    return true;
}

// Checks value against the kind of def and stores it in *out.
bool ParseValue(const FieldDef& def, const Json& value, const std::string& where, FieldValue* out,
                InputError* error) {
    const std::string wrongKind = where + ": " + def.name + " must be " + KindHint(def.kind);
    FieldValue v;
    v.present = true;
    switch (def.kind) {
    case KIND_CONNECT_MODE:
    case KIND_BAUD:
        if (value.is_null()) {
            v.none = true;
            break;
        }
        if (!value.is_number_integer()) return Fail(error, INPUT_MALFORMED, wrongKind);
        if (def.kind == KIND_CONNECT_MODE) {
            v.number = value.get<int64_t>();
            if (v.number != 0 && v.number != 1) return Fail(error, INPUT_REFUSED, wrongKind);
        } else {
            v.number = -1;
            for (int i = 0; i < BAUD_LIST_SIZE; ++i)
                if (value.get<int64_t>() == BAUD_RATES[i]) v.number = i;
            if (v.number < 0) return Fail(error, INPUT_REFUSED, wrongKind);
        }
        break;
    case KIND_TEXT: {
        if (value.is_object() && value.size() == 1 && value.contains("hex") && value["hex"].is_string()) {
            if (!ParseHex(value["hex"].get<std::string>(), &v.text))
                return Fail(error, INPUT_MALFORMED, where + ": " + def.name + ": \"hex\" needs pairs of hex digits");
        } else if (value.is_string()) {
            if (!Utf8ToGbk(value.get<std::string>(), &v.text))
                return Fail(error, INPUT_REFUSED,
                            where + ": " + def.name + " holds characters the reader cannot store (GBK)");
        } else {
            return Fail(error, INPUT_MALFORMED, wrongKind);
        }
        if (v.text.find('\0') != std::string::npos)
            return Fail(error, INPUT_REFUSED, where + ": " + def.name + " must not contain a NUL");
        if (v.text.size() > def.textLimit)
            return Fail(error, INPUT_REFUSED,
                        where + ": " + def.name + " is " + Decimal(v.text.size()) +
                            " bytes in GBK; the reader takes at most " + Decimal(def.textLimit));
        break;
    }
    case KIND_ADDRESS: {
        if (!value.is_string()) return Fail(error, INPUT_MALFORMED, wrongKind);
        const std::string text = value.get<std::string>();
        if (text.empty()) {
            v.addressBlank = true;
        } else if (!ParseDottedAddress(text, &v.address)) {
            return Fail(error, INPUT_MALFORMED, wrongKind + ", not " + Quoted(text));
        }
        break;
    }
    case KIND_PORT:
        if (!value.is_number_integer()) return Fail(error, INPUT_MALFORMED, wrongKind);
        if (value.is_number_unsigned() ? value.get<uint64_t>() > 65535
                                       : (value.get<int64_t>() < 0 || value.get<int64_t>() > 65535))
            return Fail(error, INPUT_REFUSED, wrongKind);
        v.number = value.get<int64_t>();
        break;
    case KIND_FLAG:
        if (!value.is_boolean()) return Fail(error, INPUT_MALFORMED, wrongKind);
        v.flag = value.get<bool>();
        break;
    case KIND_DEVICE_ID:
        if (!value.is_number_integer()) return Fail(error, INPUT_MALFORMED, wrongKind);
        if (value.is_number_unsigned() ? value.get<uint64_t>() > INT32_MAX
                                       : (value.get<int64_t>() < INT32_MIN || value.get<int64_t>() > INT32_MAX))
            return Fail(error, INPUT_REFUSED, wrongKind);
        v.number = value.get<int64_t>();
        break;
    }
    *out = v;
    return true;
}

void Remember(Overlay* overlay, FieldId id, const FieldValue& value) {
    if (!overlay->values[id].present) overlay->order.push_back(id);
    overlay->values[id] = value;
}

// A whole decimal number, nothing else; false when it is none or too big.
bool StrictInteger(const std::string& text, long long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    *out = v;
    return true;
}

}  // namespace

const FieldDef& FieldDefinition(FieldId id) { return FIELDS[id]; }

FieldId FieldByName(const std::string& name) {
    for (const FieldDef& def : FIELDS)
        if (name == def.name) return def.id;
    return FIELD_COUNT;
}

bool TypeHasField(int deviceType, FieldId id) {
    return id < FIELD_COUNT && (FieldsOfType(deviceType) & Bit(id)) != 0;
}

std::string FieldNamesOfType(int deviceType) {
    std::string names;
    for (const FieldDef& def : FIELDS) {
        if (!TypeHasField(deviceType, def.id)) continue;
        if (!names.empty()) names += ", ";
        names += def.name;
    }
    return names;
}

const char* DeviceTypeName(int deviceType) {
    switch (deviceType) {
    case DEVICE_TYPE_DUAL_ANTENNA: return "dual-antenna reader";
    case DEVICE_TYPE_SINGLE_ANTENNA: return "single-antenna reader";
    case DEVICE_TYPE_WIFI: return "WiFi reader";
    case DEVICE_TYPE_BASIC: return "basic reader";
    default: return "unknown device type";
    }
}

std::string DottedAddress(uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

bool ParseDottedAddress(const std::string& text, uint32_t* address) {
    uint32_t value = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t digits = 0;
        unsigned number = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            number = number * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || number > 255) return false;
        value = (value << 8) | number;
    }
    if (pos != text.size()) return false;
    *address = value;
    return true;
}

bool ParseJsonText(const std::string& text, Json* out, std::string* why, size_t* byte) {
    if (byte != nullptr) *byte = 0;
    try {
        *out = Json::parse(text);
        return true;
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, ..." without the tag.
        *why = e.what();
        const size_t tag = why->find("] ");
        if (tag != std::string::npos) *why = why->substr(tag + 2);
        if (const auto* parse = dynamic_cast<const Json::parse_error*>(&e)) {
            if (byte != nullptr) *byte = parse->byte;
            return false;
        }
        // A number too large for any type ("1E400") is refused without a
        // place: give the line and column of the number it quotes.
        const size_t quote = why->find(" parsing '");
        if (e.id == 406 && quote != std::string::npos && why->back() == '\'') {
            const size_t at = text.find(why->substr(quote + 10, why->size() - quote - 11));
            if (at != std::string::npos) {
                const size_t lineStart = text.rfind('\n', at);
                *why = "at line " + Decimal(1 + std::count(text.begin(), text.begin() + at, '\n')) + ", column " +
                       Decimal(lineStart == std::string::npos ? at + 1 : at - lineStart) + ": " + *why;
                if (byte != nullptr) *byte = at + 1;
            }
        }
        return false;
    }
}

bool ParseDocument(const std::string& text, const std::string& source, Overlay* out, InputError* error) {
    Json doc;
    std::string why;
    if (!ParseJsonText(text, &doc, &why, nullptr))
        return Fail(error, INPUT_MALFORMED, source + ": not valid JSON: " + why);
    if (!doc.is_object()) return Fail(error, INPUT_MALFORMED, source + ": expected a JSON object");
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const std::string& key = it.key();
        if (key != "formatVersion" && key != "deviceType" && key != "fields" &&
            key != "firmwareVersion" && key != "protocolVersion")
            return Fail(error, INPUT_MALFORMED,
                        source + ": unknown key " + Quoted(key) +
                            " (expected formatVersion, deviceType, fields, firmwareVersion, protocolVersion)");
    }
    if (!doc.contains("formatVersion") || !doc["formatVersion"].is_number_integer())
        return Fail(error, INPUT_MALFORMED, source + ": formatVersion missing or not a number");
    if (doc["formatVersion"].get<int64_t>() != CONFIG_FORMAT_VERSION)
        return Fail(error, INPUT_MALFORMED,
                    source + ": formatVersion " + doc["formatVersion"].dump() + " is not supported (this tool reads " +
                        Decimal(CONFIG_FORMAT_VERSION) + ")");
    if (!doc.contains("deviceType") || !doc["deviceType"].is_number_integer())
        return Fail(error, INPUT_MALFORMED, source + ": deviceType missing or not a number");
    const int64_t type = doc["deviceType"].get<int64_t>();
    if (!HasDevicePage(static_cast<int>(type)) || type != static_cast<int>(type))
        return Fail(error, INPUT_MALFORMED,
                    source + ": deviceType " + Decimal(type) + " is not a reader type (1, 2, 3 or 52)");
    if (!doc.contains("fields") || !doc["fields"].is_object())
        return Fail(error, INPUT_MALFORMED, source + ": \"fields\" missing or not an object");

    Overlay result;
    result.deviceType = static_cast<int>(type);
    const Json& fields = doc["fields"];
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const FieldId id = FieldByName(it.key());
        if (id == FIELD_COUNT)
            return Fail(error, INPUT_MALFORMED, source + ": unknown field " + Quoted(it.key()));
        if (!TypeHasField(result.deviceType, id))
            return Fail(error, INPUT_MALFORMED,
                        source + ": a " + DeviceTypeName(result.deviceType) + " (type " + Decimal(type) +
                            ") has no field " + it.key() + "; its fields: " + FieldNamesOfType(result.deviceType));
        FieldValue value;
        if (!ParseValue(FIELDS[id], it.value(), source, &value, error)) return false;
        Remember(&result, id, value);
    }
    *out = result;
    return true;
}

bool ParseFieldText(FieldId id, const std::string& text, const std::string& where, FieldValue* out,
                    InputError* error) {
    const FieldDef& def = FIELDS[id];
    // The text as the JSON value of the field's kind.
    Json value;
    long long number = 0;
    switch (def.kind) {
    case KIND_TEXT:
    case KIND_ADDRESS: value = text; break;
    case KIND_FLAG:
        if (text == "true" || text == "1" || text == "yes" || text == "on") value = true;
        else if (text == "false" || text == "0" || text == "no" || text == "off") value = false;
        else return Fail(error, INPUT_MALFORMED, where + ": " + def.name + " must be " + KindHint(def.kind));
        break;
    default:
        if (!StrictInteger(text, &number))
            return Fail(error, INPUT_MALFORMED,
                        where + ": " + def.name + " must be " + KindHint(def.kind) + ", not " + Quoted(text));
        value = static_cast<int64_t>(number);
        break;
    }
    return ParseValue(def, value, where, out, error);
}

bool ParseSetting(const std::string& assignment, Overlay* out, InputError* error) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0)
        return Fail(error, INPUT_MALFORMED, "--set " + Quoted(assignment) + ": expected NAME=VALUE");
    const std::string name = assignment.substr(0, eq);
    const FieldId id = FieldByName(name);
    if (id == FIELD_COUNT) return Fail(error, INPUT_MALFORMED, "--set: unknown field " + Quoted(name));
    FieldValue parsed;
    if (!ParseFieldText(id, assignment.substr(eq + 1), "--set", &parsed, error)) return false;
    parsed.fromCommandLine = true;
    // A refused value leaves the overlay as it was.
    Overlay next = *out;
    Remember(&next, id, parsed);
    if (!CheckFieldsForType(next, next.deviceType, error)) return false;
    *out = next;
    return true;
}

void LayerOverlay(Overlay* under, const Overlay& over) {
    for (FieldId id : over.order) Remember(under, id, over.values[id]);
}

Json OverlayFields(const Overlay& overlay) {
    Json fields = Json::object();
    for (FieldId id : overlay.order) {
        const FieldValue& v = overlay.values[id];
        Json& out = fields[FIELDS[id].name];
        if (v.none) continue;  // stays null
        switch (FIELDS[id].kind) {
        case KIND_TEXT: out = TextJson(v.text); break;
        case KIND_ADDRESS: out = v.addressBlank ? std::string() : DottedAddress(v.address); break;
        case KIND_FLAG: out = v.flag; break;
        case KIND_BAUD: out = BAUD_RATES[v.number]; break;
        default: out = v.number; break;
        }
    }
    return fields;
}

bool CheckFieldsForType(const Overlay& overlay, int deviceType, InputError* error) {
    if (deviceType < 0) return true;  // not known yet: checked once the reader has answered
    for (FieldId id : overlay.order) {
        if (TypeHasField(deviceType, id)) continue;
        return Fail(error, INPUT_MALFORMED,
                    std::string("a ") + DeviceTypeName(deviceType) + " (type " + Decimal(deviceType) +
                        ") has no field " + FIELDS[id].name + "; its fields: " + FieldNamesOfType(deviceType));
    }
    return true;
}

PageForm FormWithOverlay(int deviceType, const PageView& view, const Overlay& overlay) {
    const FieldValue* given = overlay.values;
    auto text = [&](FieldId id, const std::string& stored) {
        return given[id].present ? given[id].text : stored;
    };
    auto address = [&](FieldId id, uint32_t stored) {
        AddressField field;
        // A control filled from the reader is never blank.
        field.blank = given[id].present && given[id].addressBlank;
        field.value = given[id].present ? given[id].address : stored;
        return field;
    };
    auto selection = [&](FieldId id, int stored) {
        if (!given[id].present) return stored;
        return given[id].none ? -1 : static_cast<int>(given[id].number);
    };

    PageForm form;
    const bool hasMode = TypeHasField(deviceType, F_CONNECT_MODE);
    form.connectModeSelection = hasMode ? selection(F_CONNECT_MODE, view.connectModeSelection) : -1;
    form.platformIp = address(F_PLATFORM_IP, view.platformIp);
    form.platformPort = given[F_PLATFORM_PORT].present ? Decimal(given[F_PLATFORM_PORT].number)
                                                      : view.platformPortText;
    form.password = text(F_DEVICE_PASSWORD, view.devicePassword);
    if (hasMode && form.connectModeSelection == 0) {
        // The page shows the device ID in 1019: the one of initialisation
        // when the reader is in mode 0 already, the stored one after a switch.
        const std::string stored =
            view.connectModeSelection == 0 ? view.deviceIdAtInit : view.deviceIdOnSwitch;
        form.nameOrId = given[F_DEVICE_ID].present ? Decimal(given[F_DEVICE_ID].number) : stored;
    } else {
        form.nameOrId = text(F_DEVICE_NAME, view.deviceName);
    }
    form.dhcp = given[F_DHCP_ENABLED].present ? given[F_DHCP_ENABLED].flag : view.dhcp;
    form.ipAddress = address(F_IP_ADDRESS, view.ipAddress);
    form.subnetMask = address(F_SUBNET_MASK, view.subnetMask);
    form.gateway = address(F_GATEWAY, view.gateway);
    for (int b = 0; b < BAUD_FIELD_COUNT; ++b)
        form.baud[b] = selection(BAUD_FIELDS[b], view.baudSelection[b]);
    form.dualAntenna =
        given[F_DUAL_ANTENNA_MODE].present ? given[F_DUAL_ANTENNA_MODE].flag : view.dualAntenna;
    form.wifiSsid = text(F_WIFI_SSID, view.wifiSsid);
    form.wifiPassword = text(F_WIFI_PASSWORD, view.wifiPassword);
    return form;
}

std::string IgnoredSetting(int deviceType, const PageForm& form, const Overlay& overlay) {
    const bool hasMode = TypeHasField(deviceType, F_CONNECT_MODE);
    const bool mode0 = hasMode && form.connectModeSelection == 0;
    const bool dhcp = deviceType == DEVICE_TYPE_WIFI && form.dhcp;
    for (FieldId id : overlay.order) {
        const FieldValue& v = overlay.values[id];
        if (!v.fromCommandLine && !v.fromPlan) continue;
        const char* why = nullptr;
        const char* fix = nullptr;
        switch (id) {
        case F_DEVICE_NAME:
        case F_DEVICE_PASSWORD:
        case F_PLATFORM_IP:
        case F_PLATFORM_PORT:
            if (mode0) why = "is not written in connection mode 0 (the reader is known by its deviceId)", fix = "connectMode=1";
            break;
        case F_DEVICE_ID:
            if (hasMode && !mode0) why = "is written only in connection mode 0", fix = "connectMode=0";
            break;
        case F_IP_ADDRESS:
        case F_SUBNET_MASK:
        case F_GATEWAY:
            if (dhcp) why = "is not written while dhcpEnabled is true", fix = "dhcpEnabled=false";
            break;
        default: break;
        }
        if (why == nullptr) continue;
        if (v.fromCommandLine) return std::string("--set ") + FIELDS[id].name + " " + why + "; add --set " + fix;
        return std::string(FIELDS[id].name) + " " + why + "; the plan or --base must give " + fix;
    }
    return "";
}

std::string MissingSelection(int deviceType, const PageForm& form) {
    if (TypeHasField(deviceType, F_CONNECT_MODE) && form.connectModeSelection < 0)
        return "connectMode: the reader reports no valid connection mode; give 0 or 1";
    for (int b = 0; b < BAUD_FIELD_COUNT; ++b) {
        if (!TypeHasField(deviceType, BAUD_FIELDS[b]) || form.baud[b] >= 0) continue;
        return std::string(FIELDS[BAUD_FIELDS[b]].name) +
               ": the reader reports no valid baud rate; give one of 9600, 19200, 38400, 57600, 115200";
    }
    return "";
}

Json FieldsFromStore(const DeviceInfoStore& store) {
    const int type = store.deviceType;
    const PageView view = ViewForPage(type, store);
    Json fields = Json::object();
    for (const FieldDef& def : FIELDS) {
        if (!TypeHasField(type, def.id)) continue;
        Json& out = fields[def.name];
        switch (def.id) {
        case F_CONNECT_MODE:
            out = view.connectModeSelection < 0 ? Json() : Json(view.connectModeSelection);
            break;
        case F_DEVICE_NAME: out = TextJson(view.deviceName); break;
        case F_DEVICE_PASSWORD: out = TextJson(view.devicePassword); break;
        case F_PLATFORM_IP: out = DottedAddress(view.platformIp); break;
        case F_PLATFORM_PORT: out = std::atoi(view.platformPortText.c_str()); break;
        case F_DHCP_ENABLED: out = view.dhcp; break;
        case F_IP_ADDRESS: out = DottedAddress(view.ipAddress); break;
        case F_SUBNET_MASK: out = DottedAddress(view.subnetMask); break;
        case F_GATEWAY: out = DottedAddress(view.gateway); break;
        case F_RS485_BAUD:
        case F_ANTENNA0_BAUD:
        case F_ANTENNA1_BAUD: {
            const int sel = view.baudSelection[def.id - F_RS485_BAUD];
            out = sel < 0 ? Json() : Json(BAUD_RATES[sel]);
            break;
        }
        case F_DUAL_ANTENNA_MODE: out = view.dualAntenna; break;
        case F_DEVICE_ID: out = AtoiRules(view.deviceIdAtInit); break;
        case F_WIFI_SSID: out = TextJson(view.wifiSsid); break;
        case F_WIFI_PASSWORD: out = TextJson(view.wifiPassword); break;
        default: break;
        }
    }
    return fields;
}

bool RecordCarriesField(int deviceType, FieldId id, bool mode0, bool dhcp) {
    switch (id) {
    case F_DEVICE_NAME:
    case F_DEVICE_PASSWORD:
    case F_PLATFORM_IP:
    case F_PLATFORM_PORT: return !mode0;
    case F_DEVICE_ID: return mode0 && TypeHasField(deviceType, F_CONNECT_MODE);
    case F_IP_ADDRESS:
    case F_SUBNET_MASK:
    case F_GATEWAY: return !dhcp;
    default: return true;
    }
}

Json DocumentFromRecord(const DeviceInfoStore& store, const std::vector<uint8_t>& record) {
    const int type = store.deviceType;
    const bool mode0 = TypeHasField(type, F_CONNECT_MODE) && record.size() > CR_CONNECT_MODE &&
                       record[CR_CONNECT_MODE] == 0;
    const bool dhcp = type == DEVICE_TYPE_WIFI && record.size() > CR_DHCP_ENABLED && record[CR_DHCP_ENABLED] != 0;
    // The reader as it would report itself after the write, for the fields
    // the page shows.
    DeviceInfoStore shown = store;
    for (const FieldDef& def : FIELDS) {
        if (!TypeHasField(type, def.id) || !RecordCarriesField(type, def.id, mode0, dhcp)) continue;
        const size_t from = RecordOffset(def.id, type), to = InfoOffset(def.id, type), width = FieldWidth(def.kind);
        if (from + width <= record.size() && to + width <= sizeof shown.payload)
            std::memcpy(shown.payload + to, record.data() + from, width);
    }
    Json doc = DocumentFromStore(shown);
    // The page shows the typed device ID even where the reader's protocol
    // version makes initialisation show 0.
    if (RecordCarriesField(type, F_DEVICE_ID, mode0, dhcp) && TypeHasField(type, F_DEVICE_ID)) {
        const size_t from = RecordOffset(F_DEVICE_ID, type);
        if (from + 4 <= record.size()) doc["fields"]["deviceId"] = static_cast<int32_t>(ReadU32BE(record.data() + from));
    }
    return doc;
}

std::string DocumentText(const Json& document) { return document.dump(2) + "\n"; }

std::string SuggestedFileName(const Json& document) {
    const Json none;
    const Json& fields = document.contains("fields") ? document["fields"] : none;
    std::string name;
    if (fields.is_object() && fields.contains("deviceName") && fields["deviceName"].is_string())
        name = fields["deviceName"].get<std::string>();
    if (name.empty() && document.contains("deviceType") && document["deviceType"].is_number_integer())
        name = "type" + Decimal(document["deviceType"].get<int64_t>());
    if (fields.is_object() && fields.contains("ipAddress") && fields["ipAddress"].is_string())
        name += "_" + fields["ipAddress"].get<std::string>();
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) c = '_';
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    return (name.empty() ? std::string("tavrolin") : name) + ".json";
}

Json DocumentFromStore(const DeviceInfoStore& store) {
    const PageView view = ViewForPage(store.deviceType, store);
    Json doc = Json::object();
    doc["formatVersion"] = CONFIG_FORMAT_VERSION;
    doc["deviceType"] = store.deviceType;
    doc["firmwareVersion"] = TextJson(view.firmwareVersion);
    doc["protocolVersion"] = store.protocolVersion;
    doc["fields"] = FieldsFromStore(store);
    return doc;
}

std::vector<std::pair<std::string, std::string>> DescribeStore(const DeviceInfoStore& store) {
    const int type = store.deviceType;
    const PageView view = ViewForPage(type, store);
    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&](const char* name, const std::string& value) { lines.emplace_back(name, value); };

    add("deviceType", Decimal(type) + " (" + DeviceTypeName(type) + ")");
    add("firmwareVersion", GbkForDisplay(view.firmwareVersion));
    add("protocolVersion", Decimal(store.protocolVersion));
    if (!HasDevicePage(type)) return lines;

    if (type == DEVICE_TYPE_WIFI) add("dhcpEnabled", view.dhcp ? "yes" : "no");
    add("ipAddress", DottedAddress(view.ipAddress));
    // With DHCP on, the page leaves the mask and the gateway empty.
    if (!view.dhcp) {
        add("subnetMask", DottedAddress(view.subnetMask));
        add("gateway", DottedAddress(view.gateway));
    }
    if (type == DEVICE_TYPE_WIFI) {
        add("wifiSsid", GbkForDisplay(view.wifiSsid));
        add("wifiPassword", GbkForDisplay(view.wifiPassword));
    }
    for (int b = 0; b < BAUD_FIELD_COUNT; ++b) {
        if (!TypeHasField(type, BAUD_FIELDS[b])) continue;
        add(FIELDS[BAUD_FIELDS[b]].name, BaudText(view.baudSelection[b]));
    }
    if (TypeHasField(type, F_DUAL_ANTENNA_MODE)) add("dualAntennaMode", view.dualAntenna ? "yes" : "no");
    if (TypeHasField(type, F_CONNECT_MODE)) {
        const int mode = view.connectModeSelection;
        add("connectMode", mode < 0 ? "(none; stored " + Decimal(DeviceInfoByte(store.payload, DI_CONNECT_MODE)) + ")"
                                    : Decimal(mode) + " " + CONNECT_MODE_LIST[mode]);
    }
    if (view.showPlatformControls) {
        add("deviceName", GbkForDisplay(view.deviceName));
        add("devicePassword", GbkForDisplay(view.devicePassword));
        add("platformIp", DottedAddress(view.platformIp));
        add("platformPort", view.platformPortText);
    } else {
        add("deviceId", view.deviceIdAtInit);
    }
    return lines;
}

std::string DescribeInfoPayload(const uint8_t* payload, size_t count) {
    if (count <= DI_DEVICE_TYPE) return " (short record)";
    const int type = payload[DI_DEVICE_TYPE];
    size_t n = 0;
    while (n < FIRMWARE_VERSION_FIELD && payload[n] != 0) ++n;
    return " deviceType=" + Decimal(type) + " firmwareVersion=\"" +
           GbkForDisplay(std::string(reinterpret_cast<const char*>(payload), n)) + "\"" +
           DescribeFields(type, payload, count, false);
}

std::string DescribeRecord(int deviceType, const uint8_t* record, size_t count) {
    return DescribeFields(deviceType, record, count, true);
}

std::vector<std::string> VerifyWritten(int deviceType, const std::vector<uint8_t>& record,
                                       const DeviceInfoStore& after, bool secretsKnown) {
    std::vector<std::string> differences;
    if (after.deviceType != deviceType) {
        differences.push_back("deviceType: written as type " + Decimal(deviceType) + ", the reader now reports type " +
                              Decimal(after.deviceType));
        return differences;
    }
    const bool hasMode = TypeHasField(deviceType, F_CONNECT_MODE);
    const bool mode0 = hasMode && record[CR_CONNECT_MODE] == 0;
    const bool dhcp = deviceType == DEVICE_TYPE_WIFI && record[CR_DHCP_ENABLED] != 0;
    // Records of protocol version 0 and 1 carry no device ID for types 1 and 2.
    const bool idReported = deviceType == DEVICE_TYPE_WIFI || after.protocolVersion >= 2;
    for (const FieldDef& def : FIELDS) {
        // What the page shows in the other mode is not checked (fixed
        // stand-ins), nor the addresses a reader on DHCP was given.
        if (!TypeHasField(deviceType, def.id) || !RecordCarriesField(deviceType, def.id, mode0, dhcp)) continue;
        if ((def.id == F_DEVICE_ID && !idReported) || (def.secret && !secretsKnown)) continue;
        const size_t ro = RecordOffset(def.id, deviceType);
        const size_t io = InfoOffset(def.id, deviceType);
        if (ro + FieldWidth(def.kind) > record.size()) continue;
        const std::string wrote = DecodeField(def, record.data() + ro);
        const std::string reports = DecodeField(def, after.payload + io);
        if (wrote == reports) continue;
        differences.push_back(def.secret ? std::string(def.name) + ": the reader reports another value than written (not shown)"
                                         : std::string(def.name) + ": wrote " + wrote + ", the reader reports " + reports);
    }
    return differences;
}

Json SecretMarker() { return Json{{"secret", true}}; }

bool IsSecretMarker(const Json& value) { return value == SecretMarker(); }

Json RedactSecrets(const Json& document) {
    Json out = document;
    Json* fields = out.is_object() && out.contains("fields") && out["fields"].is_object() ? &out["fields"] : &out;
    if (!fields->is_object()) return out;
    for (const FieldDef& def : FIELDS)
        if (def.secret && fields->contains(def.name)) (*fields)[def.name] = SecretMarker();
    return out;
}

std::string RecordHex(int deviceType, const std::vector<uint8_t>& record, bool redact) {
    std::string hex = HexBytes(record.data(), record.size(), "");
    if (!redact) return hex;
    for (const FieldDef& def : FIELDS) {
        if (!def.secret || !TypeHasField(deviceType, def.id)) continue;
        const size_t at = RecordOffset(def.id, deviceType), width = FieldWidth(def.kind);
        if (at + width <= record.size()) hex.replace(2 * at, 2 * width, 2 * width, '*');
    }
    return hex;
}

bool RecordFromHex(const std::string& hex, std::vector<uint8_t>* out, bool* masked) {
    out->clear();
    *masked = false;
    if (hex.size() % 2 != 0) return false;
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (hex[i] == '*' && hex[i + 1] == '*') {
            *masked = true;
            out->push_back(0);
            continue;
        }
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}
