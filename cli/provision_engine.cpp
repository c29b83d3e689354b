#include "cli/provision_engine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "cli/audit_log.h"
#include "cli/exit_codes.h"
#include "cli/held_file.h"
#include "cli/provision_rows.h"
#include "cli/trace.h"
#include "document/reader_record.h"
#include "document/text_codec.h"
#include "serial/line.h"

using Json = nlohmann::ordered_json;

namespace {

// Said once when a port stays open but silent, and when a reader asked to
// leave keeps answering.
constexpr int64_t NO_ANSWER_NOTICE_MS = 15000;
constexpr int64_t STILL_THERE_NOTICE_MS = 20000;
// A port that was there and went away is said after this long away.
constexpr int64_t PORT_AWAY_NOTICE_MS = 20000;

void SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string FirmwareOf(const DeviceInfoStore& store) {
    return GbkForDisplay(ViewForPage(store.deviceType, store).firmwareVersion);
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

struct Engine {
    Engine(const ProvisionSetup& s, ProvisionObserver& o, const std::atomic<bool>& st)
        : setup(s), observer(o), stop(st), logPath(LogPathFor(s.planFile, s.logFile)), undoPath(UndoPathForLog(logPath)) {}
    const ProvisionSetup& setup;
    ProvisionObserver& observer;
    const std::atomic<bool>& stop;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    Plan plan;
    Overlay base;              // --base's values; deviceType -1 without
    std::string logPath, undoPath;
    HeldFile log, undo;
    std::vector<PortHold> holds;

    // Shared by the port threads of port mode, guarded by lock.
    std::mutex lock;
    RowTable table;
    std::string runId;
    int attempts = 0;
    int doneThisRun = 0, failedAttempts = 0;
    bool filesFailed = false;
    bool warned[NET_WARNING_KINDS] = {};

    std::mutex eventLock;      // one event at a time to the observer
    std::atomic<bool> stopSaid{false};
};

// An event with the progress and, for slot (or none), the row's view.
ProvisionEvent MakeEvent(Engine& e, ProvisionEventKind kind, const std::string& port, const RowSlot* slot = nullptr) {
    ProvisionEvent ev;
    ev.kind = kind;
    ev.port = port;
    std::lock_guard<std::mutex> hold(e.lock);
    for (const RowSlot& s : e.table.slots) {
        ev.done += s.view.state == ROW_DONE;
        ev.pendingRows += s.view.state == ROW_PENDING;
    }
    ev.total = static_cast<int>(e.table.slots.size());
    if (slot != nullptr) ev.row = slot->view;
    return ev;
}

void Emit(Engine& e, const ProvisionEvent& ev) {
    std::lock_guard<std::mutex> hold(e.eventLock);
    e.observer.OnEvent(ev);
}

bool Stopping(Engine& e) {
    if (!e.stop) return false;
    if (!e.stopSaid.exchange(true)) Emit(e, MakeEvent(e, EV_STOPPING, e.setup.port));
    return true;
}

// Appends to one of the run's files; a failure stops the run (said once).
bool Append(Engine& e, HeldFile& file, const AuditRecord& record, bool redact, const std::string& port,
            const RowSlot* slot) {
    std::string error;
    {
        std::lock_guard<std::mutex> hold(e.lock);
        if (!e.filesFailed && HeldFileAppend(&file, FormatAuditRecord(record, redact), &error)) return true;
        if (e.filesFailed) return false;
        e.filesFailed = true;
    }
    ProvisionEvent ev = MakeEvent(e, EV_FILE_FAILED, port, slot);
    ev.exitCode = EXIT_FAILURE_OTHER;
    ev.detail = error;
    Emit(e, ev);
    return false;
}

bool LogRecord(Engine& e, AuditRecord record, const std::string& port = "", const RowSlot* slot = nullptr) {
    record.time = AuditTimeNow();
    return Append(e, e.log, record, true, port, slot);
}

std::string NextAttempt(Engine& e) {
    std::lock_guard<std::mutex> hold(e.lock);
    return e.runId + "." + std::to_string(++e.attempts);
}

// A log line for what a reader that answered with store did (slot: the
// row it concerns, or none).
AuditRecord Exchange(Engine& e, const std::string& port, const DeviceInfoStore& store, const RowSlot* slot) {
    AuditRecord r;
    r.port = port;
    r.row = slot != nullptr ? slot->view.row : 0;
    r.deviceType = store.deviceType;
    r.firmwareVersion = FirmwareOf(store);
    r.before = DocumentFromStore(store);
    r.written = slot != nullptr ? OverlayFields(RowOverlay(e.base, *slot->plan)) : Json::object();
    return r;
}

// What a reader's answer led to: a failure that ends the run, the exit
// code of the row (port mode), and whether to wait for the reader to leave
// (the settings it answered with last).
struct Handled {
    int fatal = 0;
    int result = 0;
    bool wait = false;
    Json lastSeen;
    int row = 0;
};

Handled Wait(const DeviceInfoStore& store, int row, int result = 0) {
    Handled h;
    h.wait = true;
    h.lastSeen = DocumentFromStore(store);
    h.row = row;
    h.result = result;
    return h;
}

Handled Fatal(int code) {
    Handled h;
    h.fatal = h.result = code;
    return h;
}

// A reader, or a row for it, refused. unread: the reader's settings are
// not known (it could not be asked, or is too old to be read).
Handled RefuseReader(Engine& e, const std::string& port, const DeviceInfoStore& store, RowSlot* slot, int code,
                     const std::string& message, bool unread = false, bool endsRun = false) {
    AuditRecord r = Exchange(e, port, store, slot);
    if (unread) r.before = Json::object(), r.deviceType = 0, r.firmwareVersion.clear();
    r.result = ExitCodeName(code);
    r.note = message;
    if (slot != nullptr) {
        std::lock_guard<std::mutex> hold(e.lock);
        ++e.failedAttempts;
        ++slot->view.failedAttempts;
        slot->view.lastFailure = code;
        slot->view.time = AuditTimeNow();
    }
    ProvisionEvent ev = MakeEvent(e, EV_REFUSED, port, slot);
    ev.exitCode = code;
    ev.detail = message;
    ev.endsRun = endsRun;
    Emit(e, ev);
    if (!LogRecord(e, r, port, slot)) return Fatal(EXIT_FAILURE_OTHER);
    return unread ? Handled{0, code, true, Json(), 0} : Wait(store, 0, code);
}

void Done(Engine& e, RowSlot& slot, const AuditRecord& record, DoneHow how, const std::string& port) {
    {
        std::lock_guard<std::mutex> hold(e.lock);
        slot.view.state = ROW_DONE;
        slot.view.pending = PENDING_NONE;
        slot.view.lastFailure = 0;
        slot.view.time = AuditTimeNow();
        slot.done = record;
        ++e.doneThisRun;
    }
    ProvisionEvent ev = MakeEvent(e, EV_DONE, port, &slot);
    ev.how = how;
    Emit(e, ev);
}

// The writes of row to the reader that answered with store, until one is
// taken, its outcome is in doubt, or the attempts run out.
Handled WriteRow(Engine& e, ReaderSession& session, RowSlot& slot, const DeviceInfoStore& store,
                 const std::vector<uint8_t>& record, const std::string& cannotTellNote) {
    const std::string& port = session.port;
    const Json before = DocumentFromStore(store);
    for (int attempt = 1;; ++attempt) {
        AuditRecord r = Exchange(e, port, store, &slot);
        r.record = record;
        r.result = RESULT_WRITING;
        r.attempt = NextAttempt(e);
        r.time = AuditTimeNow();
        // The undo line goes first: a run stopped after the write knows of it.
        if (!Append(e, e.undo, r, false, port, &slot)) return Fatal(EXIT_FAILURE_OTHER);
        ProvisionEvent writing = MakeEvent(e, EV_WRITING, port, &slot);
        writing.attempt = attempt;
        Emit(e, writing);

        const SessionResult ack = SessionWriteConfig(&session, record, e.setup.timeoutMs);
        DeviceInfoStore after;
        std::memset(&after, 0, sizeof after);
        const bool lost = ack == SESSION_LINE_LOST || ack == SESSION_WRITE_FAILED;
        const SessionResult check = lost ? SESSION_LINE_LOST : SessionQueryInfo(&session, &after, e.setup.timeoutMs);
        const bool answered = check == SESSION_OK;
        const bool acknowledged = ack == SESSION_OK;
        PendingReason reason = PENDING_NONE;
        if (answered && HoldsRecord(r, after)) {
            r.result = "ok";
            if (!acknowledged) r.note = "no acknowledgement within the time-out, but the reader holds the record";
        } else if (!acknowledged && answered && SameSettings(DocumentFromStore(after), before)) {
            r.result = RESULT_NOT_TAKEN;  // the reader has not left since: it is the one written
            r.note = "no acknowledgement, and the reader still reports its former settings";
        } else {
            reason = lost || check == SESSION_LINE_LOST ? PENDING_LINE_LOST
                     : acknowledged                    ? (answered ? PENDING_UNVERIFIED : PENDING_NO_CHECK)
                                                       : (answered ? PENDING_NO_ACK_OTHER : PENDING_NO_ACK);
            r.result = RESULT_PENDING;
            r.details["pending"] = PendingReasonName(reason);
            if (reason == PENDING_UNVERIFIED || reason == PENDING_NO_ACK_OTHER) {
                const std::vector<std::string> differences = VerifyWritten(store.deviceType, record, after);
                if (!differences.empty())
                    r.note = differences[0] + (differences.size() > 1 ? " (and " + std::to_string(differences.size() - 1) +
                                                                            " more)"
                                                                      : "");
            }
        }
        if (!cannotTellNote.empty()) r.note += (r.note.empty() ? "" : "; ") + cannotTellNote;
        r.time = AuditTimeNow();
        if (!Append(e, e.log, r, true, port, &slot)) {
            // Not recorded: the undo line makes it pending for the next run.
            std::lock_guard<std::mutex> hold(e.lock);
            slot.view.state = ROW_PENDING;
            slot.view.pending = PENDING_INTERRUPTED;
            return Fatal(EXIT_FAILURE_OTHER);
        }
        if (r.result == "ok") {
            Done(e, slot, r, acknowledged ? DONE_WRITTEN : DONE_ACK_LOST, port);
            return Wait(after, slot.view.row);
        }
        if (r.result == RESULT_NOT_TAKEN) {
            {
                std::lock_guard<std::mutex> hold(e.lock);
                ++e.failedAttempts;
                ++slot.view.failedAttempts;
                slot.view.lastFailure = EXIT_TIMEOUT;
                slot.view.time = r.time;
            }
            ProvisionEvent ev = MakeEvent(e, EV_NOT_TAKEN, port, &slot);
            ev.attempt = attempt;
            Emit(e, ev);
            if (attempt < MAX_WRITE_ATTEMPTS && !e.stop) continue;
            return Wait(after, slot.view.row, EXIT_TIMEOUT);
        }
        {
            std::lock_guard<std::mutex> hold(e.lock);
            ++e.failedAttempts;
            slot.view.state = ROW_PENDING;
            slot.view.pending = reason;
            slot.view.time = r.time;
            slot.pending = r;
        }
        ProvisionEvent ev = MakeEvent(e, EV_PENDING, port, &slot);
        ev.readerPresent = answered;
        ev.detail = r.note;
        Emit(e, ev);
        if (answered) return Wait(after, slot.view.row, EXIT_PENDING);
        Handled h;
        h.result = EXIT_PENDING;
        return h;
    }
}

// A reader answered with store: what it is, and what it gets. fixed: port
// mode's row for this port; nullptr in line mode (the first row to do).
Handled HandleReader(Engine& e, ReaderSession& session, const DeviceInfoStore& store, RowSlot* fixed) {
    const std::string& port = session.port;
    const int type = store.deviceType;
    ProvisionEvent seen = MakeEvent(e, EV_READER_SEEN, port, fixed);
    seen.deviceType = type;
    seen.firmware = FirmwareOf(store);
    if (HasDevicePage(type)) {
        const Json fields = FieldsFromStore(store);
        seen.readerAddress = fields.value("ipAddress", "");
        if (fields.contains("deviceName") && fields["deviceName"].is_string())
            seen.readerName = fields["deviceName"].get<std::string>();
    }
    Emit(e, seen);
    if (!HasDevicePage(type))
        return RefuseReader(e, port, store, fixed, EXIT_UNSUPPORTED,
                            "a reader of device type " + std::to_string(type) + " answered; it has no settings here");
    if (e.base.deviceType >= 0 && e.base.deviceType != type)
        return RefuseReader(e, port, store, fixed, EXIT_REFUSED,
                            "a " + std::string(DeviceTypeName(type)) + " (type " + std::to_string(type) + ") answered, but " +
                                e.setup.baseFile + " is for a " + DeviceTypeName(e.base.deviceType));

    // The reader of a done row again, or of a pending one holding its record.
    RowSlot* held = nullptr;
    RowSlot* target = fixed;
    std::vector<RowSlot*> lookalikes;  // pending rows whose reader had these settings before
    const Json now = DocumentFromStore(store);
    {
        std::lock_guard<std::mutex> hold(e.lock);
        for (RowSlot& s : e.table.slots) {
            if (held == nullptr && s.view.state == ROW_DONE && HoldsRecord(s.done, store)) held = &s;
            if (held == nullptr && s.view.state == ROW_PENDING && HoldsRecord(s.pending, store)) held = &s;
            if (s.view.state == ROW_PENDING && !HoldsRecord(s.pending, store) && SameSettings(s.pending.before, now))
                lookalikes.push_back(&s);
            if (target == nullptr && s.view.state == ROW_TO_DO) target = &s;
        }
    }
    if (held != nullptr && held->view.state == ROW_DONE) {
        AuditRecord r = Exchange(e, port, store, held);
        r.result = RESULT_SAME_READER;
        r.note = "the reader holds this row's settings already; nothing written";
        Emit(e, MakeEvent(e, EV_SAME_READER, port, held));
        if (!LogRecord(e, r, port, held)) return Fatal(EXIT_FAILURE_OTHER);
        return Wait(store, held->view.row, fixed != nullptr && fixed != held ? EXIT_REFUSED : 0);
    }
    if (held != nullptr) {
        AuditRecord r = held->pending;
        r.port = port;
        r.result = "ok";
        r.details = Json::object();
        r.note = std::string("resolved: the reader holds the row's record (pending: ") +
                 PendingReasonName(held->view.pending) + ")";
        if (!LogRecord(e, r, port, held)) return Fatal(EXIT_FAILURE_OTHER);
        Done(e, *held, r, DONE_RESOLVED, port);
        return Wait(store, held->view.row, fixed != nullptr && fixed != held ? EXIT_PENDING : 0);
    }
    RowSlot* given = target != nullptr && target->view.state == ROW_TO_DO ? target : nullptr;
    std::string cannotTell;
    for (RowSlot* p : lookalikes) {
        {
            std::lock_guard<std::mutex> hold(e.lock);
            if (p->toldLookalike) continue;
            p->toldLookalike = true;
        }
        ProvisionEvent ev = MakeEvent(e, EV_CANNOT_TELL, port, p);
        if (given != nullptr) ev.given = given->view;
        Emit(e, ev);
        cannotTell += (cannotTell.empty() ? "" : "; ") + std::string("the reader has the settings the reader of row ") +
                      std::to_string(p->view.row) + " had before: it cannot be told from it";
    }
    if (given == nullptr) {
        if (fixed != nullptr) {  // port mode: the row waits for its own reader
            ProvisionEvent ev = MakeEvent(e, EV_PENDING, port, fixed);
            ev.readerPresent = true;
            Emit(e, ev);
            return Wait(store, fixed->view.row, EXIT_PENDING);
        }
        Emit(e, MakeEvent(e, EV_NOTHING_LEFT, port));
        return Wait(store, 0);
    }

    // The record the row gives this reader, checked before anything is sent.
    const ReaderRecord built =
        RecordForReader(RowOverlay(e.base, *given->plan), e.setup.baseFile.empty() ? e.plan.file : e.setup.baseFile, store);
    if (built.exitCode != 0) {
        Handled h = RefuseReader(e, port, store, given, built.exitCode,
                                 e.plan.file + ":" + std::to_string(given->view.row) + ": " + built.message, false,
                                 fixed == nullptr);
        // The plan must be mended first: every reader of this type would be refused the same.
        if (fixed == nullptr && h.fatal == 0) h.fatal = h.result;
        return h;
    }
    for (const NetworkWarning& w : built.warnings) {
        {
            std::lock_guard<std::mutex> hold(e.lock);
            if (e.warned[w.kind]) continue;
            e.warned[w.kind] = true;
        }
        ProvisionEvent ev = MakeEvent(e, EV_WARNING, port, given);
        ev.detail = w.text;
        Emit(e, ev);
    }
    if (VerifyWritten(type, built.record, store).empty()) {
        // Written by a run that was stopped before it could log it.
        AuditRecord r = Exchange(e, port, store, given);
        r.record = built.record;
        r.result = "ok";
        r.note = "the reader held these settings already; nothing sent";
        if (!LogRecord(e, r, port, given)) return Fatal(EXIT_FAILURE_OTHER);
        Done(e, *given, r, DONE_HELD_ALREADY, port);
        return Wait(store, given->view.row);
    }
    return WriteRow(e, session, *given, store, built.record, cannotTell);
}

bool HasWork(Engine& e) {
    std::lock_guard<std::mutex> hold(e.lock);
    for (const RowSlot& s : e.table.slots)
        if (s.view.state != ROW_DONE) return true;
    return false;
}

// Line mode's port: opened when a query is due and it is closed, closed
// again when it fails. A port that cannot be opened at the start is said
// at once; later (a reader's cable with its adapter pulled is a reader
// leaving) only once it has stayed away a while.
struct Bench {
    ReaderSession session;
    bool open = false;
    bool everOpen = false;
    bool missingSaid = false;
    int64_t missingSince = -1;
};

enum Probe { PROBE_ABSENT, PROBE_SILENT, PROBE_ANSWERED, PROBE_TOO_OLD };

Probe Ask(Engine& e, Bench& b, DeviceInfoStore* store) {
    if (!b.open) {
        std::string error;
        if (!SessionOpen(&b.session, e.setup.port, e.setup.trace, &error)) {
            if (b.missingSince < 0) b.missingSince = CliNowMs();
            if (!b.missingSaid && (!b.everOpen || CliNowMs() - b.missingSince > PORT_AWAY_NOTICE_MS)) {
                b.missingSaid = true;
                ProvisionEvent ev = MakeEvent(e, EV_PORT_MISSING, e.setup.port);
                ev.detail = error;
                ev.portsPresent = LineEnumerate();
                Emit(e, ev);
            }
            return PROBE_ABSENT;
        }
        b.open = b.everOpen = true;
        b.missingSince = -1;
        if (b.missingSaid) Emit(e, MakeEvent(e, EV_PORT_BACK, e.setup.port));
        b.missingSaid = false;
    }
    const SessionResult result = SessionQueryInfo(&b.session, store, e.setup.pollMs);
    if (result == SESSION_OK) return PROBE_ANSWERED;
    if (result == SESSION_TOO_OLD) return PROBE_TOO_OLD;
    if (result == SESSION_NO_REPLY) return PROBE_SILENT;
    SessionClose(&b.session);
    b.open = false;
    return PROBE_ABSENT;
}

Handled TooOld(Engine& e, Bench& b) {
    DeviceInfoStore none;
    std::memset(&none, 0, sizeof none);
    return RefuseReader(e, b.session.port, none, nullptr, EXIT_UNSUPPORTED,
                        ExplainSession(SESSION_TOO_OLD, b.session, "information reply", 0), true);
}

// Asks every pollMs until the reader that last answered with lastSeen has
// left (two queries unanswered in a row, or the port gone): true. A reader
// that answers with other settings is another one: false, with *store.
bool WaitUntilGone(Engine& e, Bench& b, const Handled& h, DeviceInfoStore* store, bool* tooOld) {
    int unanswered = 0;
    const int64_t since = CliNowMs();
    bool reminded = false;
    while (!Stopping(e)) {
        const int64_t start = CliNowMs();
        const Probe probe = Ask(e, b, store);
        if (probe == PROBE_ABSENT) return true;
        if (probe == PROBE_TOO_OLD && !h.lastSeen.is_null()) return *tooOld = true, false;
        if (probe == PROBE_ANSWERED && !SameSettings(DocumentFromStore(*store), h.lastSeen)) return false;
        unanswered = probe == PROBE_SILENT ? unanswered + 1 : 0;
        if (unanswered >= 2) return true;
        if (!reminded && CliNowMs() - since > STILL_THERE_NOTICE_MS) {
            reminded = true;
            RowSlot* slot = nullptr;
            std::lock_guard<std::mutex> hold(e.lock);
            for (RowSlot& s : e.table.slots)
                if (s.view.row == h.row) slot = &s;
            ProvisionEvent ev;
            ev.kind = EV_STILL_THERE;
            ev.port = e.setup.port;
            if (slot != nullptr) ev.row = slot->view;
            std::lock_guard<std::mutex> events(e.eventLock);
            e.observer.OnEvent(ev);
        }
        SleepMs(e.setup.pollMs - (CliNowMs() - start));
    }
    return true;
}

int LineMode(Engine& e) {
    Bench b;
    Emit(e, MakeEvent(e, EV_WAITING, e.setup.port));
    int64_t quietSince = CliNowMs();
    bool quietSaid = false;
    while (!Stopping(e) && HasWork(e)) {
        const int64_t start = CliNowMs();
        DeviceInfoStore store;
        const Probe probe = Ask(e, b, &store);
        if (probe == PROBE_ABSENT || probe == PROBE_SILENT) {
            if (probe == PROBE_SILENT && !quietSaid && CliNowMs() - quietSince > NO_ANSWER_NOTICE_MS) {
                quietSaid = true;
                ProvisionEvent ev = MakeEvent(e, EV_NO_ANSWER, e.setup.port);
                ev.portsPresent = LineEnumerate();
                Emit(e, ev);
            }
            SleepMs(e.setup.pollMs - (CliNowMs() - start));
            continue;
        }
        quietSaid = true;  // something answers: the port is the right one
        Handled h = probe == PROBE_TOO_OLD ? TooOld(e, b) : HandleReader(e, b.session, store, nullptr);
        // Until the reader leaves (unless it was the last one needed);
        // another one answering instead is handled at once.
        while (h.fatal == 0 && h.wait && !Stopping(e) && HasWork(e)) {
            bool tooOld = false;
            if (WaitUntilGone(e, b, h, &store, &tooOld)) {
                if (!e.stop) Emit(e, MakeEvent(e, EV_READER_GONE, e.setup.port));
                break;
            }
            h = tooOld ? TooOld(e, b) : HandleReader(e, b.session, store, nullptr);
        }
        if (h.fatal != 0) {
            if (b.open) SessionClose(&b.session);
            return h.fatal;
        }
        quietSince = CliNowMs();
    }
    if (b.open) SessionClose(&b.session);
    return EXIT_OK;
}

int PortMode(Engine& e) {
    std::vector<RowSlot*> rows;
    for (RowSlot& s : e.table.slots)
        if (s.view.state != ROW_DONE) rows.push_back(&s);
    std::vector<int> codes(rows.size(), 0);
    std::vector<std::thread> threads;
    // One thread per row; each writes only its own slot of codes.
    for (size_t i = 0; i < rows.size(); ++i) {
        threads.emplace_back([&e, &rows, &codes, i] {
            RowSlot& slot = *rows[i];
            ReaderSession session;
            DeviceInfoStore store;
            std::memset(&store, 0, sizeof store);
            std::string error;
            if (!SessionOpen(&session, slot.plan->port, e.setup.trace, &error)) {
                session.port = slot.plan->port;
                codes[i] = RefuseReader(e, slot.plan->port, store, &slot, EXIT_PORT, error, true).result;
                return;
            }
            const SessionResult asked = SessionQueryInfo(&session, &store, e.setup.timeoutMs);
            if (asked == SESSION_OK) {
                codes[i] = HandleReader(e, session, store, &slot).result;
            } else {
                const std::string why = ExplainSession(asked, session, "information reply", e.setup.timeoutMs);
                codes[i] = RefuseReader(e, session.port, store, &slot, ExitForSession(asked), why, true).result;
            }
            SessionClose(&session);
        });
    }
    for (std::thread& t : threads) t.join();
    for (int code : codes)
        if (code != EXIT_OK && code != EXIT_PENDING) return code;
    return EXIT_OK;
}

// Reads one of the run's files: a torn last line is cut off (said in *warning).
bool ReadHeld(HeldFile& file, AuditLog* out, std::string* warning, std::vector<std::string>* problems) {
    std::string text, error;
    if (!HeldFileReadAll(&file, &text, &error) || !ParseAuditLog(text, file.path, out, &error)) {
        problems->push_back(error);
        return false;
    }
    if (!out->warning.empty()) {
        *warning += (warning->empty() ? "" : "; ") + out->warning;
        if (!HeldFileTruncate(&file, out->goodBytes, &error)) {
            problems->push_back(error);
            return false;
        }
    }
    return true;
}

// The check a run and a dry run share: the plan, the base, every row
// through the page's checks with the base, the log against the plan.
// held: the run's files are open and held (a run); else the log is read
// as it is, if it exists. Fills the event and returns 0, 2 or 3.
int CheckAll(Engine& e, ProvisionEvent* ev, bool held) {
    ev->kind = EV_PLAN_CHECKED;
    ev->planFile = e.setup.planFile;
    std::string bytes, text;
    if (!ReadWholeFile(e.setup.planFile, &bytes)) {
        ev->logProblems.push_back("cannot read " + e.setup.planFile);
        return EXIT_USAGE;
    }
    if (!e.setup.baseFile.empty()) {
        InputError bad;
        if (!ReadWholeFile(e.setup.baseFile, &text)) {
            ev->logProblems.push_back("cannot read " + e.setup.baseFile);
            return EXIT_USAGE;
        }
        if (!ParseDocument(text, e.setup.baseFile, &e.base, &bad)) {
            ev->logProblems.push_back(bad.message);
            return bad.exitCode;
        }
    }
    int code = ParsePlan(bytes, e.setup.planFile, e.base, &e.plan, &ev->problems);
    ev->warnings = e.plan.warnings;
    const int type = e.base.deviceType;
    if (code == 0 && type >= 0) {
        for (size_t c = 0; c < e.plan.columns.size(); ++c) {
            const FieldId id = e.plan.columns[c];
            if (id == FIELD_COUNT || TypeHasField(type, id)) continue;
            ev->problems.push_back({1, static_cast<int>(c + 1), e.setup.baseFile + " is for a " + DeviceTypeName(type) +
                                                                    " (type " + std::to_string(type) +
                                                                    "), which has no field " + FieldDefinition(id).name});
            code = EXIT_USAGE;
        }
        const DeviceInfoStore store = NeutralStore(type);
        for (size_t i = 0; code != EXIT_USAGE && i < e.plan.rows.size(); ++i) {
            const PlanRow& row = e.plan.rows[i];
            const ReaderRecord r = RecordForReader(RowOverlay(e.base, row), e.setup.baseFile, store, false);
            if (r.exitCode != 0) {
                ev->problems.push_back({row.row, 0, r.message});
                if (code != EXIT_USAGE) code = r.exitCode;
            } else if (!held) {
                ev->records.emplace_back(row.row, "record (" + std::to_string(r.record.size()) + " bytes):" +
                                                      DescribeRecord(type, r.record.data(), r.record.size()));
            }
        }
    }
    if (code == 0 && e.plan.hasPortColumn && !e.setup.port.empty()) {
        ev->logProblems.push_back(e.setup.planFile + ": the plan names a port for every row; leave --port out");
        code = EXIT_USAGE;
    }
    if (code == 0 && held && !e.plan.hasPortColumn && e.setup.port.empty()) {
        ev->logProblems.push_back(e.setup.planFile +
                                  ": the plan has no port column; give the port the readers come to with --port");
        code = EXIT_USAGE;
    }

    AuditLog log, undo;
    ev->logFile = e.logPath;
    if (held) {
        if (!ReadHeld(e.log, &log, &ev->logWarning, &ev->logProblems) ||
            !ReadHeld(e.undo, &undo, &ev->logWarning, &ev->logProblems))
            return code != 0 ? code : EXIT_USAGE;
    } else {
        std::string error;
        if (ReadWholeFile(e.logPath, &text) && !ParseAuditLog(text, e.logPath, &log, &error))
            ev->logProblems.push_back(error);
        if (ReadWholeFile(e.undoPath, &text) && !ParseAuditLog(text, e.undoPath, &undo, &error))
            ev->logProblems.push_back(error);
        if (!log.warning.empty()) ev->logWarning = log.warning;
        if (!ev->logProblems.empty()) return code != 0 ? code : EXIT_USAGE;
    }
    e.table = RowsFromHistory(e.plan, e.base, log, undo, e.setup.release, e.logPath);
    for (const std::string& p : e.table.problems) ev->logProblems.push_back(p);
    if (code == 0 && !e.table.problems.empty()) code = EXIT_REFUSED;
    for (const RowSlot& s : e.table.slots) ev->rows.push_back(s.view);
    return code;
}

void Summarize(Engine& e, int code) {
    ProvisionEvent ev = MakeEvent(e, EV_SUMMARY, e.setup.port);
    ProvisionSummary& s = ev.summary;
    {
        std::lock_guard<std::mutex> hold(e.lock);
        for (const RowSlot& slot : e.table.slots) {
            if (slot.view.state == ROW_PENDING) s.pendingRows.push_back(slot.view);
            s.toDo += slot.view.state == ROW_TO_DO;
        }
        s.total = ev.total;
        s.done = ev.done;
        s.pending = ev.pendingRows;
        s.doneThisRun = e.doneThisRun;
        s.failedAttempts = e.failedAttempts;
    }
    s.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - e.start).count();
    s.stopped = e.stop;
    ev.exitCode = code;
    AuditRecord r;
    r.event = AUDIT_SUMMARY;
    r.result = ExitCodeName(code);
    r.details = Json{{"rows", s.total}, {"done", s.done}, {"doneNow", s.doneThisRun}, {"pending", s.pending},
                     {"toDo", s.toDo}, {"failedAttempts", s.failedAttempts}, {"elapsedMs", s.elapsedMs}};
    bool failed;
    {
        std::lock_guard<std::mutex> hold(e.lock);
        failed = e.filesFailed;
    }
    if (!failed) LogRecord(e, r);
    Emit(e, ev);
}

std::string RunId() {
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(random() & 0xFFFF));
    std::string time = AuditTimeNow();
    time.erase(std::remove_if(time.begin(), time.end(), [](char c) { return c == '-' || c == ':'; }), time.end());
    return time + "-" + text;
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

std::string LogPathFor(const std::string& planFile, const std::string& logFile) {
    return logFile.empty() ? DefaultLogPath(planFile) : logFile;
}

bool ReadAuditLogFile(const std::string& path, AuditLog* out, std::string* error) {
    std::string text;
    if (ReadWholeFile(path, &text)) return ParseAuditLog(text, path, out, error);
    *error = "cannot read " + path;
    return false;
}

int CheckProvisionPlan(const ProvisionSetup& setup, ProvisionObserver& observer) {
    const std::atomic<bool> never{false};
    Engine e(setup, observer, never);
    ProvisionEvent ev;
    const int code = CheckAll(e, &ev, false);
    ev.done = ev.pendingRows = 0;
    for (const RowView& r : ev.rows) ev.done += r.state == ROW_DONE, ev.pendingRows += r.state == ROW_PENDING;
    ev.total = static_cast<int>(ev.rows.size());
    Emit(e, ev);
    return code;
}

int RunProvisionEngine(const ProvisionSetup& setup, ProvisionObserver& observer, const std::atomic<bool>& stop) {
    Engine e(setup, observer, stop);
    e.runId = RunId();

    // The plan alone first: nothing is opened or held for a plan that cannot run.
    ProvisionEvent checked;
    int code = CheckAll(e, &checked, false);
    if (code == 0) {
        std::vector<std::string> ports{setup.port};
        if (e.plan.hasPortColumn) {
            ports.clear();
            for (const PlanRow& row : e.plan.rows) ports.push_back(row.port);
        }
        std::string error;
        for (const std::string& port : ports) {
            e.holds.emplace_back();
            if (!PortHoldTake(&e.holds.back(), port, &error)) {
                code = EXIT_PORT;
                break;
            }
        }
        if (code == 0 && (!HeldFileOpen(&e.log, e.logPath, &error) || !HeldFileOpen(&e.undo, e.undoPath, &error)))
            code = EXIT_FAILURE_OTHER;
        if (code != 0) {
            // Another run has the port or the log: this one stops at once.
            Emit(e, checked);
            ProvisionEvent refused = MakeEvent(e, EV_REFUSED, setup.port);
            refused.exitCode = code;
            refused.detail = error;
            refused.endsRun = true;
            Emit(e, refused);
            HeldFileClose(&e.log);
            for (PortHold& h : e.holds) PortHoldRelease(&h);
            return code;
        }
        // Again with the files held: another run may have ended in between.
        checked = ProvisionEvent();
        code = CheckAll(e, &checked, true);
    }
    checked.done = checked.pendingRows = 0;
    for (const RowView& r : checked.rows) checked.done += r.state == ROW_DONE, checked.pendingRows += r.state == ROW_PENDING;
    checked.total = static_cast<int>(checked.rows.size());
    Emit(e, checked);

    // The verdict goes into the log when it is held, or a refused plan's
    // log exists already (and ends with a whole line).
    std::string text, error;
    if (e.log.path.empty() && !e.plan.rows.empty() && ReadWholeFile(e.logPath, &text) &&
        (text.empty() || text.back() == '\n'))
        HeldFileOpen(&e.log, e.logPath, &error);
    if (!e.log.path.empty()) {
        AuditRecord verdict;
        verdict.event = AUDIT_PLAN;
        verdict.result = code == 0 ? "ok" : ExitCodeName(code);
        verdict.port = setup.port;
        Json warnings = Json::array();
        for (const PlanWarning& w : checked.warnings) warnings.push_back("rows " + RowsText(w.rows) + ": " + w.text);
        verdict.details = Json{{"plan", setup.planFile},
                               {"rows", checked.total},
                               {"done", checked.done},
                               {"pending", checked.pendingRows},
                               {"problems", checked.problems.size() + checked.logProblems.size()},
                               {"warnings", warnings}};
        if (!LogRecord(e, verdict) && code == 0) code = EXIT_FAILURE_OTHER;
    }
    if (code == 0) {
        for (AuditRecord r : e.table.interrupted)
            if (code == 0 && !LogRecord(e, r)) code = EXIT_FAILURE_OTHER;
        for (size_t i : e.table.released) {
            AuditRecord r;
            r.event = AUDIT_RELEASE;
            r.port = e.plan.hasPortColumn ? e.table.slots[i].plan->port : "";
            r.row = e.table.slots[i].view.row;
            r.written = OverlayFields(RowOverlay(e.base, *e.table.slots[i].plan));
            r.result = "released";
            r.note = "its reader checked by the technician; the row is to do again";
            if (code == 0 && !LogRecord(e, r)) code = EXIT_FAILURE_OTHER;
        }
    }
    const bool started = code == 0;
    if (code == 0 && HasWork(e)) {
        const int worked = e.plan.hasPortColumn ? PortMode(e) : LineMode(e);
        int pending = 0, toDo = 0;
        {
            std::lock_guard<std::mutex> hold(e.lock);
            for (const RowSlot& s : e.table.slots) pending += s.view.state == ROW_PENDING, toDo += s.view.state == ROW_TO_DO;
        }
        code = worked == EXIT_FAILURE_OTHER || worked == EXIT_USAGE || worked == EXIT_REFUSED ? worked
               : pending > 0                                                                   ? EXIT_PENDING
               : worked != EXIT_OK                                                             ? worked
               : toDo > 0                                                                      ? EXIT_INTERRUPTED
                                                                                               : EXIT_OK;
    }
    if (started) Summarize(e, code);
    HeldFileClose(&e.log);
    HeldFileClose(&e.undo);
    for (PortHold& h : e.holds) PortHoldRelease(&h);
    return code;
}

bool UndoFromLog(const std::string& logPath, int row, Json* before, std::vector<uint8_t>* record, bool* recordMasked,
                 std::string* error) {
    AuditLog log, undo;
    if (!ReadAuditLogFile(logPath, &log, error)) return false;
    const AuditRecord* done = nullptr;
    for (const AuditRecord& r : log.records)
        if (r.event.empty() && r.row == row && r.result == "ok") done = &r;
    if (done == nullptr) {
        *error = logPath + ": no reader of row " + std::to_string(row) + " is recorded as done";
        return false;
    }
    *before = done->before;
    *record = done->record;
    *recordMasked = done->recordMasked;
    if (done->attempt.empty() && !done->recordMasked) return true;  // a log of an earlier version holds it all
    const std::string undoPath = UndoPathForLog(logPath);
    if (ReadAuditLogFile(undoPath, &undo, error)) {
        for (const AuditRecord& r : undo.records) {
            if (r.attempt.empty() || r.attempt != done->attempt) continue;
            *before = r.before;
            *record = r.record;
            *recordMasked = false;
            return true;
        }
    }
    *error = undoPath + " holds no record of the write of row " + std::to_string(row) +
             " (the log keeps no passwords); its former settings cannot be restored whole";
    return false;
}
