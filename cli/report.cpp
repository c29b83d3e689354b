#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "cli/plan.h"

using Json = nlohmann::ordered_json;

namespace {

std::string Name(const Json& written) {
    const bool mode0 = written.contains("connectMode") && written["connectMode"] == 0;
    if (written.contains("deviceId") && (mode0 || !written.contains("deviceName")))
        return "ID " + written["deviceId"].dump();
    if (written.contains("deviceName")) {
        const Json& name = written["deviceName"];
        return name.is_string() ? name.get<std::string>() : name.dump();
    }
    return "";
}

std::string Address(const Json& written) {
    if (written.contains("dhcpEnabled") && written["dhcpEnabled"] == true) return "DHCP";
    return written.contains("ipAddress") && written["ipAddress"].is_string() ? written["ipAddress"].get<std::string>() : "";
}

const char* const HEADINGS[] = {"row", "name or ID", "address", "port", "device type", "firmware", "result", "attempts", "time"};

// The headings and every row's cells; the port column only in port mode.
std::vector<std::vector<std::string>> Table(const Report& report) {
    bool ports = false;
    for (const ReportRow& r : report.rows) ports = ports || !r.port.empty();
    std::vector<std::vector<std::string>> lines{std::vector<std::string>(std::begin(HEADINGS), std::end(HEADINGS))};
    for (const ReportRow& r : report.rows)
        lines.push_back({std::to_string(r.row), r.name, r.address, r.port,
                         r.deviceType > 0 ? std::to_string(r.deviceType) : "", r.firmware, r.result,
                         std::to_string(r.attempts), r.time});
    if (!ports)
        for (auto& line : lines) line.erase(line.begin() + 3);
    return lines;
}

// Width on a console: a Chinese character takes two columns.
size_t Columns(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80) continue;
        n += c >= 0xE0 ? 2 : 1;
    }
    return n;
}

}  // namespace

Report BuildReport(const AuditLog& log) {
    Report report;
    bool portMode = false;
    for (const AuditRecord& r : log.records) {
        if (r.event != AUDIT_PLAN) continue;
        portMode = r.port.empty();
        report.planRows = r.details.value("rows", -1);
    }
    std::map<std::string, size_t> byKey;
    std::vector<std::set<std::string>> writes;
    for (const AuditRecord& r : log.records) {
        const bool exchange = r.event.empty();
        if ((exchange && r.row == 0) || (!exchange && r.event != AUDIT_RELEASE) || r.result == RESULT_WRITING) continue;
        const std::string key = ValuesKey(r.written, portMode ? r.port : "");
        auto at = byKey.find(key);
        if (at == byKey.end()) {
            at = byKey.emplace(key, report.rows.size()).first;
            report.rows.emplace_back();
            writes.emplace_back();
        }
        ReportRow& row = report.rows[at->second];
        row.row = r.row;
        row.name = Name(r.written);
        row.address = Address(r.written);
        row.port = portMode ? r.port : "";
        row.time = r.time;
        if (!r.attempt.empty()) writes[at->second].insert(r.attempt);
        row.attempts = static_cast<int>(writes[at->second].size());
        if (r.event == AUDIT_RELEASE) {
            row.result = "to do";
            continue;
        }
        if (r.result == RESULT_SAME_READER) continue;
        if (row.result == "done") continue;  // later lines cannot undo a done row
        row.result = r.result == "ok" ? "done" : r.result;
        if (r.result == "ok" || r.result == RESULT_PENDING) {
            row.deviceType = r.deviceType;
            row.firmware = r.firmwareVersion;
        }
    }
    return report;
}

std::string ReportText(const Report& report) {
    const std::vector<std::vector<std::string>> lines = Table(report);
    std::vector<size_t> width(lines[0].size(), 0);
    for (const auto& line : lines)
        for (size_t c = 0; c < line.size(); ++c) width[c] = std::max(width[c], Columns(line[c]));
    std::string text;
    for (const auto& line : lines) {
        std::string out;
        for (size_t c = 0; c < line.size(); ++c) {
            out += line[c] + (c + 1 < line.size() ? std::string(width[c] - Columns(line[c]) + 2, ' ') : "");
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        text += out + "\n";
    }
    int done = 0, pending = 0;
    for (const ReportRow& r : report.rows) done += r.result == "done", pending += r.result == "pending";
    text += std::to_string(report.rows.size()) + " row(s) in the log: " + std::to_string(done) + " done, " +
            std::to_string(pending) + " pending, " + std::to_string(report.rows.size() - done - pending) + " not done";
    if (report.planRows >= 0)
        text += "; the plan has " + std::to_string(report.planRows) + " row(s), " +
                std::to_string(std::max<int>(0, report.planRows - static_cast<int>(report.rows.size()))) + " never tried";
    return text + "\n";
}

std::string ReportCsv(const Report& report) {
    auto line = [](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t c = 0; c < cells.size(); ++c) {
            const std::string& cell = cells[c];
            const bool quote = cell.find_first_of(",\"\r\n") != std::string::npos;
            std::string text = cell;
            for (size_t at = 0; quote && (at = text.find('"', at)) != std::string::npos; at += 2) text.insert(at, "\"");
            out += (c > 0 ? "," : "") + (quote ? "\"" + text + "\"" : text);
        }
        return out + "\r\n";
    };
    std::string csv = "\xEF\xBB\xBF";
    for (const auto& cells : Table(report)) csv += line(cells);
    return csv;
}
