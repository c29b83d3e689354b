// Feeds arbitrary bytes to the plan reader as a CSV file and checks what
// it says: every refusal is one line naming the file and a row (and, for
// a malformed table, a column); an accepted plan has rows of the header's
// width whose values sit in named columns, and warnings about rows it has;
// the cells of any table the CSV reader accepts read back the same once
// written out again fully quoted.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/plan.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::string FILE_NAME = "f.csv";

// "f.csv:ROW:" with ROW a number of at most the table's rows + 1.
void CheckPlace(const std::string& line, size_t rowLimit) {
    CHECK(line.rfind(FILE_NAME + ":", 0) == 0);
    CHECK(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
    size_t at = FILE_NAME.size() + 1, digits = 0;
    unsigned long row = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && digits < 9) row = row * 10 + (line[at++] - '0'), ++digits;
    CHECK(digits > 0 && row >= 1 && row <= rowLimit);
    CHECK(at < line.size() && line[at] == ':');
}

std::string Quoted(const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            out += c ? ",\"" : "\"";
            for (char ch : row[c]) out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            out += '"';
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::vector<std::string>> cells, again;
    std::string error;
    const bool table = ReadCsvCells(text, FILE_NAME, &cells, &error);
    size_t lineEnds = 1;
    for (char c : text) lineEnds += c == '\n' || c == '\r';
    if (table) {
        CHECK(cells.size() <= PLAN_MAX_ROWS);
        CHECK(ReadCsvCells(Quoted(cells), FILE_NAME, &again, &error) && again == cells);
    } else {
        CheckPlace(error, lineEnds + 1);
        CHECK(error.find(':', error.find(':', FILE_NAME.size() + 1) + 1) != std::string::npos);  // a column too
    }

    Plan plan;
    std::vector<PlanProblem> problems;
    const int code = ParsePlan(text, FILE_NAME, Overlay(), &plan, &problems);
    CHECK(code == 0 || code == 2 || code == 3);
    CHECK((code == 0) == problems.empty());
    for (const PlanProblem& p : problems) CheckPlace(PlanProblemLine(FILE_NAME, p), lineEnds + 1);
    if (!table) CHECK(code == 2);
    if (code != 0) return 0;
    CHECK(table && !plan.rows.empty() && plan.columns.size() == cells[0].size());
    for (const PlanWarning& w : plan.warnings) {
        CHECK(!w.rows.empty() && w.column >= 0 && static_cast<size_t>(w.column) <= cells[0].size());
        for (size_t i = 0; i < w.rows.size(); ++i) CHECK(w.rows[i] >= 2 && (i == 0 || w.rows[i] > w.rows[i - 1]));
        CHECK(static_cast<size_t>(w.rows.back()) <= cells.size());
    }
    int previous = 1;
    for (const PlanRow& row : plan.rows) {
        CHECK(row.row > previous && static_cast<size_t>(row.row) <= cells.size());
        previous = row.row;
        CHECK(cells[row.row - 1].size() == cells[0].size());
        CHECK(plan.hasPortColumn == !row.port.empty());
        for (FieldId id : row.overlay.order) {
            bool named = false;
            for (FieldId column : plan.columns) named = named || column == id;
            CHECK(named && row.overlay.values[id].present && row.overlay.values[id].fromPlan);
        }
    }
    return 0;
}
