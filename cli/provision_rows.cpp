#include "cli/provision_rows.h"

#include <map>
#include <set>

#include "cli/exit_codes.h"

using Json = nlohmann::ordered_json;

namespace {

// The values that name one reader: no two readers may share one.
std::vector<std::pair<std::string, Json>> Identity(const Json& written) {
    std::vector<std::pair<std::string, Json>> values;
    if (!written.is_object()) return values;
    const bool dhcp = written.contains("dhcpEnabled") && written["dhcpEnabled"] == true;
    for (const char* key : {"deviceName", "deviceId", "ipAddress"}) {
        if (!written.contains(key) || (dhcp && std::string(key) == "ipAddress")) continue;
        const Json& v = written[key];
        if (v.is_null() || (v.is_string() && v.get<std::string>().empty())) continue;
        values.emplace_back(key, v);
    }
    return values;
}

std::string Described(const AuditRecord& r) {
    std::string text;
    for (const auto& v : Identity(r.written)) text += (text.empty() ? "" : " ") + (v.second.is_string() ? v.second.get<std::string>() : v.second.dump());
    return text.empty() ? "row " + std::to_string(r.row) + " then" : text + " (row " + std::to_string(r.row) + " then)";
}

}  // namespace

std::string RecordKey(const AuditRecord& record, bool portMode) {
    return ValuesKey(record.written, portMode ? record.port : "");
}

bool HoldsRecord(const AuditRecord& record, const DeviceInfoStore& store) {
    return !record.record.empty() && record.deviceType == store.deviceType &&
           VerifyWritten(store.deviceType, record.record, store, !record.recordMasked).empty();
}

bool SameSettings(const Json& a, const Json& b) {
    for (const char* key : {"deviceType", "firmwareVersion", "protocolVersion"})
        if (a.value(key, Json()) != b.value(key, Json())) return false;
    const Json none = Json::object();
    const Json& fa = a.contains("fields") ? a["fields"] : none;
    const Json& fb = b.contains("fields") ? b["fields"] : none;
    if (fa.size() != fb.size()) return false;
    for (auto it = fa.begin(); it != fa.end(); ++it) {
        if (!fb.contains(it.key())) return false;
        const Json& other = fb[it.key()];
        if (IsSecretMarker(it.value()) || IsSecretMarker(other)) continue;
        if (it.value() != other) return false;
    }
    return true;
}

const char* PendingReasonName(PendingReason reason) {
    switch (reason) {
    case PENDING_NO_ACK: return "no acknowledgement, no answer";
    case PENDING_NO_ACK_OTHER: return "no acknowledgement, other settings";
    case PENDING_LINE_LOST: return "line lost";
    case PENDING_NO_CHECK: return "acknowledged, no answer";
    case PENDING_UNVERIFIED: return "acknowledged, other settings";
    default: return "interrupted";
    }
}

PendingReason PendingReasonFromName(const std::string& name) {
    for (PendingReason r : {PENDING_NO_ACK, PENDING_NO_ACK_OTHER, PENDING_LINE_LOST, PENDING_NO_CHECK, PENDING_UNVERIFIED})
        if (name == PendingReasonName(r)) return r;
    return PENDING_INTERRUPTED;
}

