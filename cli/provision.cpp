#include "cli/provision.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/audit_log.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/provision_engine.h"
#include "cli/report.h"
#include "cli/session.h"
#include "document/text_codec.h"
#include "serial/line.h"

using Json = nlohmann::ordered_json;

namespace {

// Set by the signal (console) handler, read by the engine and the watcher.
std::atomic<bool> g_stopRequested{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_stopRequested) return FALSE;  // the second Ctrl-C ends the program at once
    g_stopRequested = true;
    return TRUE;
}
#else
void OnSignal(int signal) {
    g_stopRequested = true;
    std::signal(signal, SIG_DFL);  // the second one ends the program at once
}
#endif

void CatchStopRequests() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#endif
}

// "row 8 门禁-07 10.0.7.27", and the port in port mode.
std::string Box(const RowView& r) {
    std::string text = "row " + std::to_string(r.row);
    if (!r.name.empty()) text += " " + r.name;
    if (!r.address.empty()) text += " " + r.address;
    if (!r.port.empty()) text += " (" + r.port + ")";
    return text;
}

std::string Progress(const ProvisionEvent& e) {
    return "[" + std::to_string(e.done) + "/" + std::to_string(e.total) + "] ";
}

std::string PendingWhy(PendingReason reason) {
    switch (reason) {
    case PENDING_NO_ACK: return "no acknowledgement, and the reader did not answer the check";
    case PENDING_NO_ACK_OTHER: return "no acknowledgement, and the reader now reports other settings";
    case PENDING_LINE_LOST: return "the line was lost right after the write";
    case PENDING_NO_CHECK: return "acknowledged, but the reader did not answer the check";
    case PENDING_UNVERIFIED: return "acknowledged, but the reader reports other settings";
    default: return "the run that wrote it ended before it could record the outcome";
    }
}

std::string Elapsed(long long ms) {
    char text[32];
    if (ms < 60000) std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    else std::snprintf(text, sizeof text, "%lld min %lld s", ms / 60000, ms / 1000 % 60);
    return text;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& i : items) text += (text.empty() ? "" : ", ") + i;
    return text.empty() ? "none found" : text;
}

// What to do after a reader, unless the run ends with it.
std::string Next(const ProvisionEvent& e, bool lineMode, bool stopping) {
    const bool toDo = e.done + e.pendingRows < e.total;
    return toDo && !stopping && lineMode ? " and connect the next reader" : "";
}

}  // namespace

