// A provisioning plan: a table of per-reader settings as a spreadsheet
// saves it as CSV (UTF-8 with or without a byte-order mark, or GBK when
// the bytes are no UTF-8; CRLF or LF; quoted cells as RFC 4180 has them).
// The first row names the columns: fields of the document and optionally
// "port". Every other row is one reader; an empty cell keeps the value the
// reader (or the base document) has.
//
// Pure functions: text in, the plan or one line per problem out. Rows
// are numbered as the spreadsheet shows them (the column names are row
// 1), columns from 1.
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

struct Plan {
    std::string file;             // as named in messages
    std::vector<FieldId> columns; // per column; FIELD_COUNT for the port column
    bool hasPortColumn = false;
    bool gbk = false;             // the file was read as GBK
    std::vector<PlanRow> rows;    // rows with at least one non-empty cell
};

// Reads and checks everything that needs no reader: the table, the
// encoding, the columns, the kind of every value, and the values that
// must differ between readers (ipAddress, deviceId, deviceName; port in a
// plan with a port column). base holds the --base document's values (for
// the rows that have DHCP on). Appends one line per problem to *problems;
// returns 0 when there is none, else 2 (malformed) or 3 (refused).
int ParsePlan(const std::string& bytes, const std::string& file, const Overlay& base, Plan* out,
              std::vector<std::string>* problems);

// The row's values over base, as the reader is to get them.
Overlay RowOverlay(const Overlay& base, const PlanRow& row);
// What names the row's reader in a line: its ipAddress, deviceName or
// deviceId as the row gives it; empty when it gives none.
std::string RowLabel(const PlanRow& row);
