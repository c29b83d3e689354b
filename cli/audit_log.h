// The audit log of provisioning: one JSON object per line and reader,
// appended with one write and flushed to the disk before the next reader
// is looked at, so that a run killed at any moment leaves at most its
// last line torn.
//
// Formatting and reading are pure (text in, records or one line
// "file:line:column: why" out); AuditLogFile does the file work.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

struct AuditRecord {
    std::string time;       // ISO 8601, UTC: 2026-12-07T01:30:49Z
    std::string port;
    int row = 0;            // the plan's row
    int deviceType = 0;
    std::string firmwareVersion;
    nlohmann::ordered_json before;   // the reader's settings as export writes them
    nlohmann::ordered_json written;  // the fields given for the reader (--base, then the row)
    std::string record;     // the record sent, hex; empty when nothing was sent
    std::string result;     // "ok" or the exit code's name
    std::string note;       // optional, e.g. why nothing was sent
};

// One line, ending in "\n".
std::string FormatAuditRecord(const AuditRecord& record);

struct AuditLog {
    std::vector<AuditRecord> records;
    size_t goodBytes = 0;    // the length of the complete lines
    std::string warning;     // about a torn last line, else empty
};

// Reads a whole log. A last line without its line end (the run was killed
// while writing it) is left out with a warning. Anything else malformed
// is an error.
bool ParseAuditLog(const std::string& text, const std::string& file, AuditLog* out, std::string* error);

// The record's hex as bytes; false when it is no even count of hex digits.
bool HexToBytes(const std::string& hex, std::vector<uint8_t>* out);

// The current time as AuditRecord::time wants it.
std::string AuditTimeNow();

// The log file of one run, held open (and locked against a second run)
// from Open to the end.
struct AuditLogFile {
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
    std::string path;
};

// Opens or creates path and holds it: a second run on the same log is
// refused. false with a reason.
bool AuditLogOpen(AuditLogFile* log, const std::string& path, std::string* error);
// The whole text of the open log.
bool AuditLogReadAll(AuditLogFile* log, std::string* text, std::string* error);
// Cuts a torn last line off: keeps the first keepBytes.
bool AuditLogTruncate(AuditLogFile* log, size_t keepBytes, std::string* error);
// Appends one line with one write and flushes it to the disk.
bool AuditLogAppend(AuditLogFile* log, const std::string& line, std::string* error);
void AuditLogClose(AuditLogFile* log);
