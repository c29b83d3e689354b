#include "cli/provision.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/audit_log.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/plan.h"
#include "cli/session.h"
#include "cli/trace.h"
#include "document/text_codec.h"
#include "serial/line.h"

using Json = nlohmann::ordered_json;

namespace {

// Set by the signal (console) handler, read by the run between readers.
std::atomic<bool> g_stopRequested{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
    g_stopRequested = true;
    return TRUE;
}
#else
void OnSignal(int) { g_stopRequested = true; }
#endif

void CatchStopRequests() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#endif
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

// Key order does not matter when fields are compared.
bool SameFields(const Json& a, const Json& b) {
    return nlohmann::json::parse(a.dump()) == nlohmann::json::parse(b.dump());
}

// A reader of deviceType that reports nothing yet: the page checks of a
// row over --base run against it before any port is opened.
DeviceInfoStore NeutralStore(int deviceType) {
    DeviceInfoStore store;
    std::memset(&store, 0, sizeof store);
    store.portIndex = -1;
    store.deviceType = deviceType;
    store.payload[DI_DEVICE_TYPE] = static_cast<uint8_t>(deviceType);
    store.payloadLength = static_cast<int32_t>(deviceType == DEVICE_TYPE_WIFI ? DEVICE_INFO_WIFI_SIZE : DEVICE_INFO_SHORT_SIZE);
    store.protocolVersion = 2;
    return store;
}

struct Provisioning {
    ProvisionOptions options;
    Plan plan;
    Overlay base;               // --base's values; deviceType -1 without
    std::string logPath;
    AuditLogFile log;

