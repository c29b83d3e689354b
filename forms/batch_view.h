// What the batch window shows of a provisioning run: the status line and
// its progress, one table line per plan row, the list of the check's
// problems and warnings and the run's notices, and which controls work.
// Free of window calls: the window (app/batch_window.cpp) feeds it the
// engine's events (cli/provision_engine.h) and the technician's requests,
// and only shows what it holds. Texts are string table ids with their
// values (resources/resource.h); BatchTextString fills them in.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "cli/provision_engine.h"

// A text of the string table and the values its placeholders take.
struct BatchText {
    int id = 0;
    int row = 0;          // {row}
    int column = 0;       // {column}
    int count = 0;        // {count}
    std::string name;     // {name}: what the installer writes on the box, or a port
    std::string rows;     // {rows}: "2-5, 8"
    std::string detail;   // {detail}: the checks' own words, a path, a port
    int reason = 0;       // {reason}: another text of the string table

    bool operator==(const BatchText& o) const {
        return id == o.id && row == o.row && column == o.column && count == o.count && name == o.name &&
               rows == o.rows && detail == o.detail && reason == o.reason;
    }
};

// The text with its placeholders filled; load gives a string table text (UTF-8).
std::string BatchTextString(const BatchText& text, const std::function<std::string(int id)>& load);

enum BatchPhase {
    BATCH_IDLE,       // nothing runs
    BATCH_CHECKING,   // 检查: the plan is being checked
    BATCH_RUNNING,    // 开始: the engine runs (its own check first)
    BATCH_STOPPING,   // 停止 asked: the run ends after the reader it is working on
};

enum BatchTone { TONE_PLAIN, TONE_DONE, TONE_PROBLEM };

struct BatchView {
    BatchPhase phase = BATCH_IDLE;
    std::vector<RowView> rows;     // the plan's rows as the last check or run saw them
    int current = -1;              // index into rows of the row worked on, -1 none
    BatchText status;              // the status line
    BatchTone tone = TONE_PLAIN;
    std::vector<BatchText> notes;  // the list under the table
    int done = 0, total = 0;       // the progress
    std::vector<int> writing;      // rows being written, from EV_WRITING to its outcome (port mode:
                                   // several): stopping or closing then asks first
    bool portMode = false;         // the plan names a port for every row
    bool reportable = false;       // a run has ended with its log: 导出报告 offers it
};

// Called when a check or a run starts.
void BatchBegin(BatchView* view, bool run);
// An event of the engine, in the order the engine sent them.
void BatchEvent(BatchView* view, const ProvisionEvent& event);
// 停止 (asked once while running).
void BatchStopAsked(BatchView* view);
// The check or run is over: the engine's exit code, or one of these.
constexpr int BATCH_NOT_STARTED = -1;  // stopped before the engine ran
constexpr int BATCH_NEEDS_PORT = -2;   // a plan for one port, and no port chosen
void BatchEnded(BatchView* view, int code);
// The plan, the base or the log changed while idle: the table, the list and
// the report offer belonged to the files before; the status says what to do.
void BatchInputsChanged(BatchView* view, bool havePlan);

// Which controls work now.
struct BatchControls {
    bool inputs;   // the port, the three files and their 浏览...
    bool check;
    bool start;    // 开始, and Enter
    bool stop;
    bool report;   // 导出报告...
};
BatchControls BatchEnabled(const BatchView& view, bool havePlan);

// What Esc (closing: the window's close) does now.
enum BatchStopStep {
    BATCH_STEP_NONE,       // nothing to stop (Esc while idle or already stopping)
    BATCH_STEP_NOW,        // close at once, or stop (and close once the run has ended)
    BATCH_STEP_ASK,        // a reader is being written: ask the technician first
};
BatchStopStep BatchStopRequest(const BatchView& view, bool closing);

// "7 / 40".
std::string BatchProgress(const BatchView& view);
// A row's state cell: 待配置, 已完成, 待确认 or 失败 with the reason.
BatchText RowStateText(const RowView& row);

// The log's path when the plan changes from oldPlan to newPlan: the
// default beside the plan (as tavrolin-cli provision has it) unless the
// technician chose another.
std::string LogPathForPlan(const std::string& oldPlan, const std::string& newPlan, const std::string& log);
// The report offered beside the plan: "fleet.csv" -> "fleet-report.csv".
std::string ReportPathForPlan(const std::string& plan);
