// The reader's settings as named fields: the JSON document of export and
// apply, --set values, the overlay of both on what the reader reports,
// and the check that the reader reports what was written.
//
// Field names are those of the records (deviceName, platformIp, ...);
// each device type has the fields its page shows and writes.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "forms/page_form.h"
#include "forms/page_view.h"
#include "protocol/device_info.h"

constexpr int CONFIG_FORMAT_VERSION = 1;

enum FieldId {
    F_CONNECT_MODE,
    F_DEVICE_NAME,
    F_DEVICE_PASSWORD,
    F_PLATFORM_IP,
    F_PLATFORM_PORT,
    F_DHCP_ENABLED,
    F_IP_ADDRESS,
    F_SUBNET_MASK,
    F_GATEWAY,
    F_RS485_BAUD,
    F_ANTENNA0_BAUD,
    F_ANTENNA1_BAUD,
    F_DUAL_ANTENNA_MODE,
    F_DEVICE_ID,
    F_WIFI_SSID,
    F_WIFI_PASSWORD,
    FIELD_COUNT
};

enum FieldKind {
    KIND_CONNECT_MODE,  // 0 or 1 (null: no selection)
    KIND_TEXT,          // GBK text of a 32-byte field
    KIND_ADDRESS,       // "a.b.c.d"; "" is an entirely blank address
    KIND_PORT,          // 0-65535
    KIND_FLAG,          // true / false
    KIND_BAUD,          // 9600, 19200, 38400, 57600 or 115200 (null: no selection)
    KIND_DEVICE_ID,     // signed 32-bit
};

struct FieldDef {
    FieldId id;
    const char* name;
    FieldKind kind;
    size_t textLimit;   // KIND_TEXT: most GBK bytes the page takes
    bool secret;        // a password: never written to a log or a message
};

const FieldDef& FieldDefinition(FieldId id);
// FIELD_COUNT when name is no field.
FieldId FieldByName(const std::string& name);
bool TypeHasField(int deviceType, FieldId id);
// The names of the fields of a device type, for messages.
std::string FieldNamesOfType(int deviceType);
const char* DeviceTypeName(int deviceType);

// A value from a file or --set, checked against its kind and range.
struct FieldValue {
    bool present = false;
    bool none = false;         // JSON null: no selection
    std::string text;          // KIND_TEXT: GBK bytes
    bool addressBlank = false; // KIND_ADDRESS
    uint32_t address = 0;
    int64_t number = 0;        // port, baud index, connectMode, deviceId
    bool flag = false;
    bool fromCommandLine = false;  // given with --set rather than in a document
    bool fromPlan = false;         // a cell of a provisioning plan
};

// What the user asks for: the values of a file, then those of --set.
struct Overlay {
    int deviceType = -1;       // from the file; -1 without a file
    FieldValue values[FIELD_COUNT];
    std::vector<FieldId> order;  // fields in the order given, for messages
};

// How bad an input is. The values are tavrolin-cli's exit codes for
// them (cli/exit_codes.h ties the two together).
enum InputErrorCode {
    INPUT_MALFORMED = 2,  // a malformed document, an unknown field, a value of the wrong kind
    INPUT_REFUSED = 3,    // a well-formed value the reader cannot take
};

// Where a bad input came from and why; exitCode is an InputErrorCode.
struct InputError {
    int exitCode = 0;
    std::string message;
};

// Reads a whole document (text of a file). source names it in messages.
bool ParseDocument(const std::string& text, const std::string& source, Overlay* out,
                   InputError* error);
// Adds one "name=value" of the command line.
bool ParseSetting(const std::string& assignment, Overlay* out, InputError* error);
// One value given as text (a --set value, a cell of a plan), checked as
// the document's value of the field's kind; where names it in messages.
bool ParseFieldText(FieldId id, const std::string& text, const std::string& where, FieldValue* out,
                    InputError* error);
// Puts the values of over on top of under (the later layer wins).
void LayerOverlay(Overlay* under, const Overlay& over);
// The overlay's values as the "fields" of a document, in the order given.
nlohmann::ordered_json OverlayFields(const Overlay& overlay);
// Every field given must exist on deviceType.
bool CheckFieldsForType(const Overlay& overlay, int deviceType, InputError* error);

