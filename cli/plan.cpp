#include "cli/plan.h"

#include <map>

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

std::string Trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t')) --b;
    return text.substr(a, b - a);
}

// The texts of every cell in UTF-8. A file that is no UTF-8 is read as
// GBK; the first cell that is neither is the error.
bool ToUtf8(std::vector<std::vector<std::string>>* rows, const std::string& file, bool utf8, bool bom,
            std::string* error) {
    if (utf8) return true;
    for (size_t r = 0; r < rows->size(); ++r) {
        for (size_t c = 0; c < (*rows)[r].size(); ++c) {
            std::string& cell = (*rows)[r][c];
            std::string converted;
            if (bom ? !IsUtf8(cell) : !GbkToUtf8(cell, &converted)) {
                *error = Where(file, r + 1, c + 1) + ": invalid bytes: the cell is " +
                         (bom ? "no UTF-8 (the file starts with a UTF-8 byte-order mark)" : "neither UTF-8 nor GBK");
                return false;
            }
            cell = converted;
        }
    }
    // A text that is no UTF-8 but whose cells all are has its fault in
    // the separators: the byte-order mark of a file that is no UTF-8.
    *error = Where(file, 1, 1) + ": invalid bytes: neither UTF-8 nor GBK";
    return !bom;
}

}  // namespace

bool ReadCsvCells(const std::string& bytes, const std::string& file, std::vector<std::vector<std::string>>* rows,
                  std::string* error) {
    rows->clear();
    if (bytes.size() > PLAN_MAX_BYTES) {
        *error = Where(file, 1, 1) + ": the file is larger than " + std::to_string(PLAN_MAX_BYTES >> 20) + " MB";
        return false;
    }
    size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t n = bytes.size();
    std::vector<std::string> row;
    std::string cell;
    auto fail = [&](const std::string& why) {
        *error = Where(file, rows->size() + 1, row.size() + 1) + ": " + why;
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
            *error = Where(file, rows->size(), 1) + ": more than " + std::to_string(PLAN_MAX_ROWS) + " rows";
            return false;
        }
    }
    return true;
}

int ParsePlan(const std::string& bytes, const std::string& file, const Overlay& base, Plan* out,
              std::vector<std::string>* problems) {
    *out = Plan();
    out->file = file;
    std::vector<std::vector<std::string>> cells;
    std::string error;
    const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const bool utf8 = IsUtf8(bytes);
    if (!ReadCsvCells(bytes, file, &cells, &error) || !ToUtf8(&cells, file, utf8, bom, &error)) {
        problems->push_back(OneLine(error));
        return INPUT_MALFORMED;
    }
    out->gbk = !utf8;
    if (cells.empty() || AllEmpty(cells[0])) {
        problems->push_back(Where(file, 1, 1) + ": the first row must name the columns (ipAddress, deviceName, ...)");
        return INPUT_MALFORMED;
    }

    int worst = 0;
    auto problem = [&](int code, const std::string& text) {
        problems->push_back(OneLine(text));
        if (worst != INPUT_MALFORMED) worst = code;
    };
    std::map<std::string, size_t> named;
    for (size_t c = 0; c < cells[0].size(); ++c) {
        const std::string name = Trimmed(cells[0][c]);
        const FieldId id = name == "port" ? FIELD_COUNT : FieldByName(name);
        out->columns.push_back(id);
        if (name == "port") out->hasPortColumn = true;
        if (name.empty()) {
            problem(INPUT_MALFORMED, Where(file, 1, c + 1) + ": a column without a name");
        } else if (name != "port" && id == FIELD_COUNT) {
            problem(INPUT_MALFORMED, Where(file, 1, c + 1) + ": unknown column \"" + name +
                                         "\" (field names of the document, or port)");
        } else if (!named.emplace(name, c + 1).second) {
            problem(INPUT_MALFORMED, Where(file, 1, c + 1) + ": column " + name + " appears twice (also column " +
                                         std::to_string(named[name]) + ")");
        }
    }
    if (worst != 0) return worst;

    const size_t width = cells[0].size();
    for (size_t r = 1; r < cells.size(); ++r) {
        const std::vector<std::string>& line = cells[r];
        if (AllEmpty(line)) continue;  // spreadsheets save empty rows at the end
        if (line.size() != width) {
            problem(INPUT_MALFORMED, Where(file, r + 1, std::min(line.size(), width) + 1) + ": the row has " +
                                         std::to_string(line.size()) + " cells, the first row " + std::to_string(width));
            continue;
        }
        PlanRow row;
        row.row = static_cast<int>(r + 1);
        for (size_t c = 0; c < width; ++c) {
            if (line[c].empty()) continue;
            if (out->columns[c] == FIELD_COUNT) {
                row.port = line[c];
                continue;
            }
            FieldValue value;
            InputError bad;
            if (!ParseFieldText(out->columns[c], line[c], Where(file, r + 1, c + 1), &value, &bad)) {
                problem(bad.exitCode, bad.message);
                continue;
            }
            value.fromPlan = true;
            Overlay one;
            one.values[out->columns[c]] = value;
            one.order.push_back(out->columns[c]);
            LayerOverlay(&row.overlay, one);
        }
        if (out->hasPortColumn && row.port.empty())
            problem(INPUT_MALFORMED, Where(file, r + 1, named["port"]) + ": the port is empty");
        out->rows.push_back(row);
    }
    if (out->rows.empty() && worst == 0)
        problem(INPUT_MALFORMED, Where(file, 2, 1) + ": no readers: the plan has no rows after the column names");

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
        // reader again, so two rows alike could never both be done.
        if (!out->hasPortColumn) keys.emplace_back("", OverlayFields(row.overlay).dump());
        for (const auto& key : keys) {
            const auto at = seen.emplace(key.first + "=" + key.second, row.row);
            if (at.second) continue;
            const std::string earlier = std::to_string(at.first->second);
            problem(INPUT_REFUSED, file + ":" + std::to_string(row.row) + ": " +
                                       (key.first.empty() ? "the row repeats row " + earlier + " (every reader must differ)"
                                                          : key.first + " " + key.second + " repeats row " + earlier));
        }
    }
    return worst;
}

Overlay RowOverlay(const Overlay& base, const PlanRow& row) {
    Overlay layered = base;
    LayerOverlay(&layered, row.overlay);
    return layered;
}

std::string RowLabel(const PlanRow& row) {
    const FieldValue* v = row.overlay.values;
    if (v[F_IP_ADDRESS].present && !v[F_IP_ADDRESS].addressBlank) return DottedAddress(v[F_IP_ADDRESS].address);
    const nlohmann::ordered_json fields = OverlayFields(row.overlay);
    if (fields.contains("deviceName") && fields["deviceName"].is_string()) return fields["deviceName"].get<std::string>();
    if (v[F_DEVICE_ID].present) return "deviceId " + std::to_string(v[F_DEVICE_ID].number);
    return "";
}