    // Shared by the port threads of port mode, guarded by lock.
    std::mutex lock;
    std::set<int> doneRows;
    std::vector<AuditRecord> doneRecords;  // records of the rows done, for "the same reader again"
};

std::string PlanWhere(const Provisioning& p, int row) { return p.plan.file + ":" + std::to_string(row); }

void Say(const Provisioning& p, const std::string& line, const Json& json) {
    if (p.options.json) CliWrite(stdout, json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
    else CliWrite(stdout, line + "\n");
}

CliOptions ApplyOptionsFor(const Provisioning& p, const PlanRow& row, bool dryRun) {
    CliOptions o;
    o.command = CMD_APPLY;
    o.trace = p.options.trace;
    o.dryRun = dryRun;
    o.timeoutMs = p.options.timeoutMs;
    o.inputName = p.options.baseFile.empty() ? p.plan.file : p.options.baseFile;
    o.overlay = RowOverlay(p.base, row);
    return o;
}

// The page checks of every row against --base's device type, before any
// port is opened; with dryRun, the records too.
int CheckRowsAgainstBase(const Provisioning& p, std::vector<std::string>* problems, std::vector<PortResult>* records) {
    const int type = p.base.deviceType;
    int worst = 0;
    for (size_t c = 0; c < p.plan.columns.size(); ++c) {
        const FieldId id = p.plan.columns[c];
        if (id == FIELD_COUNT || TypeHasField(type, id)) continue;
        problems->push_back(p.plan.file + ":1:" + std::to_string(c + 1) + ": " + p.options.baseFile + " is for a " +
                            DeviceTypeName(type) + " (type " + std::to_string(type) + "), which has no field " +
                            FieldDefinition(id).name);
        worst = EXIT_USAGE;
    }
    if (worst != 0) return worst;
    const DeviceInfoStore store = NeutralStore(type);
    ReaderSession none;
    for (const PlanRow& row : p.plan.rows) {
        PortResult r;
        r.json = Json::object();
        ApplyToReader(ApplyOptionsFor(p, row, true), none, store, r);
        if (r.exitCode != EXIT_OK) {
            problems->push_back(PlanWhere(p, row.row) + ": " + r.message);
            if (worst != EXIT_USAGE) worst = r.exitCode;
        }
        records->push_back(r);
    }
    return worst;
}

// Reads the log, cuts a torn last line off, and checks that every row it
// marks done still asks for what was written then.
int LoadLog(Provisioning& p) {
    std::string text, error;
    AuditLog log;
    if (!AuditLogOpen(&p.log, p.logPath, &error) || !AuditLogReadAll(&p.log, &text, &error)) {
        CliWrite(stderr, "tavrolin-cli: " + error + "\n");
        return EXIT_FAILURE_OTHER;
    }
    if (!ParseAuditLog(text, p.logPath, &log, &error)) {
        CliWrite(stderr, "tavrolin-cli: " + error + "\n");
        return EXIT_USAGE;
    }
    if (!log.warning.empty()) {
        CliWrite(stderr, "tavrolin-cli: warning: " + log.warning + "\n");
        if (!AuditLogTruncate(&p.log, log.goodBytes, &error)) {
            CliWrite(stderr, "tavrolin-cli: " + error + "\n");
            return EXIT_FAILURE_OTHER;
        }
    }
    int worst = 0;
    for (const AuditRecord& record : log.records) {
        if (record.result != "ok") continue;
        const PlanRow* row = nullptr;
        for (const PlanRow& r : p.plan.rows)
            if (r.row == record.row) row = &r;
        const Json now = row != nullptr ? OverlayFields(RowOverlay(p.base, *row)) : Json();
        if (row == nullptr || !SameFields(now, record.written)) {
            CliWrite(stderr, "tavrolin-cli: " + PlanWhere(p, record.row) + ": the log " + p.logPath +
                                 " marks this row done with " + record.written.dump() + ", but the plan now gives " +
                                 (row == nullptr ? std::string("no such row") : now.dump()) + "\n");
            worst = EXIT_REFUSED;
            continue;
        }
        p.doneRows.insert(record.row);
        p.doneRecords.push_back(record);
    }
    return worst;
}

// The row a reader that answered with store already got: it reports
// exactly what that row's record wrote. 0 when none.
int RowAlreadyHeld(Provisioning& p, const DeviceInfoStore& store) {
    std::lock_guard<std::mutex> hold(p.lock);
    for (const AuditRecord& record : p.doneRecords) {
        std::vector<uint8_t> bytes;
        if (record.deviceType != store.deviceType || !HexToBytes(record.record, &bytes) || bytes.empty()) continue;
        if (VerifyWritten(store.deviceType, bytes, store).empty()) return record.row;
    }
    return 0;
}

const PlanRow* FirstRowNotDone(Provisioning& p) {
    std::lock_guard<std::mutex> hold(p.lock);
    for (const PlanRow& row : p.plan.rows)
        if (p.doneRows.count(row.row) == 0) return &row;
    return nullptr;
}

bool AllDone(Provisioning& p) { return FirstRowNotDone(p) == nullptr; }

// Appends the record; on success with "ok" the row counts as done.
bool Record(Provisioning& p, AuditRecord record) {
    record.time = AuditTimeNow();
    std::string error;
    std::lock_guard<std::mutex> hold(p.lock);
    if (!AuditLogAppend(&p.log, FormatAuditRecord(record), &error)) {
        CliWrite(stderr, "tavrolin-cli: " + error + "\n");
        return false;
    }
    if (record.result == "ok") {
        p.doneRows.insert(record.row);
        p.doneRecords.push_back(record);
    }
    return true;
}

// One reader that answered with store: the row it gets (fixed in port
// mode, the first not done in line mode), the write and its record.
// r.exitCode is the outcome; r.summary or r.message the line to show.
PortResult ProvisionReader(Provisioning& p, ReaderSession& session, const DeviceInfoStore& store, const PlanRow* fixed) {
    PortResult r;
    r.port = session.port;
    r.json = Json::object();
    const int type = store.deviceType;
    if (!HasDevicePage(type)) {
        r.exitCode = EXIT_UNSUPPORTED;
        r.message = "a reader of device type " + std::to_string(type) + " answered; it has no settings here";
        return r;
    }
    if (p.base.deviceType >= 0 && p.base.deviceType != type) {
        r.exitCode = EXIT_REFUSED;
        r.message = "a " + std::string(DeviceTypeName(type)) + " answered, but " + p.options.baseFile + " is for a " +
                    DeviceTypeName(p.base.deviceType) + "; nothing written";
        return r;
    }
    const int heldRow = fixed == nullptr ? RowAlreadyHeld(p, store) : 0;
    if (heldRow != 0) {
        r.json["row"] = heldRow;
        r.summary = "row " + std::to_string(heldRow) + ": the same reader again (it holds that row's settings); "
                    "nothing written";
        return r;
    }
    const PlanRow* row = fixed != nullptr ? fixed : FirstRowNotDone(p);
    if (row == nullptr) return r;
    r.json["row"] = row->row;
    const std::string label = RowLabel(*row);
    const std::string name = "row " + std::to_string(row->row) + ": " + (label.empty() ? "" : label + " ");

    // The record the row gives this reader, checked before anything is sent.
    PortResult check;
    check.port = r.port;
    check.json = Json::object();
    ApplyToReader(ApplyOptionsFor(p, *row, true), session, store, check);
    if (check.exitCode != EXIT_OK) {
        r.exitCode = check.exitCode;
        r.message = PlanWhere(p, row->row) + ": " + check.message;
        return r;
    }
    std::vector<uint8_t> record;
    HexToBytes(check.json["record"].get<std::string>(), &record);

    AuditRecord entry;
    entry.port = session.port;
    entry.row = row->row;
    entry.deviceType = type;
    entry.firmwareVersion = GbkForDisplay(ViewForPage(type, store).firmwareVersion);
    entry.before = DocumentFromStore(store);
    entry.written = OverlayFields(RowOverlay(p.base, *row));
    entry.record = check.json["record"].get<std::string>();
    if (VerifyWritten(type, record, store).empty()) {
        // Written by a run that was stopped before it could log it.
        entry.result = "ok";
        entry.note = "the reader held these settings already; nothing sent";
        r.summary = name + "held already, nothing sent";
    } else {
        PortResult applied;
        applied.port = r.port;
        applied.json = Json::object();
        ApplyToReader(ApplyOptionsFor(p, *row, false), session, store, applied);
        entry.result = applied.exitCode == EXIT_OK ? "ok" : ExitCodeName(applied.exitCode);
        r.exitCode = applied.exitCode;
        r.message = name + "not done: " + applied.message;
        r.summary = name + "written and verified";
    }
    if (!Record(p, entry)) {
        r.exitCode = EXIT_FAILURE_OTHER;
        r.message = name + "the log could not be written; stopped";
    }
    r.json["result"] = r.exitCode == EXIT_OK ? "ok" : ExitCodeName(r.exitCode);
    return r;
}

enum Probe { PROBE_ABSENT, PROBE_SILENT, PROBE_ANSWERED, PROBE_TOO_OLD };

// Asks the port once, opening it when it is not open; a port that cannot
// be opened or went away is closed again and counts as absent.
Probe Ask(Provisioning& p, ReaderSession& session, bool* open, DeviceInfoStore* store) {
    std::string error;
    if (!*open) {
        if (!SessionOpen(&session, p.options.port, p.options.trace, &error)) return PROBE_ABSENT;
        *open = true;
    }
    const SessionResult result = SessionQueryInfo(&session, store, p.options.pollMs);
    if (result == SESSION_OK) return PROBE_ANSWERED;
    if (result == SESSION_TOO_OLD) return PROBE_TOO_OLD;
    if (result == SESSION_NO_REPLY) return PROBE_SILENT;
    SessionClose(&session);
    *open = false;
    return PROBE_ABSENT;
}

// Asks every pollMs until the reader has stopped answering: two queries
// unanswered in a row, or the port gone.
void WaitUntilGone(Provisioning& p, ReaderSession& session, bool* open) {
    int unanswered = 0;
    while (unanswered < 2 && !g_stopRequested) {
        const int64_t start = CliNowMs();
        DeviceInfoStore store;
        const Probe probe = Ask(p, session, open, &store);
        if (probe == PROBE_ABSENT) return;
        unanswered = probe == PROBE_SILENT ? unanswered + 1 : 0;
        SleepMs(p.options.pollMs - static_cast<int>(CliNowMs() - start));
    }
}

std::string ResumeHint(const Provisioning& p) {
    return "interrupted; the log " + p.logPath + " holds every reader finished so far. Run the same command again to "
           "go on with the rows not done.";
}

int LineMode(Provisioning& p) {
    ReaderSession session;
    bool open = false;
    int code = EXIT_OK;
    Say(p, "waiting for a reader on " + p.options.port + " (" + std::to_string(p.plan.rows.size() - p.doneRows.size()) +
               " of " + std::to_string(p.plan.rows.size()) + " rows to do)",
        Json{{"waiting", p.options.port}});
    while (!g_stopRequested && !AllDone(p)) {
        const int64_t start = CliNowMs();
        DeviceInfoStore store;
        const Probe probe = Ask(p, session, &open, &store);
        if (probe == PROBE_ABSENT || probe == PROBE_SILENT) {
            SleepMs(p.options.pollMs - static_cast<int>(CliNowMs() - start));
            continue;
        }
        PortResult r;
        if (probe == PROBE_TOO_OLD) {
            r.exitCode = EXIT_UNSUPPORTED;
            r.message = ExplainSession(SESSION_TOO_OLD, session, "", 0);
        } else {
            r = ProvisionReader(p, session, store, nullptr);
        }
        Json json = r.json;
        json["port"] = p.options.port;
        if (r.exitCode == EXIT_OK) {
            Say(p, r.summary + " - connect the next reader", json);
        } else {
            json["message"] = r.message;
            Say(p, r.message + " - connect the next reader", json);
            if (r.exitCode == EXIT_USAGE || r.exitCode == EXIT_FAILURE_OTHER ||
                (r.exitCode == EXIT_REFUSED && r.json.contains("row"))) {
                code = r.exitCode;  // the plan or the log must be mended first
                break;
            }
        }
        WaitUntilGone(p, session, &open);
    }
    if (open) SessionClose(&session);
    if (code != EXIT_OK) return code;
    if (!AllDone(p)) {
        CliWrite(stderr, "tavrolin-cli: " + ResumeHint(p) + "\n");
        return EXIT_INTERRUPTED;
    }
    Say(p, "all " + std::to_string(p.plan.rows.size()) + " rows done; the log is " + p.logPath,
        Json{{"done", p.plan.rows.size()}, {"log", p.logPath}});
    return EXIT_OK;
}

int PortMode(Provisioning& p) {
    std::vector<const PlanRow*> rows;
    for (const PlanRow& row : p.plan.rows)
        if (p.doneRows.count(row.row) == 0) rows.push_back(&row);
    std::vector<PortResult> results(rows.size());
    std::vector<std::thread> threads;
    // One thread per row; each writes only its own slot of results.
    for (size_t i = 0; i < rows.size(); ++i) {
        threads.emplace_back([&p, &rows, &results, i] {
            PortResult& r = results[i];
            ReaderSession session;
            DeviceInfoStore store;
            std::string error;
            if (!SessionOpen(&session, rows[i]->port, p.options.trace, &error)) {
                r.port = rows[i]->port;
                r.exitCode = EXIT_PORT;
                r.message = error;
                return;
            }
            const SessionResult asked = SessionQueryInfo(&session, &store, p.options.timeoutMs);
            if (asked != SESSION_OK) {
                r.port = rows[i]->port;
                r.exitCode = ExitForSession(asked);
                r.message = ExplainSession(asked, session, "information reply", p.options.timeoutMs);
            } else {
                r = ProvisionReader(p, session, store, rows[i]);
            }
            SessionClose(&session);
        });
    }
    for (std::thread& t : threads) t.join();
    int code = EXIT_OK;
    for (size_t i = 0; i < rows.size(); ++i) {
        PortResult& r = results[i];
        if (r.exitCode != EXIT_OK && code == EXIT_OK) code = r.exitCode;
        if (p.options.json) {
            Json json = r.json;
            json["port"] = r.port;
            json["row"] = rows[i]->row;
            if (r.exitCode != EXIT_OK) json["message"] = r.message;
            Say(p, "", json);
        } else {
            CliWrite(stdout, SummaryLine(r) + "\n");
        }
    }
    if (code == EXIT_OK && g_stopRequested && !AllDone(p)) code = EXIT_INTERRUPTED;
    return code;
}

}  // namespace

std::string DefaultLogPath(const std::string& planFile) {
    std::string stem = planFile;
    const size_t slash = stem.find_last_of("/\\");
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string ext = stem.substr(dot);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".csv") stem.resize(dot);
    }
    return stem + ".log.jsonl";
}

