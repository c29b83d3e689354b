#include "cli/audit_log.h"

#include <ctime>

#include "document/fields.h"

using Json = nlohmann::ordered_json;

const char* const AUDIT_PLAN = "plan";
const char* const AUDIT_RELEASE = "release";
const char* const AUDIT_SUMMARY = "summary";
const char* const RESULT_PENDING = "pending";
const char* const RESULT_SAME_READER = "same reader";
const char* const RESULT_NOT_TAKEN = "not taken";
const char* const RESULT_WRITING = "writing";

namespace {

constexpr size_t MAX_LINE = 1u << 16;

std::string Where(const std::string& file, size_t line, size_t column) {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

// The keys every line may have; the rest of a line of another kind are its details.
bool CommonKey(const std::string& key) {
    for (const char* k : {"time", "event", "port", "row", "deviceType", "firmwareVersion", "before", "written", "record",
                          "result", "note", "attempt"})
        if (key == k) return true;
    return false;
}

// Reads one line's object into *out; false with the reason and its column.
bool ReadRecord(const std::string& line, AuditRecord* out, std::string* why, size_t* column) {
    *column = 1;
    why->clear();
    Json doc;
    std::string reason;
    size_t byte = 0;
    if (!ParseJsonText(line, &doc, &reason, &byte)) {
        *why = "not valid JSON: " + reason;
        *column = byte > 0 ? byte : 1;
        return false;
    }
    if (!doc.is_object()) {
        *why = "expected a JSON object";
        return false;
    }
    auto field = [&](const char* key, bool (Json::*is)() const noexcept, bool required) -> const Json* {
        const auto it = doc.find(key);
        if (it == doc.end() && !required) return nullptr;
        if (it == doc.end() || !((*it).*is)()) {
            if (why->empty()) *why = std::string("\"") + key + "\" missing or of the wrong kind";
            return nullptr;
        }
        return &*it;
    };
    AuditRecord r;
    const Json* event = field("event", &Json::is_string, false);
    const bool exchange = event == nullptr;
    const Json *time = field("time", &Json::is_string, true), *port = field("port", &Json::is_string, exchange),
               *row = field("row", &Json::is_number_integer, exchange),
               *type = field("deviceType", &Json::is_number_integer, exchange),
               *firmware = field("firmwareVersion", &Json::is_string, exchange),
               *before = field("before", &Json::is_object, exchange),
               *written = field("written", &Json::is_object, exchange),
               *record = field("record", &Json::is_string, exchange), *result = field("result", &Json::is_string, true),
               *note = field("note", &Json::is_string, false), *attempt = field("attempt", &Json::is_string, false);
    if (!why->empty()) return false;
    const int64_t rowNumber = row ? row->get<int64_t>() : 0, typeNumber = type ? type->get<int64_t>() : 0;
    if (rowNumber < 0 || rowNumber > INT32_MAX || typeNumber < 0 || typeNumber > 255) {
        *why = "\"row\" or \"deviceType\" out of range";
        return false;
    }
    if (record && !RecordFromHex(record->get<std::string>(), &r.record, &r.recordMasked)) {
        *why = "\"record\" must be hex digits in pairs";
        return false;
    }
    if (event) r.event = event->get<std::string>();
    r.time = time->get<std::string>();
    if (port) r.port = port->get<std::string>();
    r.row = static_cast<int>(rowNumber);
    r.deviceType = static_cast<int>(typeNumber);
    if (firmware) r.firmwareVersion = firmware->get<std::string>();
    if (before) r.before = *before;
    if (written) r.written = *written;
    r.result = result->get<std::string>();
    if (note) r.note = note->get<std::string>();
    if (attempt) r.attempt = attempt->get<std::string>();
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (!CommonKey(it.key())) r.details[it.key()] = it.value();
    *out = r;
    return true;
}

}  // namespace

std::string FormatAuditRecord(const AuditRecord& r, bool redact) {
    Json doc = Json::object();
    doc["time"] = r.time;
    auto settings = [&](const Json& value) {
        const Json object = value.is_object() ? value : Json::object();
        return redact ? RedactSecrets(object) : object;
    };
    if (r.event.empty()) {
        doc["port"] = r.port;
        doc["row"] = r.row;
        doc["deviceType"] = r.deviceType;
        doc["firmwareVersion"] = r.firmwareVersion;
        doc["before"] = settings(r.before);
        doc["written"] = settings(r.written);
        doc["record"] = RecordHex(r.deviceType, r.record, redact || r.recordMasked);
    } else {
        doc["event"] = r.event;
        if (!r.port.empty()) doc["port"] = r.port;
        if (r.row > 0) doc["row"] = r.row;
        if (r.written.is_object() && !r.written.empty()) doc["written"] = settings(r.written);
    }
    for (auto it = r.details.begin(); it != r.details.end(); ++it)
        if (!CommonKey(it.key())) doc[it.key()] = it.value();
    doc["result"] = r.result;
    if (!r.note.empty()) doc["note"] = r.note;
    if (!r.attempt.empty()) doc["attempt"] = r.attempt;
    // Bytes that are no UTF-8 (a port's name) must not end the line early.
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ParseAuditLog(const std::string& text, const std::string& file, AuditLog* out, std::string* error) {
    *out = AuditLog();
    size_t start = 0, number = 0;
    while (start < text.size()) {
        ++number;
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out->warning = Where(file, number, 1) + ": the last line is incomplete (the tool was stopped while writing "
                                                    "it); it is ignored";
            return true;
        }
        const size_t length = end - start;
        if (length > MAX_LINE) {
            *error = Where(file, number, MAX_LINE + 1) + ": a line longer than " + std::to_string(MAX_LINE) + " bytes";
            return false;
        }
        if (length > 0 && !(length == 1 && text[start] == '\r')) {
            AuditRecord record;
            std::string why;
            size_t column = 1;
            if (!ReadRecord(text.substr(start, length), &record, &why, &column)) {
                for (char& c : why)
                    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
                *error = Where(file, number, column) + ": " + why;
                return false;
            }
            out->records.push_back(record);
        }
        start = end + 1;
        out->goodBytes = start;
    }
    return true;
}

std::string AuditTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string UndoPathForLog(const std::string& logPath) {
    const std::string tail = ".jsonl";
    if (logPath.size() > tail.size() && logPath.compare(logPath.size() - tail.size(), tail.size(), tail) == 0)
        return logPath.substr(0, logPath.size() - tail.size()) + ".undo.jsonl";
    return logPath + ".undo.jsonl";
}
