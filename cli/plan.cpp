#include "cli/plan.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "document/network_check.h"
#include "document/text_codec.h"

namespace {

std::string Where(const std::string& file, size_t row, size_t column) {
    return file + ":" + std::to_string(row) + ":" + std::to_string(column);
}

// A message stays on one line whatever the cells held.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

bool AllEmpty(const std::vector<std::string>& cells) {
    for (const std::string& c : cells)
        if (!c.empty()) return false;
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The names a plan may give its columns, the port column first.
std::vector<std::string> ColumnNames() {
    std::vector<std::string> names{"port"};
    for (int id = 0; id < FIELD_COUNT; ++id) names.push_back(FieldDefinition(static_cast<FieldId>(id)).name);
    return names;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The column's name as the plan writes it in any case: the field, the
// port column (FIELD_COUNT, *port set), or nothing (FIELD_COUNT).
FieldId ColumnField(const std::string& name, bool* port, std::string* canonical) {
    *port = false;
    for (const std::string& known : ColumnNames()) {
        if (Lower(known) != Lower(name)) continue;
        *canonical = known;
        *port = known == "port";
        return *port ? FIELD_COUNT : FieldByName(known);
    }
    return FIELD_COUNT;
}

std::string UnknownColumn(const std::string& name) {
    std::string nearest;
    size_t best = std::string::npos;
    for (const std::string& known : ColumnNames()) {
        const size_t d = EditDistance(Lower(name), Lower(known));
        if (d < best) best = d, nearest = known;
    }
    const std::string hint = best <= std::max<size_t>(2, name.size() / 3) ? " (did you mean " + nearest + "?)" : "";
    return "unknown column \"" + name + "\"" + hint + "; a plan may name: " + PlanColumnNames();
}

std::string Trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t')) --b;
    return text.substr(a, b - a);
}

// The texts of every cell in UTF-8. A file that is no UTF-8 is read as
// GBK; the first cell that is neither is the error.
bool ToUtf8(std::vector<std::vector<std::string>>* rows, bool utf8, bool bom, PlanProblem* error) {
    if (utf8) return true;
    for (size_t r = 0; r < rows->size(); ++r) {
        for (size_t c = 0; c < (*rows)[r].size(); ++c) {
            std::string& cell = (*rows)[r][c];
            std::string converted;
            if (bom ? !IsUtf8(cell) : !GbkToUtf8(cell, &converted)) {
                *error = {static_cast<int>(r + 1), static_cast<int>(c + 1),
                          std::string("invalid bytes: the cell is ") +
                              (bom ? "no UTF-8 (the file starts with a UTF-8 byte-order mark)" : "neither UTF-8 nor GBK")};
                return false;
            }
            cell = converted;
        }
    }
    // A text that is no UTF-8 but whose cells all are has its fault in
    // the separators: the byte-order mark of a file that is no UTF-8.
    *error = {1, 1, "invalid bytes: neither UTF-8 nor GBK"};
    return !bom;
}

// The cells of a CSV text; false with the place of the first fault.
bool ReadCells(const std::string& bytes, std::vector<std::vector<std::string>>* rows, PlanProblem* error) {
    rows->clear();
    if (bytes.size() > PLAN_MAX_BYTES) {
        *error = {1, 1, "the file is larger than " + std::to_string(PLAN_MAX_BYTES >> 20) + " MB"};
        return false;
    }
    size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t n = bytes.size();
    std::vector<std::string> row;
    std::string cell;
    auto fail = [&](const std::string& why) {
        *error = {static_cast<int>(rows->size() + 1), static_cast<int>(row.size() + 1), why};
        return false;
    };
    while (i < n) {
        // One cell, then its end: a comma, a line end or the end of the text.
        cell.clear();
        if (bytes[i] == '"') {
            ++i;
            for (;;) {
                if (i >= n) return fail("a quote that never closes");
                if (bytes[i] == '"') {
                    if (i + 1 < n && bytes[i + 1] == '"') {
                        cell += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                cell += bytes[i++];
                if (cell.size() > PLAN_MAX_CELL) return fail("a cell longer than " + std::to_string(PLAN_MAX_CELL) + " bytes");
            }
            if (i < n && bytes[i] != ',' && bytes[i] != '\r' && bytes[i] != '\n')
                return fail("text after the closing quote of a cell");
        } else {
            while (i < n && bytes[i] != ',' && bytes[i] != '\r' && bytes[i] != '\n') {
                if (bytes[i] == '"') return fail("a quote inside a cell that does not start with one");
                cell += bytes[i++];
                if (cell.size() > PLAN_MAX_CELL) return fail("a cell longer than " + std::to_string(PLAN_MAX_CELL) + " bytes");
            }
        }
        row.push_back(cell);
        const bool comma = i < n && bytes[i] == ',';
        if (comma && ++i == n) row.emplace_back();  // a comma at the very end: one more empty cell
        if (row.size() > PLAN_MAX_COLUMNS) return fail("more than " + std::to_string(PLAN_MAX_COLUMNS) + " columns");
        if (comma && i < n) continue;
        // The end of a row: CRLF, LF, a lone CR, or the end of the text.
        if (i < n && bytes[i] == '\r') ++i;
        if (i < n && bytes[i] == '\n') ++i;
        rows->push_back(row);
        row.clear();
        if (rows->size() > PLAN_MAX_ROWS) {
            *error = {static_cast<int>(rows->size()), 1, "more than " + std::to_string(PLAN_MAX_ROWS) + " rows"};
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadCsvCells(const std::string& bytes, const std::string& file, std::vector<std::vector<std::string>>* rows,
                  std::string* error) {
    PlanProblem fault;
    if (ReadCells(bytes, rows, &fault)) return true;
    *error = PlanProblemLine(file, fault);
    return false;
}

int ParsePlan(const std::string& bytes, const std::string& file, const Overlay& base, Plan* out,
              std::vector<PlanProblem>* problems) {
    *out = Plan();
    out->file = file;
    std::vector<std::vector<std::string>> cells;
    PlanProblem fault;
    const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const bool utf8 = IsUtf8(bytes);
    if (!ReadCells(bytes, &cells, &fault) || !ToUtf8(&cells, utf8, bom, &fault)) {
        problems->push_back(fault);
        return INPUT_MALFORMED;
    }
    out->gbk = !utf8;
    if (cells.empty() || AllEmpty(cells[0])) {
        problems->push_back({1, 1, "the first row must name the columns (ipAddress, deviceName, ...)"});
        return INPUT_MALFORMED;
    }

    int worst = 0;
    auto problem = [&](int code, int row, int column, const std::string& text) {
        problems->push_back({row, column, OneLine(text)});
        if (worst != INPUT_MALFORMED) worst = code;
    };
    std::map<std::string, size_t> named;
    int portColumn = 0;
    for (size_t c = 0; c < cells[0].size(); ++c) {
        const std::string name = Trimmed(cells[0][c]);
        bool port = false;
        std::string canonical;
        const FieldId id = ColumnField(name, &port, &canonical);
        out->columns.push_back(id);
        const int column = static_cast<int>(c + 1);
        if (port) out->hasPortColumn = true, portColumn = column;
        if (name.empty()) {
            problem(INPUT_MALFORMED, 1, column, "a column without a name");
        } else if (!port && id == FIELD_COUNT) {
            problem(INPUT_MALFORMED, 1, column, UnknownColumn(name));
        } else if (!named.emplace(canonical, c + 1).second) {
            problem(INPUT_MALFORMED, 1, column,
                    "column " + canonical + " appears twice (also column " + std::to_string(named[canonical]) + ")");
        }
    }
    if (worst != 0) return worst;

    const size_t width = cells[0].size();
    std::vector<std::vector<int>> trimmedRows(width);
    for (size_t r = 1; r < cells.size(); ++r) {
        const std::vector<std::string>& line = cells[r];
        if (AllEmpty(line)) continue;  // spreadsheets save empty rows at the end
        const int rowNumber = static_cast<int>(r + 1);
        if (line.size() != width) {
            problem(INPUT_MALFORMED, rowNumber, static_cast<int>(std::min(line.size(), width) + 1),
                    "the row has " + std::to_string(line.size()) + " cells, the first row " + std::to_string(width));
            continue;
        }
        PlanRow row;
        row.row = rowNumber;
        for (size_t c = 0; c < width; ++c) {
            const std::string cell = Trimmed(line[c]);
            if (cell.size() != line[c].size()) trimmedRows[c].push_back(rowNumber);
            if (cell.empty()) continue;
            if (out->columns[c] == FIELD_COUNT) {
                row.port = cell;
                continue;
            }
            FieldValue value;
            InputError bad;
            const std::string where = Where(file, r + 1, c + 1);
            if (!ParseFieldText(out->columns[c], cell, where, &value, &bad)) {
                problem(bad.exitCode, rowNumber, static_cast<int>(c + 1), bad.message.substr(where.size() + 2));
                continue;
            }
            value.fromPlan = true;
            Overlay one;
            one.values[out->columns[c]] = value;
            one.order.push_back(out->columns[c]);
            LayerOverlay(&row.overlay, one);
        }
        if (out->hasPortColumn && row.port.empty()) problem(INPUT_MALFORMED, rowNumber, portColumn, "the port is empty");
        out->rows.push_back(row);
    }
    if (out->rows.empty() && worst == 0)
        problem(INPUT_MALFORMED, 2, 1, "no readers: the plan has no rows after the column names");
    for (size_t c = 0; c < width; ++c)
        if (!trimmedRows[c].empty())
            out->warnings.push_back({static_cast<int>(c + 1), trimmedRows[c],
                                     "spaces around the values of " + Trimmed(cells[0][c]) + " were taken off"});

    auto columnOf = [&](FieldId id, const PlanRow& row) {
        if (!row.overlay.values[id].present) return 0;
        for (size_t c = 0; c < width; ++c)
            if (out->columns[c] == id) return static_cast<int>(c + 1);
        return 0;
    };
    // Values no network can use are refused; doubtful ones warned about
    // once per kind, for every row they concern.
    std::vector<PlanWarning> network(NET_WARNING_KINDS);
    for (const PlanRow& row : out->rows) {
        const Overlay layered = RowOverlay(base, row);
        const NetworkRefusal refused = CheckNetworkValues(base.deviceType, layered, nullptr);
        if (refused.field != FIELD_COUNT) problem(INPUT_REFUSED, row.row, columnOf(refused.field, row), refused.message);
        for (const NetworkWarning& w : NetworkWarnings(base.deviceType, layered, nullptr, &base)) {
            PlanWarning& kind = network[w.kind];
            if (kind.rows.empty()) kind.column = columnOf(w.field, row), kind.text = w.text + " (as in row " + std::to_string(row.row) + ")";
            kind.rows.push_back(row.row);
        }
    }
    for (PlanWarning& w : network) {
        if (w.rows.empty()) continue;
        if (w.rows.size() == 1) w.text.erase(w.text.rfind(" (as in row"));
        out->warnings.push_back(w);
    }

    // Values that name one reader must not repeat; the first row keeps them.
    std::map<std::string, int> seen;
    for (const PlanRow& row : out->rows) {
        const Overlay layered = RowOverlay(base, row);
        const FieldValue* v = row.overlay.values;
        std::vector<std::pair<std::string, std::string>> keys;  // column, value as shown
        if (v[F_IP_ADDRESS].present && !v[F_IP_ADDRESS].addressBlank &&
            !(layered.values[F_DHCP_ENABLED].present && layered.values[F_DHCP_ENABLED].flag))
            keys.emplace_back("ipAddress", DottedAddress(v[F_IP_ADDRESS].address));
        if (v[F_DEVICE_ID].present) keys.emplace_back("deviceId", std::to_string(v[F_DEVICE_ID].number));
        if (v[F_DEVICE_NAME].present) keys.emplace_back("deviceName", OverlayFields(row.overlay)["deviceName"].dump());
        if (out->hasPortColumn && !row.port.empty()) keys.emplace_back("port", row.port);
        // On one cable a reader that holds a done row's values is that
        // reader again, and the log tells rows apart by their values
        // without passwords: two rows alike could never both be done.
        if (!out->hasPortColumn) keys.emplace_back("", RedactSecrets(OverlayFields(row.overlay)).dump());
        for (const auto& key : keys) {
            const auto at = seen.emplace(key.first + "=" + key.second, row.row);
            if (at.second) continue;
            const std::string earlier = std::to_string(at.first->second);
            problem(INPUT_REFUSED, row.row, 0,
                    key.first.empty() ? "the row repeats row " + earlier + " (every reader must differ, in more than its passwords)"
                                      : key.first + " " + key.second + " repeats row " + earlier);
        }
    }
    return worst;
}

std::string PlanProblemLine(const std::string& file, const PlanProblem& p) {
    return file + ":" + std::to_string(p.row) + (p.column > 0 ? ":" + std::to_string(p.column) : "") + ": " + p.text;
}

std::string RowsText(const std::vector<int>& rows) {
    std::string text;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(rows[i]) + (j > i ? "-" + std::to_string(rows[j]) : "");
        i = j + 1;
    }
    return text;
}

Overlay RowOverlay(const Overlay& base, const PlanRow& row) {
    Overlay layered = base;
    LayerOverlay(&layered, row.overlay);
    return layered;
}

std::string RowName(const Overlay& base, const PlanRow& row) {
    const Overlay layered = RowOverlay(base, row);
    const FieldValue* v = layered.values;
    const bool mode0 = v[F_CONNECT_MODE].present && !v[F_CONNECT_MODE].none && v[F_CONNECT_MODE].number == 0;
    const nlohmann::ordered_json fields = OverlayFields(layered);
    if (v[F_DEVICE_ID].present && (mode0 || !fields.contains("deviceName")))
        return "ID " + std::to_string(v[F_DEVICE_ID].number);
    if (fields.contains("deviceName") && fields["deviceName"].is_string()) return fields["deviceName"].get<std::string>();
    return "";
}

std::string RowAddress(const Overlay& base, const PlanRow& row) {
    const Overlay layered = RowOverlay(base, row);
    const FieldValue* v = layered.values;
    if (v[F_DHCP_ENABLED].present && v[F_DHCP_ENABLED].flag) return "DHCP";
    if (v[F_IP_ADDRESS].present && !v[F_IP_ADDRESS].addressBlank) return DottedAddress(v[F_IP_ADDRESS].address);
    return "";
}

std::string ValuesKey(const nlohmann::ordered_json& written, const std::string& port) {
    const nlohmann::ordered_json values = RedactSecrets(written.is_object() ? written : nlohmann::ordered_json::object());
    // Sorted keys: the order a file or an earlier version gave them does not matter.
    return nlohmann::json::parse(values.dump()).dump() + (port.empty() ? "" : " on " + port);
}

std::string RowKey(const Overlay& base, const PlanRow& row) {
    return ValuesKey(OverlayFields(RowOverlay(base, row)), row.port);
}

std::string PlanColumnNames() {
    std::string names;
    for (const std::string& n : ColumnNames()) names += (names.empty() ? "" : ", ") + n;
    return names;
}