// What the page of deviceType holds once it has shown the stored reply
// and the user has entered the overlay: the reader's values where the
// overlay gives none. Switching the connection mode behaves as on the
// page (the device ID shown after a switch to mode 0 is the stored one).
PageForm FormWithOverlay(int deviceType, const PageView& view, const Overlay& overlay);

// A field given with --set or in a plan's cell that the record will not carry as given: the
// platform fields and the name in connection mode 0, the device ID in
// mode 1, the addresses with DHCP on. Empty when there is none, else the
// message. (A document's such fields are the page's hidden values and are
// passed over, as the page passes them over.)
std::string IgnoredSetting(int deviceType, const PageForm& form, const Overlay& overlay);

// The check the tool adds after the page's own chain: a baud rate or the
// connection mode without a selection would be written as 255 and 1.
// Empty when the form is complete, else the message.
std::string MissingSelection(int deviceType, const PageForm& form);

// Whether a record of deviceType carries field id as the page shows it:
// in connection mode 0 the name, password and platform are stand-ins, in
// mode 1 the device ID is, and with DHCP on the addresses are not the
// user's. Every other field of the type is carried.
bool RecordCarriesField(int deviceType, FieldId id, bool mode0, bool dhcp);

// The reader's settings as the versioned document export writes.
nlohmann::ordered_json DocumentFromStore(const DeviceInfoStore& store);
// The document of a page's controls: record is what Apply would write for
// the page of store.deviceType; the fields the record carries as shown
// come from it, the others (the other mode's, DHCP's addresses) are the
// reader's, as export writes them. Unchanged controls give export's document.
nlohmann::ordered_json DocumentFromRecord(const DeviceInfoStore& store, const std::vector<uint8_t>& record);
// A document as a file holds it: indented by two, with a final newline.
std::string DocumentText(const nlohmann::ordered_json& document);

// Parses JSON text. False with the reason on one line, without the
// library's tag, and the 1-based byte offset of the fault (0 when it has
// none); every way the library refuses text ends here, none as an exception.
bool ParseJsonText(const std::string& text, nlohmann::ordered_json* out, std::string* why, size_t* byte);
// A file name for a document (UTF-8): the device name, or the device type
// when the name is empty or no text, then the IP address, ".json"; the
// characters a Windows file name cannot hold become '_'.
std::string SuggestedFileName(const nlohmann::ordered_json& document);
// The fields alone, as the page of store.deviceType shows them.
nlohmann::ordered_json FieldsFromStore(const DeviceInfoStore& store);

// Human-readable lines "name  value" of what the page shows.
std::vector<std::pair<std::string, std::string>> DescribeStore(const DeviceInfoStore& store);

// "name=value" pairs of the fields of deviceType in a DeviceInfo payload
// or a ConfigRecord, for the trace.
std::string DescribeInfoPayload(const uint8_t* payload, size_t count);
std::string DescribeRecord(int deviceType, const uint8_t* record, size_t count);

// Compares what the page would show of a record just written with what
// the reader reports now. One line per difference (a secret field's values
// are not shown); empty when they agree. secretsKnown false: the record's
// secret fields were masked (a log's copy) and are not compared.
std::vector<std::string> VerifyWritten(int deviceType, const std::vector<uint8_t>& record,
                                       const DeviceInfoStore& after, bool secretsKnown = true);

// What a log may hold in place of a secret field's value.
nlohmann::ordered_json SecretMarker();
bool IsSecretMarker(const nlohmann::ordered_json& value);
// A document (or a bare "fields" object) with every secret field's value
// replaced by SecretMarker().
nlohmann::ordered_json RedactSecrets(const nlohmann::ordered_json& document);
// A record in hex; with redact, every byte of a secret field as "**".
std::string RecordHex(int deviceType, const std::vector<uint8_t>& record, bool redact);
// RecordHex's text back to bytes (a masked byte reads as 0); false when it
// is neither a hex digit pair nor "**" somewhere. *masked: any "**" seen.
bool RecordFromHex(const std::string& hex, std::vector<uint8_t>* out, bool* masked);

std::string DottedAddress(uint32_t address);
bool ParseDottedAddress(const std::string& text, uint32_t* address);