std::string ProvisionLine(const ProvisionEvent& e, bool lineMode, bool stopping) {
    const std::string next = Next(e, lineMode, stopping), unplug = lineMode ? " - unplug it" + next : "";
    switch (e.kind) {
    case EV_WAITING:
        return "waiting for a reader on " + e.port + " (" + std::to_string(e.total) + " rows: " +
               std::to_string(e.total - e.done - e.pendingRows) + " to do, " + std::to_string(e.done) + " done" +
               (e.pendingRows > 0 ? ", " + std::to_string(e.pendingRows) + " pending" : "") + ")";
    case EV_PORT_MISSING:
        return e.detail + "; ports present: " + Joined(e.portsPresent) + " - waiting for " + e.port +
               " (check the adapter and the port's name; Ctrl-C to stop)";
    case EV_PORT_BACK: return e.port + " is there again";
    case EV_NO_ANSWER:
        return "no reader has answered on " + e.port + " yet: is it the right port? Ports present: " + Joined(e.portsPresent);
    case EV_DONE: {
        const char* how = e.how == DONE_ACK_LOST  ? " written and verified (its acknowledgement was lost)"
                        : e.how == DONE_RESOLVED  ? " verified: its reader came back holding the row (it was pending)"
                        : e.how == DONE_HELD_ALREADY ? " held already (written by a run that was stopped); logged, nothing sent"
                                                     : " written and verified";
        return Progress(e) + Box(e.row) + how + unplug;
    }
    case EV_NOT_TAKEN:
        if (e.attempt < MAX_WRITE_ATTEMPTS)
            return Box(e.row) + ": not taken (no acknowledgement, and the reader still reports its former settings) - "
                                "writing it again (attempt " + std::to_string(e.attempt + 1) + " of " +
                   std::to_string(MAX_WRITE_ATTEMPTS) + ")";
        return Progress(e) + Box(e.row) + ": the reader did not take the write " + std::to_string(e.attempt) +
               " times; nothing changed - unplug it (it may be faulty)" + next;
    case EV_PENDING: {
        std::string line = Progress(e) + Box(e.row) + " pending: " + PendingWhy(e.row.pending);
        if (!e.detail.empty()) line += " (" + e.detail + ")";
        if (!lineMode) return line + " - reconnect its reader on " + e.row.port + " and run the same command again";
        if (e.readerPresent)
            return line + " - if you swapped readers, reconnect the one just written (" + Box(e.row) +
                   "); otherwise this reader may be faulty: unplug it";
        return line + " - reconnect the reader just written so it can be checked, or connect the next reader";
    }
    case EV_SAME_READER:
        return Progress(e) + Box(e.row) + ": the same reader again (it holds this row); nothing written" + unplug;
    case EV_CANNOT_TELL:
        return Box(e.row) + " stays pending: this reader has the settings its reader had before and cannot be told from it" +
               (e.given.row > 0 ? "; it gets row " + std::to_string(e.given.row) + " instead (if it is that reader, release row " +
                                      std::to_string(e.row.row) + " with --release " + std::to_string(e.row.row) + " once checked)"
                                : "");
    case EV_REFUSED:
        if (e.row.row == 0 && e.endsRun) return "tavrolin-cli: " + e.detail + "; nothing written";
        if (e.row.row == 0) return e.detail + "; nothing written" + unplug;
        if (e.endsRun) return Box(e.row) + ": " + e.detail + "; nothing written - mend the plan and run the same command again";
        return Box(e.row) + ": " + e.detail + "; nothing written" + unplug;
    case EV_NOTHING_LEFT:
        return "a reader answered, but no row is left for it: " + std::to_string(e.pendingRows) +
               " pending row(s) wait for their own readers - unplug it (Ctrl-C to stop)";
    case EV_WARNING: return "tavrolin-cli: warning: " + Box(e.row) + ": " + e.detail;
    case EV_STILL_THERE: return "the reader still answers - unplug it to go on";
    case EV_FILE_FAILED:
        return "tavrolin-cli: " + e.detail + "; stopped" +
               (e.row.row > 0 ? " - " + Box(e.row) + " may be on the reader connected now: keep it connected, free the disk "
                                                     "and run the same command again"
                              : "");
    default: return "";  // the reader seen, the write begun, the reader gone, the stop noticed: nothing to act on
    }
}

namespace {

Json RowJson(const RowView& r) {
    static const char* const STATES[] = {"to do", "done", "pending"};
    Json j{{"row", r.row}, {"name", r.name}, {"address", r.address}, {"state", STATES[r.state]}};
    if (!r.port.empty()) j["port"] = r.port;
    if (r.state == ROW_PENDING) j["pending"] = PendingWhy(r.pending);
    if (r.lastFailure != 0) j["lastFailure"] = ExitCodeName(r.lastFailure);
    return j;
}

// The lines a technician acts on, for the engine's events.
class ConsolePrinter : public ProvisionObserver {
public:
    explicit ConsolePrinter(const ProvisionOptions& o) : options(o) {}

    void OnEvent(const ProvisionEvent& e) override {
        if (options.json) return PrintJson(e);
        if (e.kind == EV_PLAN_CHECKED) return Checked(e);
        if (e.kind == EV_SUMMARY) return Summary(e);
        if (e.kind == EV_STOPPING) return Stopping();
        const std::string line = ProvisionLine(e, !options.port.empty(), g_stopRequested);
        if (line.empty()) return;
        if (e.kind == EV_WARNING || e.kind == EV_FILE_FAILED || (e.kind == EV_REFUSED && e.endsRun)) Err(line);
        else Out(line);
    }