RowTable RowsFromHistory(const Plan& plan, const Overlay& base, const AuditLog& log, const AuditLog& undo,
                         const std::vector<int>& release, const std::string& logPath) {
    RowTable t;
    const bool portMode = plan.hasPortColumn;
    std::map<std::string, size_t> byKey;
    for (const PlanRow& row : plan.rows) {
        RowSlot slot;
        slot.plan = &row;
        slot.key = RowKey(base, row);
        slot.view.row = row.row;
        slot.view.name = RowName(base, row);
        slot.view.address = RowAddress(base, row);
        slot.view.port = row.port;
        byKey.emplace(slot.key, t.slots.size());
        t.slots.push_back(slot);
    }
    auto keyOf = [&](const AuditRecord& r) { return RecordKey(r, portMode); };
    // The undo file holds what the log keeps back: secrets, under the write's id.
    std::map<std::string, const AuditRecord*> undone;
    for (const AuditRecord& r : undo.records)
        if (!r.attempt.empty()) undone[r.attempt] = &r;
    auto full = [&](AuditRecord r) {
        const auto it = undone.find(r.attempt);
        if (it != undone.end()) {
            r.before = it->second->before;
            r.record = it->second->record;
            r.recordMasked = it->second->recordMasked;
        }
        return r;
    };

    std::set<std::string> logged;
    std::map<std::string, AuditRecord> elsewhere;  // done or pending rows the plan no longer has
    for (const AuditRecord& r : log.records) {
        if (!r.attempt.empty()) logged.insert(r.attempt);
        const bool exchange = r.event.empty();
        if ((!exchange && r.event != AUDIT_RELEASE) || (exchange && r.row == 0)) continue;
        const std::string key = keyOf(r);
        const auto at = byKey.find(key);
        if (at == byKey.end()) {
            if (r.result == "ok" || r.result == RESULT_PENDING) elsewhere[key] = r;
            else if (r.event == AUDIT_RELEASE) elsewhere.erase(key);
            continue;
        }
        RowSlot& slot = t.slots[at->second];
        if (r.event == AUDIT_RELEASE) {
            if (slot.view.state == ROW_PENDING) slot.view.state = ROW_TO_DO, slot.view.pending = PENDING_NONE;
        } else if (r.result == "ok") {
            slot.view.state = ROW_DONE;
            slot.view.pending = PENDING_NONE;
            slot.view.lastFailure = 0;
            slot.done = full(r);
        } else if (r.result == RESULT_PENDING) {
            slot.view.state = ROW_PENDING;
            slot.view.pending = PendingReasonFromName(r.details.value("pending", ""));
            slot.pending = full(r);
        } else if (r.result != RESULT_SAME_READER) {
            ++slot.view.failedAttempts;
            if (slot.view.state == ROW_TO_DO)
                slot.view.lastFailure = r.result == RESULT_NOT_TAKEN ? EXIT_TIMEOUT : ExitCodeFromName(r.result);
        }
        slot.view.time = r.time;
    }
    // A write the log never heard of: the run ended between the two.
    for (const AuditRecord& r : undo.records) {
        if (r.attempt.empty() || logged.count(r.attempt) != 0) continue;
        AuditRecord interrupted = r;
        interrupted.result = RESULT_PENDING;
        interrupted.details["pending"] = PendingReasonName(PENDING_INTERRUPTED);
        interrupted.note = "the run that sent this write ended before it could record its outcome";
        t.interrupted.push_back(interrupted);
        const auto at = byKey.find(keyOf(r));
        if (at == byKey.end()) {
            elsewhere[keyOf(r)] = interrupted;
            continue;
        }
        RowSlot& slot = t.slots[at->second];
        if (slot.view.state == ROW_DONE) continue;
        slot.view.state = ROW_PENDING;
        slot.view.pending = PENDING_INTERRUPTED;
        slot.pending = interrupted;
    }

    // A row the log has done or pending whose values the plan changed: the
    // reader holds the old ones, and another could get the same address.
    for (const auto& gone : elsewhere) {
        const AuditRecord& r = gone.second;
        for (const RowSlot& slot : t.slots) {
            const Json now = OverlayFields(RowOverlay(base, *slot.plan));
            bool shared = false;
            for (const auto& v : Identity(r.written))
                shared = shared || (now.contains(v.first) && now[v.first] == v.second);
            if (!shared) continue;
            t.problems.push_back(plan.file + ":" + std::to_string(slot.view.row) + ": the log " + logPath + " has " +
                                 Described(r) + " " + (r.result == "ok" ? "done" : "pending") + " with " +
                                 RedactSecrets(r.written).dump() + ", but the plan now gives " + RedactSecrets(now).dump() +
                                 "; add rows for new readers instead of changing done ones, or start a new log (--log)");
            break;
        }
    }
    for (int row : release) {
        size_t i = 0;
        while (i < t.slots.size() && t.slots[i].view.row != row) ++i;
        if (i == t.slots.size()) {
            t.problems.push_back(plan.file + ":" + std::to_string(row) + ": --release " + std::to_string(row) + ": no such row");
        } else if (t.slots[i].view.state != ROW_PENDING) {
            t.problems.push_back(plan.file + ":" + std::to_string(row) + ": --release " + std::to_string(row) +
                                 ": the row is not pending (" + (t.slots[i].view.state == ROW_DONE ? "done" : "to do") + ")");
        } else {
            t.slots[i].view.state = ROW_TO_DO;
            t.slots[i].view.pending = PENDING_NONE;
            t.released.push_back(i);
        }
    }
    return t;
}
