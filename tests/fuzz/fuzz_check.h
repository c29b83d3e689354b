// What the fuzz harnesses share: an invariant check that aborts (libFuzzer
// saves the input), and the settings document written back from what was
// read, so that a harness can compare documents rather than structs.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "document/fields.h"
#include "document/text_codec.h"

#define CHECK(cond) \
    ((cond) ? (void)0 : (std::fprintf(stderr, "invariant failed: %s (line %d)\n", #cond, __LINE__), std::abort()))

// One field's value as a document holds it: texts as UTF-8 when they are
// GBK text, else as {"hex": ...}; baud rates as rates; null for none.
inline nlohmann::ordered_json ValueJson(const FieldDef& def, const FieldValue& v) {
    if (v.none) return nullptr;
    switch (def.kind) {
    case KIND_TEXT: {
        std::string utf8;
        if (GbkToUtf8(v.text, &utf8)) return utf8;
        return {{"hex", HexBytes(reinterpret_cast<const unsigned char*>(v.text.data()), v.text.size(), "")}};
    }
    case KIND_ADDRESS: return v.addressBlank ? std::string() : DottedAddress(v.address);
    case KIND_FLAG: return v.flag;
    case KIND_BAUD: return std::atoi(BAUD_LIST[v.number]);  // "115200（默认）" reads as 115200
    default: return v.number;
    }
}

// The fields of an overlay, in the order given.
inline nlohmann::ordered_json OverlayFields(const Overlay& o) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (FieldId id : o.order) fields[FieldDefinition(id).name] = ValueJson(FieldDefinition(id), o.values[id]);
    return fields;
}

inline std::string DocumentText(int deviceType, const nlohmann::ordered_json& fields) {
    return nlohmann::ordered_json{{"formatVersion", CONFIG_FORMAT_VERSION}, {"deviceType", deviceType}, {"fields", fields}}
        .dump();
}

// A refusal is one line and names what it refuses: a key or field of the
// document, or the place in the text where reading stopped.
inline bool NamesFieldOrPosition(const std::string& message) {
    if (message.find('\n') != std::string::npos) return false;
    if (message.find("line ") != std::string::npos && message.find("column ") != std::string::npos) return true;
    for (const char* key : {"formatVersion", "deviceType", "\"fields\"", "unknown key", "unknown field", "JSON object"})
        if (message.find(key) != std::string::npos) return true;
    for (int id = 0; id < FIELD_COUNT; ++id)
        if (message.find(FieldDefinition(static_cast<FieldId>(id)).name) != std::string::npos) return true;
    return false;
}
