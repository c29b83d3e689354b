// The batch window's states for the provisioning engine's events.
#include <gtest/gtest.h>

#include <map>

#include "cli/exit_codes.h"
#include "forms/batch_view.h"
#include "resources/resource.h"

namespace {

RowView Row(int row, RowState state = ROW_TO_DO, PendingReason pending = PENDING_NONE, int lastFailure = 0) {
    RowView r;
    r.row = row;
    r.name = "门禁-0" + std::to_string(row);
    r.address = "10.0.7." + std::to_string(row);
    r.state = state;
    r.pending = pending;
    r.lastFailure = lastFailure;
    return r;
}

ProvisionEvent Event(ProvisionEventKind kind, const RowView& row = RowView(), int done = 0) {
    ProvisionEvent e;
    e.kind = kind;
    e.row = row;
    e.done = done;
    e.total = kind == EV_STILL_THERE ? 0 : 3;  // it carries no progress
    return e;
}

// The table as letters: t to do, d done, p pending, f failed.
std::string States(const BatchView& v) {
    std::string s;
    for (const RowView& r : v.rows) {
        const int id = RowStateText(r).id;
        s += id == IDS_ROW_DONE ? 'd' : id == IDS_ROW_PENDING ? 'p' : id == IDS_ROW_FAILED ? 'f' : 't';
    }
    return s;
}

// A run as the engine reports it, one event after another: the status
// line, its tone, the table, the row worked on, the progress and what Esc
// does after each.
TEST(BatchView, ARunAsTheEngineReportsIt) {
    BatchView v;
    BatchBegin(&v, true);
    ProvisionEvent checked = Event(EV_PLAN_CHECKED);
    checked.rows = {Row(2), Row(3), Row(4)};
    ProvisionEvent retry = Event(EV_NOT_TAKEN, Row(2, ROW_TO_DO, PENDING_NONE, EXIT_TIMEOUT)), cannotTell =
        Event(EV_CANNOT_TELL, Row(3, ROW_PENDING, PENDING_LINE_LOST), 1), refused =
        Event(EV_REFUSED, Row(4, ROW_TO_DO, PENDING_NONE, EXIT_REFUSED), 1), summary = Event(EV_SUMMARY, RowView(), 1);
    retry.attempt = 1;
    cannotTell.given = Row(4);
    summary.exitCode = EXIT_PENDING;
    summary.summary.pending = 1;
    const struct {
        ProvisionEvent event;
        int status;
        BatchTone tone;
        const char* states;
        int current, done;
        BatchStopStep escape;
    } steps[] = {
        {checked, IDS_BATCH_CHECKED, TONE_PLAIN, "ttt", -1, 0, BATCH_STEP_NOW},
        {Event(EV_WAITING), IDS_BATCH_CONNECT_NEXT, TONE_PLAIN, "ttt", -1, 0, BATCH_STEP_NOW},
        {Event(EV_READER_SEEN), IDS_BATCH_CONNECT_NEXT, TONE_PLAIN, "ttt", -1, 0, BATCH_STEP_NOW},
        {Event(EV_WRITING, Row(2)), IDS_BATCH_WRITING, TONE_PLAIN, "ttt", 0, 0, BATCH_STEP_ASK},
        {retry, IDS_BATCH_RETRY, TONE_PLAIN, "ftt", 0, 0, BATCH_STEP_NOW},
        {Event(EV_WRITING, retry.row), IDS_BATCH_WRITING, TONE_PLAIN, "ftt", 0, 0, BATCH_STEP_ASK},
        {Event(EV_DONE, Row(2, ROW_DONE), 1), IDS_BATCH_UNPLUG, TONE_DONE, "dtt", 0, 1, BATCH_STEP_NOW},
        {Event(EV_READER_GONE, RowView(), 1), IDS_BATCH_CONNECT_NEXT, TONE_PLAIN, "dtt", 0, 1, BATCH_STEP_NOW},
        {Event(EV_WRITING, Row(3), 1), IDS_BATCH_WRITING, TONE_PLAIN, "dtt", 1, 1, BATCH_STEP_ASK},
        {Event(EV_PENDING, Row(3, ROW_PENDING, PENDING_LINE_LOST), 1), IDS_BATCH_RECONNECT, TONE_PROBLEM, "dpt", 1, 1,
         BATCH_STEP_NOW},
        {cannotTell, IDS_BATCH_CANNOT_TELL, TONE_PROBLEM, "dpt", 2, 1, BATCH_STEP_NOW},
        {refused, IDS_BATCH_REFUSED_ROW, TONE_PROBLEM, "dpf", 2, 1, BATCH_STEP_NOW},
        {Event(EV_SAME_READER, Row(2, ROW_DONE), 1), IDS_BATCH_SAME_READER, TONE_PLAIN, "dpf", 0, 1, BATCH_STEP_NOW},
        {Event(EV_STILL_THERE), IDS_BATCH_STILL_THERE, TONE_PROBLEM, "dpf", 0, 1, BATCH_STEP_NOW},
        {Event(EV_STOPPING, RowView(), 1), IDS_BATCH_STOPPING, TONE_PLAIN, "dpf", 0, 1, BATCH_STEP_NOW},
        {summary, IDS_BATCH_ENDED_PENDING, TONE_PROBLEM, "dpf", 0, 1, BATCH_STEP_NOW},
    };
    for (const auto& s : steps) {
        BatchEvent(&v, s.event);
        SCOPED_TRACE(s.event.kind);
        EXPECT_EQ(v.status.id, s.status);
        EXPECT_EQ(v.tone, s.tone);
        EXPECT_EQ(States(v), s.states);
        EXPECT_EQ(v.current, s.current);
        EXPECT_EQ(BatchProgress(v), std::to_string(s.done) + " / 3");
        EXPECT_EQ(BatchStopRequest(v, false), s.escape);
    }
    EXPECT_EQ(v.notes.size(), 3u) << "the pending row, the look-alike reader and the refusal stay listed";
    EXPECT_TRUE(v.reportable);
    BatchEnded(&v, EXIT_PENDING);
    EXPECT_EQ(v.status.id, IDS_BATCH_ENDED_PENDING);
    const BatchControls idle = BatchEnabled(v, true);
    EXPECT_TRUE(idle.inputs && idle.check && idle.start && !idle.stop && idle.report);
}

// The texts: every problem and warning where it is, with the string
// table's patterns filled in, the nested reasons of the table's cells.
TEST(BatchView, CheckedPlanAndItsTexts) {
    BatchView v;
    BatchBegin(&v, false);
    ProvisionEvent e = Event(EV_PLAN_CHECKED);
    e.problems = {{2, 3, "platformPort must be a port number"}, {3, 0, "deviceName \"a\" repeats row 2"}};
    e.logProblems = {"fleet.log.jsonl:4:1: not JSON"};
    e.warnings = {{1, {3}, "spaces taken off"}, {0, {2, 3, 4, 5}, "the gateway stays"}};
    e.logWarning = "a torn last line was cut off";
    e.rows = {Row(2), Row(3)};
    e.rows[1].port = "COM7";
    BatchEvent(&v, e);
    const std::map<int, std::string> table = {
        {IDS_BATCH_PROBLEM_AT, "第 {row} 行 第 {column} 列：{detail}"}, {IDS_BATCH_PROBLEM_ROW, "第 {row} 行：{detail}"},
        {IDS_BATCH_WARNING_AT, "警告：第 {rows} 行 第 {column} 列：{detail}"}, {IDS_BATCH_WARNING_ROWS, "警告：第 {rows} 行：{detail}"},
        {IDS_BATCH_WARNING, "警告：{detail}"}, {IDS_BATCH_PLAIN, "{detail}"}, {IDS_BATCH_PROBLEMS, "{count} 处问题 {unknown}"},
        {IDS_ROW_PENDING, "待确认：{reason}"}, {IDS_PENDING_NO_CHECK, "核对无应答"}, {IDS_ROW_FAILED, "失败：{reason}"},
        {IDS_FAILED_OTHER, "错误 {count}"}};
    auto load = [&](int id) { return table.at(id); };
    std::vector<std::string> lines;
    for (const BatchText& t : v.notes) lines.push_back(BatchTextString(t, load));
    EXPECT_EQ(lines, (std::vector<std::string>{"第 2 行 第 3 列：platformPort must be a port number",
                                               "第 3 行：deviceName \"a\" repeats row 2", "fleet.log.jsonl:4:1: not JSON",
                                               "警告：第 3 行 第 1 列：spaces taken off", "警告：第 2-5 行：the gateway stays",
                                               "警告：a torn last line was cut off"}));
    EXPECT_EQ(BatchTextString(v.status, load), "3 处问题 {unknown}");
    EXPECT_EQ(v.tone, TONE_PROBLEM);
    EXPECT_TRUE(v.portMode);
    EXPECT_EQ(BatchTextString(RowStateText(Row(2, ROW_PENDING, PENDING_NO_CHECK)), load), "待确认：核对无应答");
    EXPECT_EQ(BatchTextString(RowStateText(Row(2, ROW_TO_DO, PENDING_NONE, 99)), load), "失败：错误 99");
}

// Which controls work, what a stop or a close does, and the log that follows the plan.
TEST(BatchView, ControlsStopsAndFiles) {
    BatchView v;
    BatchInputsChanged(&v, false);
    EXPECT_EQ(v.status.id, IDS_BATCH_CHOOSE_PLAN);
    EXPECT_FALSE(BatchEnabled(v, false).start);
    EXPECT_EQ(BatchStopRequest(v, false), BATCH_STEP_NONE);
    EXPECT_EQ(BatchStopRequest(v, true), BATCH_STEP_NOW);
    BatchBegin(&v, true);
    const BatchControls running = BatchEnabled(v, true);
    EXPECT_TRUE(!running.inputs && !running.check && !running.start && running.stop && !running.report);
    BatchEvent(&v, Event(EV_WRITING, Row(2)));
    EXPECT_EQ(BatchStopRequest(v, true), BATCH_STEP_ASK);
    BatchStopAsked(&v);
    EXPECT_EQ(v.status.id, IDS_BATCH_STOPPING);
    EXPECT_FALSE(BatchEnabled(v, true).stop);
    EXPECT_EQ(BatchStopRequest(v, false), BATCH_STEP_NONE) << "asked once";
    EXPECT_EQ(BatchStopRequest(v, true), BATCH_STEP_NOW) << "closing once stopping closes when the run has ended";
    BatchEnded(&v, BATCH_NEEDS_PORT);
    EXPECT_EQ(v.status.id, IDS_BATCH_NO_PORT);
    EXPECT_EQ(BatchStopRequest(v, false), BATCH_STEP_NONE) << "the write ended with the run";

    const struct { const char *oldPlan, *newPlan, *log, *expected; } files[] = {
        {"", "C:\\bench\\fleet.csv", "", "C:\\bench\\fleet.log.jsonl"},
        {"C:\\bench\\fleet.csv", "D:\\b.CSV", "C:\\bench\\fleet.log.jsonl", "D:\\b.log.jsonl"},
        {"C:\\bench\\fleet.csv", "D:\\b.csv", "C:\\logs\\mine.jsonl", "C:\\logs\\mine.jsonl"},  // chosen apart
        {"C:\\bench\\fleet.csv", "", "C:\\bench\\fleet.log.jsonl", ""},
    };
    for (const auto& f : files) EXPECT_EQ(LogPathForPlan(f.oldPlan, f.newPlan, f.log), f.expected) << f.newPlan;
}

}  // namespace
