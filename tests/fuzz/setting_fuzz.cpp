// The --set values of the command line. Input: a device type byte (the
// document's type, or none), then "NAME=VALUE" lines taken in turn.
// An accepted value is the one the same text gives as that field of a
// document, and becomes the field given last; a refused one is named
// with exit code 2 or 3 and leaves the values given before as they were.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"

namespace {

const int TYPES[] = {-1, DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI};

// The same value as a document would give it: text kinds as strings,
// the others as JSON literals (numbers, true, false) where they are ones.
bool SameAsDocument(FieldId id, const std::string& text, const FieldValue& fromSet) {
    int type = -1;
    for (int t : TYPES)
        if (type < 0 && TypeHasField(t, id)) type = t;
    const FieldDef& def = FieldDefinition(id);
    nlohmann::ordered_json value = text;
    if (def.kind == KIND_FLAG) value = fromSet.flag;
    else if (def.kind != KIND_TEXT && def.kind != KIND_ADDRESS) value = fromSet.number;
    if (def.kind == KIND_BAUD) value = std::atoi(BAUD_LIST[fromSet.number]);
    Overlay doc;
    InputError error;
    if (!ParseDocument(DocumentText(type, {{def.name, value}}), "doc.json", &doc, &error)) return false;
    const FieldValue& v = doc.values[id];
    return v.text == fromSet.text && v.addressBlank == fromSet.addressBlank && v.address == fromSet.address &&
           v.number == fromSet.number && v.flag == fromSet.flag && !v.none && !fromSet.none;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Overlay overlay;
    overlay.deviceType = TYPES[data[0] % 5];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string assignment = input.substr(start, end - start);
        start = end + 1;

        const Overlay before = overlay;
        InputError error;
        const size_t eq = assignment.find('=');
        if (!ParseSetting(assignment, &overlay, &error)) {
            CHECK(error.exitCode == INPUT_MALFORMED || error.exitCode == INPUT_REFUSED);
            CHECK(error.message.rfind("--set", 0) == 0 || error.message.find(" has no field ") != std::string::npos);
            CHECK(error.message.find('\n') == std::string::npos && overlay.order == before.order);
            // The field by its name, or what was given quoted as a JSON string.
            const bool named = eq != std::string::npos && eq > 0;
            const FieldId id = named ? FieldByName(assignment.substr(0, eq)) : FIELD_COUNT;
            const std::string given = nlohmann::ordered_json(named ? assignment.substr(0, eq) : assignment)
                                          .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
            CHECK(error.message.find(id == FIELD_COUNT ? given : FieldDefinition(id).name) != std::string::npos);
            return 0;
        }
        const FieldId id = FieldByName(assignment.substr(0, eq));
        CHECK(id != FIELD_COUNT && overlay.values[id].fromCommandLine && !overlay.order.empty());
        CHECK(overlay.order.size() == before.order.size() + (before.values[id].present ? 0 : 1));
        CHECK(SameAsDocument(id, assignment.substr(eq + 1), overlay.values[id]));
    }
    return 0;
}
