// The report of a provisioning log: one line per plan row the log knows
// of, with what its reader is and how it ended (the sheet the platform
// team registers the readers from). Built from the log alone, which holds
// no secret, so the report holds none either. Pure.
#pragma once
#include <string>
#include <vector>

#include "cli/audit_log.h"

struct ReportRow {
    int row = 0;              // the row's number when it was last worked on
    std::string name;         // deviceName, or "ID 42"
    std::string address;      // ipAddress, or "DHCP"
    std::string port;         // port mode: the row's port
    int deviceType = 0;       // of the reader that took it (0: none yet)
    std::string firmware;
    std::string result;       // "done", "pending", "to do", or the last failure
    int attempts = 0;         // writes sent
    std::string time;         // of its last line
};

struct Report {
    std::vector<ReportRow> rows;
    int planRows = -1;        // rows of the plan at its last run; -1 when the log does not say
};

Report BuildReport(const AuditLog& log);
// Aligned columns for a console, and a summary line.
std::string ReportText(const Report& report);
// CSV as spreadsheets open it: UTF-8 with a byte-order mark, CRLF, quoted
// where a cell needs it.
std::string ReportCsv(const Report& report);
