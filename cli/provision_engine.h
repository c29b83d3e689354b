// The provisioning engine: a plan of per-reader settings (cli/plan.h)
// worked through on a bench, the readers coming one after another to one
// port (line mode) or each row going to the port it names (port mode),
// with the audit log and its undo file (cli/audit_log.h) saying which rows
// are done when a run starts again.
//
// tavrolin-cli provision and the window program's batch window both run
// this engine. It prints and shows nothing: it reports what happens as
// typed events to an observer, which says them in its own words and
// language (the events carry data, not sentences; only refusals carry the
// checks' own words in `detail`). It runs on a thread of its own: events
// arrive on that thread (in port mode on the ports' threads, one at a
// time), and a stop asked for from any thread ends the run after the
// reader it is working on.
//
// What it guarantees: a row whose outcome is unknown (no acknowledgement,
// the line lost after the write, the check finding other settings, a log
// that could not be written) is never given to another reader. It is
// pending for that reader until a reader holding exactly the row's record
// answers (then it is done) or the technician releases it (the plan's row
// numbers in ProvisionSetup::release). A reader that still holds the
// settings it had before, without having left since the write, is written
// again; a reader that has left and comes back with them cannot be told
// from any other reader with the same settings and does not get the row.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "cli/plan.h"
#include "cli/session.h"

struct ProvisionSetup {
    std::string planFile;
    std::string port;          // line mode: the port the readers come to; empty in port mode
    std::string baseFile;      // a document from export under every row; empty without
    std::string logFile;       // empty: DefaultLogPath(planFile), as LogPathFor has it
    bool trace = false;        // every frame to the trace sink (cli/trace.h)
    int pollMs = 300;          // line mode: how often the port is asked, and how long a query waits
    int timeoutMs = REPLY_TIMEOUT_MS;  // the write's acknowledgement and the check after it
    std::vector<int> release;  // plan rows whose pending write the technician has checked
};

// The log's default name: the plan's name without ".csv", then ".log.jsonl".
std::string DefaultLogPath(const std::string& planFile);
// The log a run of the plan keeps: logFile, else the default.
std::string LogPathFor(const std::string& planFile, const std::string& logFile);
// A log (or undo file) read whole and parsed; false with "cannot read PATH" or the parse's reason.
struct AuditLog;
bool ReadAuditLogFile(const std::string& path, AuditLog* out, std::string* error);

enum RowState { ROW_TO_DO, ROW_DONE, ROW_PENDING };

// Why a row is pending: what is known of its write.
enum PendingReason {
    PENDING_NONE,
    PENDING_NO_ACK,         // no acknowledgement, and the reader did not answer the check
    PENDING_NO_ACK_OTHER,   // no acknowledgement, and the reader now reports other settings
    PENDING_LINE_LOST,      // the line was lost during the write
    PENDING_NO_CHECK,       // acknowledged, but the reader did not answer the check
    PENDING_UNVERIFIED,     // acknowledged, but the reader reports other settings
    PENDING_INTERRUPTED,    // the run ended between the write and its record
};

// A plan row as a table shows it.
struct RowView {
    int row = 0;               // its number in the plan
    std::string name;          // deviceName, "ID 42", or empty
    std::string address;       // ipAddress, "DHCP", or empty
    std::string port;          // port mode: the row's port
    RowState state = ROW_TO_DO;
    PendingReason pending = PENDING_NONE;
    int failedAttempts = 0;    // attempts that ended without it, earlier runs' included
    int lastFailure = 0;       // the exit code of the last failed attempt while it is to do; 0: none
    std::string time;          // when it was done, or last tried
};