int RunProvision(const ProvisionOptions& options) {
    Provisioning p;
    p.options = options;
    std::string bytes, error;
    if (!ReadWholeFile(options.planFile, &bytes)) {
        CliWrite(stderr, "tavrolin-cli: cannot read " + options.planFile + "\n");
        return EXIT_USAGE;
    }
    if (!options.baseFile.empty()) {
        std::string text;
        InputError bad;
        if (!ReadWholeFile(options.baseFile, &text)) {
            CliWrite(stderr, "tavrolin-cli: cannot read " + options.baseFile + "\n");
            return EXIT_USAGE;
        }
        if (!ParseDocument(text, options.baseFile, &p.base, &bad)) {
            CliWrite(stderr, "tavrolin-cli: " + bad.message + "\n");
            return bad.exitCode;
        }
    }
    if (options.dryRun && options.baseFile.empty()) {
        CliWrite(stderr, "tavrolin-cli: --dry-run needs --base (the document the rows are put over)\n");
        return EXIT_USAGE;
    }

    // The whole plan is checked before any port is opened.
    std::vector<std::string> problems;
    std::vector<PortResult> records;
    int code = ParsePlan(bytes, options.planFile, p.base, &p.plan, &problems);
    if (code == 0 && p.base.deviceType >= 0) code = CheckRowsAgainstBase(p, &problems, &records);
    if (code == 0 && p.plan.hasPortColumn && !options.port.empty()) {
        problems.push_back(options.planFile + ": the plan names a port for every row; leave --port out");
        code = EXIT_USAGE;
    }
    if (code == 0 && !p.plan.hasPortColumn && options.port.empty() && !options.dryRun) {
        problems.push_back(options.planFile + ": the plan has no port column; give the port the readers come to with --port");
        code = EXIT_USAGE;
    }
    if (code != 0) {
        for (const std::string& line : problems) CliWrite(stderr, line + "\n");
        CliWrite(stderr, "tavrolin-cli: " + std::to_string(problems.size()) + " problem(s) in " + options.planFile +
                             "; nothing written\n");
        return code;
    }
    if (options.dryRun) {
        for (size_t i = 0; i < p.plan.rows.size(); ++i) {
            const PortResult& r = records[i];
            Json json = r.json;
            json["row"] = p.plan.rows[i].row;
            std::string text = r.text;
            while (!text.empty() && text.back() == '\n') text.pop_back();
            Say(p, "row " + std::to_string(p.plan.rows[i].row) + ": " + text, json);
        }
        return EXIT_OK;
    }

    p.logPath = options.logFile.empty() ? DefaultLogPath(options.planFile) : options.logFile;
    code = LoadLog(p);
    if (code == EXIT_OK) {
        if (AllDone(p)) {
            Say(p, "every row of " + options.planFile + " is done already (see " + p.logPath + ")",
                Json{{"done", p.plan.rows.size()}, {"log", p.logPath}});
        } else {
            CatchStopRequests();
            code = p.plan.hasPortColumn ? PortMode(p) : LineMode(p);
        }
    }
    AuditLogClose(&p.log);
    return code;
}