    // Ctrl-C's acknowledgement: from the watcher at once, or when the
    // engine notices, whichever comes first.
    void Stopping() {
        if (!options.json && !acknowledged.exchange(true)) Out("stopping after this reader (Ctrl-C again stops at once)");
    }

private:
    void Out(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        CliWrite(stdout, line + "\n");
    }
    void Err(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        CliWrite(stderr, line + "\n");
    }

    void PrintJson(const ProvisionEvent& e) {
        static const char* const KINDS[] = {"plan checked", "waiting", "port missing", "port back", "no answer",
                                            "reader seen", "writing", "done", "not taken", "pending", "same reader",
                                            "cannot tell", "refused", "nothing left", "warning", "still there",
                                            "reader gone", "stopping", "file failed", "summary"};
        ::Json j{{"event", KINDS[e.kind]}, {"done", e.done}, {"total", e.total}};
        if (!e.port.empty()) j["port"] = e.port;
        if (e.row.row > 0) j["row"] = RowJson(e.row);
        if (e.given.row > 0) j["given"] = RowJson(e.given);
        if (!e.detail.empty()) j["message"] = e.detail;
        if (e.exitCode != 0) j["exitCode"] = e.exitCode;
        if (e.kind == EV_WRITING || e.kind == EV_NOT_TAKEN) j["attempt"] = e.attempt;
        if (e.kind == EV_DONE) j["how"] = e.how == DONE_WRITTEN ? "written" : e.how == DONE_ACK_LOST ? "ack lost"
                                          : e.how == DONE_RESOLVED ? "resolved" : "held already";
        if (e.kind == EV_READER_SEEN) j["deviceType"] = e.deviceType, j["firmwareVersion"] = e.firmware;
        if (!e.portsPresent.empty()) j["portsPresent"] = e.portsPresent;
        if (e.kind == EV_PLAN_CHECKED) {
            ::Json problems = ::Json::array(), rows = ::Json::array();
            for (const PlanProblem& p : e.problems) problems.push_back(PlanProblemLine(e.planFile, p));
            for (const std::string& p : e.logProblems) problems.push_back(p);
            for (const PlanWarning& w : e.warnings) problems.push_back("warning: rows " + RowsText(w.rows) + ": " + w.text);
            for (const RowView& r : e.rows) rows.push_back(RowJson(r));
            j["problems"] = problems;
            j["rows"] = rows;
            for (const auto& r : e.records) j["records"].push_back({{"row", r.first}, {"record", r.second}});
        }
        if (e.kind == EV_SUMMARY) {
            const ProvisionSummary& s = e.summary;
            j["summary"] = {{"done", s.done}, {"doneNow", s.doneThisRun}, {"pending", s.pending}, {"toDo", s.toDo},
                            {"failedAttempts", s.failedAttempts}, {"elapsedMs", s.elapsedMs}};
            for (const RowView& r : s.pendingRows) j["pending"].push_back(RowJson(r));
        }
        Out(j.dump(-1, ' ', false, ::Json::error_handler_t::replace));
    }

    void Checked(const ProvisionEvent& e) {
        for (const PlanProblem& p : e.problems) Err(PlanProblemLine(e.planFile, p));
        for (const std::string& p : e.logProblems) Err("tavrolin-cli: " + p);
        for (const PlanWarning& w : e.warnings)
            Err(e.planFile + (w.column > 0 ? ":1:" + std::to_string(w.column) : "") + ": warning: row" +
                (w.rows.size() > 1 ? "s " : " ") + RowsText(w.rows) + ": " + w.text);
        if (!e.logWarning.empty()) Err("tavrolin-cli: warning: " + e.logWarning);
        const size_t count = e.problems.size() + e.logProblems.size();
        if (count > 0)
            Err("tavrolin-cli: " + std::to_string(count) + " problem(s) in " + e.planFile + "; nothing written");
        for (const auto& r : e.records) Out("row " + std::to_string(r.first) + ": " + r.second);
        if (count == 0 && options.dryRun)
            Out(e.planFile + ": " + std::to_string(e.total) + " rows checked: " +
                std::to_string(e.total - e.done - e.pendingRows) + " to do, " + std::to_string(e.done) + " done, " +
                std::to_string(e.pendingRows) + " pending");
    }

