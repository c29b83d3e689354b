// The audit log of provisioning and its undo file: one JSON object per
// line, appended with one write and flushed to the disk before the next
// exchange (cli/held_file.h), so that a run killed at any moment leaves at
// most its last line torn.
//
// The log is meant to be mailed: it never holds a secret (the passwords,
// and any field the document marks secret, are replaced by a marker in
// "before", "written" and the record's hex). What undo needs goes to the
// undo file beside it, readable by its owner only: one line per write,
// appended before the write is sent, holding the reader's settings
// before and the record in full, under the attempt's id that the log's
// line for the same write carries too. A write whose undo line has no log
// line was interrupted between the reader and the log.
//
// Formatting and reading are pure (text in, records or one line
// "file:line:column: why" out).
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Kinds of line besides a reader's exchange.
extern const char* const AUDIT_PLAN;      // a run's plan check and its verdict
extern const char* const AUDIT_RELEASE;   // a pending row released by the technician
extern const char* const AUDIT_SUMMARY;   // the end of a run

// Results of a reader's exchange besides "ok" and the exit codes' names.
extern const char* const RESULT_PENDING;      // the write's outcome is not known: the row waits for its reader
extern const char* const RESULT_SAME_READER;  // the reader holds a done row: nothing written
extern const char* const RESULT_NOT_TAKEN;    // no acknowledgement, the reader kept its settings
extern const char* const RESULT_WRITING;      // the undo file's line: the write about to be sent

struct AuditRecord {
    std::string event;      // empty for a reader's exchange, else AUDIT_*
    std::string time;       // ISO 8601, UTC: 2026-12-07T01:30:49Z
    std::string port;
    int row = 0;            // the plan's row as numbered at the time; 0 when none
    int deviceType = 0;
    std::string firmwareVersion;
    nlohmann::ordered_json before;   // the reader's settings as export writes them
    nlohmann::ordered_json written;  // the fields given for the reader (--base, then the row)
    std::vector<uint8_t> record;     // the record sent; empty when nothing was sent
    bool recordMasked = false;       // read back with its secret bytes masked
    std::string result;     // "ok", RESULT_*, or the exit code's name
    std::string note;       // optional: what happened, in words
    std::string attempt;    // the write's id, shared with the undo file; empty when nothing was sent
    nlohmann::ordered_json details = nlohmann::ordered_json::object();  // any other keys of the line
};

// One line, ending in "\n". redact: the log's form, without secrets; the
// undo file keeps them.
std::string FormatAuditRecord(const AuditRecord& record, bool redact = true);

struct AuditLog {
    std::vector<AuditRecord> records;
    size_t goodBytes = 0;    // the length of the complete lines
    std::string warning;     // about a torn last line, else empty
};

// Reads a whole log (or undo file). A last line without its line end (the
// run was killed while writing it) is left out with a warning. Anything
// else malformed is an error.
bool ParseAuditLog(const std::string& text, const std::string& file, AuditLog* out, std::string* error);

// The current time as AuditRecord::time wants it.
std::string AuditTimeNow();

// The undo file of a log: "fleet.log.jsonl" -> "fleet.log.undo.jsonl".
std::string UndoPathForLog(const std::string& logPath);