enum ProvisionEventKind {
    EV_PLAN_CHECKED,   // problems, warnings, rows: the check before any port is opened
    EV_WAITING,        // waiting for a reader on port (counts in done/total, pendingRows)
    EV_PORT_MISSING,   // the port cannot be opened (detail: why; portsPresent), said once until it is back
    EV_PORT_BACK,      // the port opened again
    EV_NO_ANSWER,      // the port is open but no reader has answered for a while (portsPresent), once
    EV_READER_SEEN,    // a reader answered: deviceType, firmware, readerAddress, readerName
    EV_WRITING,        // row, attempt (of MAX_WRITE_ATTEMPTS)
    EV_DONE,           // row done: how
    EV_NOT_TAKEN,      // no acknowledgement and the reader kept its settings: written again unless the attempts ran out
    EV_PENDING,        // row pending: row.pending says why; readerPresent: a reader still answers, not known to be the row's
    EV_SAME_READER,    // the reader holds row (done): nothing written
    EV_CANNOT_TELL,    // the reader has the settings row (pending) had before: it gets `given` instead, if any
    EV_REFUSED,        // the reader, or row for it, refused (exitCode, detail); row.row 0: the reader itself
    EV_NOTHING_LEFT,   // a reader answered but every row is done or pending for its own reader
    EV_WARNING,        // a network setting that rarely works (detail), once per kind in a run
    EV_STILL_THERE,    // the reader asked to leave still answers after a while (row: its row, if any)
    EV_READER_GONE,
    EV_STOPPING,       // a stop was asked for: the run ends after this reader
    EV_FILE_FAILED,    // the log or undo file (detail: path and why) could not be written: the run stops
    EV_SUMMARY,        // the end: summary
};

enum DoneHow {
    DONE_WRITTEN,      // written and verified
    DONE_ACK_LOST,     // written; the acknowledgement was lost but the reader holds the record
    DONE_RESOLVED,     // pending until now: its reader came back holding the record
    DONE_HELD_ALREADY, // the reader held the row's settings already (a run stopped before it could log them)
};

constexpr int MAX_WRITE_ATTEMPTS = 3;  // writes to one reader that were not taken, before it is given up

struct ProvisionSummary {
    int total = 0, done = 0, doneThisRun = 0, pending = 0, toDo = 0;
    int failedAttempts = 0;        // this run
    long long elapsedMs = 0;
    std::vector<RowView> pendingRows;
    bool stopped = false;          // a stop was asked for
};

struct ProvisionEvent {
    ProvisionEventKind kind = EV_WAITING;
    std::string port;
    RowView row;                   // the row concerned, in its state after the event; row.row 0: none
    RowView given;                 // EV_CANNOT_TELL: the row the reader gets instead (row 0: none)
    int done = 0, total = 0;       // progress after the event
    int pendingRows = 0;
    int attempt = 0;               // EV_WRITING, EV_NOT_TAKEN
    DoneHow how = DONE_WRITTEN;    // EV_DONE
    bool readerPresent = false;    // EV_PENDING
    int exitCode = 0;              // EV_REFUSED, EV_FILE_FAILED, EV_SUMMARY
    bool endsRun = false;          // EV_REFUSED: the plan must be mended before any reader gets a row
    std::string detail;            // the checks' own words; never a secret
    int deviceType = 0;            // EV_READER_SEEN
    std::string firmware, readerAddress, readerName;
    std::vector<std::string> portsPresent;  // EV_PORT_MISSING, EV_NO_ANSWER
    // EV_PLAN_CHECKED
    std::string planFile, logFile;
    std::vector<PlanProblem> problems;
    std::vector<std::string> logProblems;   // the log against the plan: one line each
    std::vector<PlanWarning> warnings;
    std::string logWarning;        // a torn last line cut off
    std::vector<RowView> rows;
    std::vector<std::pair<int, std::string>> records;  // check only, with a base: each row's record described
    ProvisionSummary summary;      // EV_SUMMARY
};

class ProvisionObserver {
public:
    virtual ~ProvisionObserver() = default;
    virtual void OnEvent(const ProvisionEvent& event) = 0;
};

// Checks the plan (with the base, every row through the page's checks)
// and the log beside it, as a run would, opening no port and writing
// nothing: one EV_PLAN_CHECKED. Returns 0, or 2 or 3 as the problems call for.
int CheckProvisionPlan(const ProvisionSetup& setup, ProvisionObserver& observer);

// The run: the check, then the readers, then EV_SUMMARY. Returns the exit
// code: 0 every row done; 9 stopped with rows to do; 10 rows pending (their
// readers must be checked); 2 or 3 the plan refused; 4 the port held by
// another run; 1 the log or undo file could not be written; in port mode
// otherwise the code of the first row that failed.
int RunProvisionEngine(const ProvisionSetup& setup, ProvisionObserver& observer, const std::atomic<bool>& stop);

// Undo: the settings the reader of a done row had before (secrets
// included, from the undo file) and the record it got, which it must
// still hold. false with a reason.
bool UndoFromLog(const std::string& logPath, int row, nlohmann::ordered_json* before, std::vector<uint8_t>* record,
                 bool* recordMasked, std::string* error);
