// Feeds arbitrary bytes to the audit log reader and checks it: a refusal
// is one line "f.jsonl:LINE:COLUMN: why"; what it accepts ends at a line
// end, with a warning exactly when a torn last line was left out, and
// reads back the same once written out again. A record made of the input's
// texts reads back as it was written, its secrets kept out of the log's
// form and in the undo file's.
#include <cstdint>
#include <string>

#include "cli/audit_log.h"
#include "document/fields.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::string FILE_NAME = "f.jsonl";

bool Number(const std::string& text, size_t* at) {
    const size_t start = *at;
    while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') ++*at;
    return *at > start && *at < text.size() && text[(*at)++] == ':';
}

std::string Formatted(const AuditLog& log) {
    std::string out;
    for (const AuditRecord& r : log.records) out += FormatAuditRecord(r);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    AuditLog log, again;
    std::string error;
    if (!ParseAuditLog(text, FILE_NAME, &log, &error)) {
        size_t at = FILE_NAME.size() + 1;
        CHECK(error.rfind(FILE_NAME + ":", 0) == 0 && Number(error, &at) && Number(error, &at));
        CHECK(error.find('\n') == std::string::npos && error.find('\r') == std::string::npos);
    } else {
        CHECK(log.goodBytes <= size && (log.goodBytes == 0 || text[log.goodBytes - 1] == '\n'));
        CHECK(log.warning.empty() == (log.goodBytes == size));
        const std::string written = Formatted(log);
        CHECK(ParseAuditLog(written, FILE_NAME, &again, &error) && again.warning.empty());
        CHECK(again.records.size() == log.records.size() && Formatted(again) == written);
    }

    // The input's bytes as the texts of one record.
    AuditRecord r;
    const size_t third = size / 3;
    r.time = AuditTimeNow();
    r.port = text.substr(0, third);
    r.firmwareVersion = text.substr(third, third);
    r.note = text.substr(2 * third);
    r.row = static_cast<int>(size) + 1;
    r.deviceType = size > 0 ? data[0] : 0;
    const std::string secret = "secret-" + std::to_string(size);
    r.before = {{"fields", {{"deviceName", r.port}, {"devicePassword", secret}}}};
    r.written = {{"ipAddress", r.note}, {"wifiPassword", secret}};
    r.record = {0x0A, 0x0B};
    r.result = "ok";
    r.attempt = "a.1";
    const std::string line = FormatAuditRecord(r);  // bytes that are no UTF-8 come out replaced
    CHECK(line.find('\n') == line.size() - 1);
    if (text.find(secret) == std::string::npos) CHECK(line.find(secret) == std::string::npos);
    CHECK(FormatAuditRecord(r, false).find(secret) != std::string::npos);
    CHECK(ParseAuditLog(line, FILE_NAME, &again, &error) && again.records.size() == 1 && again.warning.empty());
    const AuditRecord& back = again.records[0];
    CHECK(back.row == r.row && back.deviceType == r.deviceType && back.record == r.record && back.result == "ok");
    CHECK(back.attempt == r.attempt && IsSecretMarker(back.written["wifiPassword"]));
    if (IsUtf8(r.port)) CHECK(back.port == r.port);
    if (IsUtf8(r.firmwareVersion)) CHECK(back.firmwareVersion == r.firmwareVersion);
    if (IsUtf8(r.note)) CHECK(back.note == r.note);
    return 0;
}
