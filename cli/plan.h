// A provisioning plan: a table of per-reader settings as a spreadsheet
// saves it as CSV (UTF-8 with or without a byte-order mark, or GBK when
// the bytes are no UTF-8; CRLF or LF; quoted cells as RFC 4180 has them).
// The first row names the columns: fields of the document and optionally
// "port", in any case. Every other row is one reader; an empty cell keeps
// the value the reader (or the base document) has. Cells are taken
// without the spaces around them.
//
// Pure functions: text in, the plan and its problems out. Rows are
// numbered as the spreadsheet shows them (the column names are row 1),
// columns from 1.
#pragma once
#include <string>
#include <vector>

#include "document/fields.h"

constexpr size_t PLAN_MAX_BYTES = 16u << 20;
constexpr size_t PLAN_MAX_CELL = 1024;
constexpr size_t PLAN_MAX_COLUMNS = 64;
constexpr size_t PLAN_MAX_ROWS = 10000;

// The cells of a CSV text, row by row (text as it came, not converted).
// false with one line "file:row:column: why" in *error.
bool ReadCsvCells(const std::string& bytes, const std::string& file,
                  std::vector<std::vector<std::string>>* rows, std::string* error);

struct PlanRow {
    int row = 0;          // its number in the spreadsheet
    std::string port;     // the port column's value; empty without one
    Overlay overlay;      // the row's non-empty cells, marked fromPlan
};

// A problem at a place of the plan: column 0 when it concerns a whole row.
struct PlanProblem {
    int row = 0;
    int column = 0;
    std::string text;
};

// Something the plan asks for that works but probably should not, once
// per kind for all the rows it concerns (never a refusal).
struct PlanWarning {
    int column = 0;         // the column concerned, 0 when none
    std::vector<int> rows;  // the rows concerned, in order
    std::string text;       // the first of them: what is wrong and how to mend it
};

struct Plan {
    std::string file;             // as named in messages
    std::vector<FieldId> columns; // per column; FIELD_COUNT for the port column
    bool hasPortColumn = false;
    bool gbk = false;             // the file was read as GBK
    std::vector<PlanRow> rows;    // rows with at least one non-empty cell
    std::vector<PlanWarning> warnings;
};

// Reads and checks everything that needs no reader: the table, the
// encoding, the columns, the kind of every value, values no network can
// use, and the values that must differ between readers (ipAddress,
// deviceId, deviceName; port in a plan with a port column). base holds the
// --base document's values (the rows' device type, their DHCP, the
// address and gateway a row moves from). Appends one problem per fault;
// returns 0 when there is none, else 2 (malformed) or 3 (refused).
int ParsePlan(const std::string& bytes, const std::string& file, const Overlay& base, Plan* out,
              std::vector<PlanProblem>* problems);

// "plan.csv:3:2: text", or "plan.csv:3: text" for a whole row.
std::string PlanProblemLine(const std::string& file, const PlanProblem& problem);
// "2-5, 8, 11": rows as a short text.
std::string RowsText(const std::vector<int>& rows);

// The row's values over base, as the reader is to get them.
Overlay RowOverlay(const Overlay& base, const PlanRow& row);
// What the installer writes on the reader's box: its name (deviceName, or
// "ID 42" when it is known by its device ID) and its address ("DHCP" when
// it takes one), each empty when the row and base give none.
std::string RowName(const Overlay& base, const PlanRow& row);
std::string RowAddress(const Overlay& base, const PlanRow& row);
// What tells the row apart in a log, whatever its number: the values
// it gives (base, then the row) without secrets, and its port in a plan
// with a port column.
std::string RowKey(const Overlay& base, const PlanRow& row);
// The same for values as a log writes them (port: port mode's, else empty).
std::string ValuesKey(const nlohmann::ordered_json& written, const std::string& port);
// The field names a plan may name, for messages: "port, connectMode, ...".
std::string PlanColumnNames();