    void Summary(const ProvisionEvent& e) {
        const ProvisionSummary& s = e.summary;
        Out("summary: " + std::to_string(s.done) + " of " + std::to_string(s.total) + " rows done (" +
            std::to_string(s.doneThisRun) + " in this run), " + std::to_string(s.pending) + " pending, " +
            std::to_string(s.toDo) + " skipped, " + std::to_string(s.failedAttempts) + " failed attempt(s), " +
            Elapsed(s.elapsedMs));
        for (const RowView& r : s.pendingRows)
            Out("pending: " + Box(r) + " (" + PendingWhy(r.pending) + ") - reconnect its reader and run the same command "
                "again; or once you have checked that no reader holds it, release it with --release " +
                std::to_string(r.row));
        if (e.exitCode == EXIT_OK) Out("all " + std::to_string(s.total) + " rows done; the log is " + LogName());
        if (e.exitCode == EXIT_INTERRUPTED || e.exitCode == EXIT_PENDING)
            Err("tavrolin-cli: " + std::string(e.exitCode == EXIT_PENDING ? "rows pending" : "interrupted") +
                "; the log " + LogName() + " holds every reader finished so far. Run the same command again to go on "
                "with the rows not done.");
    }

    std::string LogName() const { return LogPathFor(options.planFile, options.logFile); }

    const ProvisionOptions& options;
    std::mutex lock;  // the engine's thread and the watcher write lines
    std::atomic<bool> acknowledged{false};
};

}  // namespace

int RunProvision(const ProvisionOptions& options) {
    ProvisionSetup setup;
    setup.planFile = options.planFile;
    setup.port = options.port;
    setup.baseFile = options.baseFile;
    setup.logFile = options.logFile;
    setup.trace = options.trace;
    setup.pollMs = options.pollMs;
    setup.timeoutMs = options.timeoutMs;
    setup.release = options.release;
    ConsolePrinter printer(options);
    if (options.dryRun) return CheckProvisionPlan(setup, printer);

    // Ctrl-C is acknowledged at once; the engine ends after its reader.
    CatchStopRequests();
    std::mutex lock;
    std::condition_variable finished;
    bool over = false;
    std::thread watcher([&] {
        std::unique_lock<std::mutex> hold(lock);
        while (!over && !g_stopRequested) finished.wait_for(hold, std::chrono::milliseconds(50));
        if (!over) printer.Stopping();
    });
    const int code = RunProvisionEngine(setup, printer, g_stopRequested);
    {
        std::lock_guard<std::mutex> hold(lock);
        over = true;
    }
    finished.notify_all();
    watcher.join();
    return code;
}

int RunReport(const std::string& logFile, const std::string& csvFile, bool json) {
    std::string error;
    AuditLog log;
    if (!ReadAuditLogFile(logFile, &log, &error)) {
        CliWrite(stderr, "tavrolin-cli: " + error + "\n");
        return EXIT_USAGE;
    }
    if (!log.warning.empty()) CliWrite(stderr, "tavrolin-cli: warning: " + log.warning + "\n");
    const Report report = BuildReport(log);
    if (json) {
        Json rows = Json::array();
        for (const ReportRow& r : report.rows)
            rows.push_back({{"row", r.row}, {"name", r.name}, {"address", r.address}, {"port", r.port},
                            {"deviceType", r.deviceType}, {"firmwareVersion", r.firmware}, {"result", r.result},
                            {"attempts", r.attempts}, {"time", r.time}});
        CliWrite(stdout, rows.dump(2) + "\n");
    } else {
        CliWrite(stdout, ReportText(report));
    }
    if (!csvFile.empty()) {
        std::FILE* out = std::fopen(csvFile.c_str(), "wb");
        const std::string csv = ReportCsv(report);
        const bool ok = out != nullptr && std::fwrite(csv.data(), 1, csv.size(), out) == csv.size();
        if (out != nullptr && std::fclose(out) != 0) return EXIT_FAILURE_OTHER;
        if (!ok) {
            CliWrite(stderr, "tavrolin-cli: cannot write " + csvFile + "\n");
            return EXIT_FAILURE_OTHER;
        }
    }
    return EXIT_OK;
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