int RunScan(const std::vector<std::string>& given, bool json, bool trace, int timeoutMs) {
    const std::vector<std::string> ports = given.empty() ? LineEnumerate() : given;
    std::vector<Json> found(ports.size());
    std::vector<std::thread> threads;
    // One thread per port; each writes only its own slot of found.
    for (size_t i = 0; i < ports.size(); ++i) {
        threads.emplace_back([&, i] {
            ReaderSession session;
            DeviceInfoStore store;
            std::string error;
            if (!SessionOpen(&session, ports[i], trace, &error)) return;
            if (SessionQueryInfo(&session, &store, timeoutMs) == SESSION_OK) {
                const Json fields = FieldsFromStore(store);
                Json& f = found[i];
                f["port"] = ports[i];
                f["deviceType"] = store.deviceType;
                f["firmwareVersion"] = GbkForDisplay(ViewForPage(store.deviceType, store).firmwareVersion);
                if (fields.contains("ipAddress")) f["ipAddress"] = fields["ipAddress"];
                const bool byId = fields.contains("connectMode") && fields["connectMode"] == 0;
                if (byId && fields.contains("deviceId")) f["deviceId"] = fields["deviceId"];
                else if (fields.contains("deviceName")) f["deviceName"] = fields["deviceName"];
            }
            SessionClose(&session);
        });
    }
    for (std::thread& t : threads) t.join();
    Json list = Json::array();
    std::string lines;
    for (const Json& f : found) {
        if (f.is_null()) continue;
        list.push_back(f);
        char head[160];
        std::snprintf(head, sizeof head, "%-24s type %-3d %-22s firmware %-10s ip %-15s ", f["port"].get<std::string>().c_str(),
                      f["deviceType"].get<int>(), DeviceTypeName(f["deviceType"].get<int>()),
                      f["firmwareVersion"].get<std::string>().c_str(),
                      f.contains("ipAddress") ? f["ipAddress"].get<std::string>().c_str() : "-");
        lines += head;
        lines += f.contains("deviceId") ? "deviceId " + f["deviceId"].dump()
                 : f.contains("deviceName") ? "name " + (f["deviceName"].is_string() ? f["deviceName"].get<std::string>()
                                                                                     : f["deviceName"].dump())
                                            : std::string();
        lines += "\n";
    }
    CliWrite(stdout, json ? list.dump(2) + "\n" : lines);
    CliWrite(stderr, std::to_string(ports.size()) + " port(s) asked, " + std::to_string(list.size()) +
                         " reader(s) answered\n");
    return EXIT_OK;
}
