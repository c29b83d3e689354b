// The rows of a provisioning plan and what the audit log and its undo
// file say of them: which are done, which wait for their reader, which
// are still to do. Rows are known by their values (RowKey), not by their
// numbers, so that rows inserted, removed or reordered keep their state.
// Pure: records in, states and problems out.
#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/audit_log.h"
#include "cli/plan.h"
#include "cli/provision_engine.h"
#include "protocol/device_info.h"

struct RowSlot {
    const PlanRow* plan = nullptr;
    std::string key;
    RowView view;
    AuditRecord done;      // ROW_DONE: the exchange that did it, in full where the undo file has it
    AuditRecord pending;   // ROW_PENDING: the write in doubt, likewise
    bool toldLookalike = false;  // a reader that cannot be told from its reader was said once in this run
};

struct RowTable {
    std::vector<RowSlot> slots;                // one per plan row, in the plan's order
    std::vector<std::string> problems;         // the log against the plan, and releases that cannot be
    std::vector<AuditRecord> interrupted;      // undo lines without a log line: to log as pending
    std::vector<size_t> released;              // slots released by the technician: to log
};

// base: --base's values; release: plan rows the technician has checked.
RowTable RowsFromHistory(const Plan& plan, const Overlay& base, const AuditLog& log, const AuditLog& undo,
                         const std::vector<int>& release, const std::string& logPath);

// The key of a logged exchange, comparable with RowKey.
std::string RecordKey(const AuditRecord& record, bool portMode);
// Whether the reader that answered with store holds exactly what record wrote.
bool HoldsRecord(const AuditRecord& record, const DeviceInfoStore& store);
// Whether two documents (as export writes them) describe the same
// settings: type, firmware, protocol version and every field, secrets
// not compared where one side has only their marker.
bool SameSettings(const nlohmann::ordered_json& a, const nlohmann::ordered_json& b);

// A pending reason as the log names it, and back (PENDING_INTERRUPTED for an unknown name).
const char* PendingReasonName(PendingReason reason);
PendingReason PendingReasonFromName(const std::string& name);
