#include "forms/batch_view.h"

#include <algorithm>
#include <cstring>

#include "cli/exit_codes.h"
#include "resources/resource.h"

namespace {

// What the installer wrote on the box: the row's name, else its address.
std::string Label(const RowView& r) { return !r.name.empty() ? r.name : r.address; }

BatchText Text(int id) {
    BatchText t;
    t.id = id;
    return t;
}

BatchText About(int id, const RowView& r, const std::string& detail = "") {
    BatchText t = Text(id);
    t.row = r.row;
    t.name = Label(r);
    t.detail = detail;
    return t;
}

void Say(BatchView* v, const BatchText& text, BatchTone tone = TONE_PLAIN, bool note = false) {
    v->status = text;
    v->tone = tone;
    if (note) v->notes.push_back(text);
}

// The row's new state into the table; it becomes the current row.
void Take(BatchView* v, const RowView& r) {
    for (size_t i = 0; i < v->rows.size(); ++i) {
        if (v->rows[i].row != r.row) continue;
        v->rows[i] = r;
        v->current = static_cast<int>(i);
        return;
    }
}

int PendingText(PendingReason reason) {
    switch (reason) {
    case PENDING_NO_ACK: return IDS_PENDING_NO_ACK;
    case PENDING_NO_ACK_OTHER: return IDS_PENDING_NO_ACK_OTHER;
    case PENDING_LINE_LOST: return IDS_PENDING_LINE_LOST;
    case PENDING_NO_CHECK: return IDS_PENDING_NO_CHECK;
    case PENDING_UNVERIFIED: return IDS_PENDING_UNVERIFIED;
    default: return IDS_PENDING_INTERRUPTED;
    }
}

int FailureText(int code) {
    switch (code) {
    case EXIT_TIMEOUT: return IDS_FAILED_NOT_TAKEN;
    case EXIT_USAGE:
    case EXIT_REFUSED: return IDS_FAILED_REFUSED;
    case EXIT_UNSUPPORTED: return IDS_FAILED_UNSUPPORTED;
    case EXIT_PORT: return IDS_FAILED_PORT;
    case EXIT_LINE_LOST: return IDS_FAILED_LINE_LOST;
    default: return IDS_FAILED_OTHER;
    }
}

// The check's verdict: the table, every problem and warning where it is.
void Checked(BatchView* v, const ProvisionEvent& e) {
    v->rows = e.rows;
    v->current = -1;
    v->notes.clear();
    v->done = e.done;
    v->total = e.total;
    v->portMode = std::any_of(e.rows.begin(), e.rows.end(), [](const RowView& r) { return !r.port.empty(); });
    for (const PlanProblem& p : e.problems) {
        BatchText t = Text(p.column > 0 ? IDS_BATCH_PROBLEM_AT : IDS_BATCH_PROBLEM_ROW);
        t.row = p.row;
        t.column = p.column;
        t.detail = p.text;
        v->notes.push_back(t);
    }
    for (const std::string& p : e.logProblems) {
        BatchText t = Text(IDS_BATCH_PLAIN);
        t.detail = p;
        v->notes.push_back(t);
    }
    for (const PlanWarning& w : e.warnings) {
        BatchText t = Text(w.rows.empty() ? IDS_BATCH_WARNING : w.column > 0 ? IDS_BATCH_WARNING_AT : IDS_BATCH_WARNING_ROWS);
        t.rows = RowsText(w.rows);
        t.column = w.column;
        t.detail = w.text;
        v->notes.push_back(t);
    }
    if (!e.logWarning.empty()) {
        BatchText t = Text(IDS_BATCH_WARNING);
        t.detail = e.logWarning;
        v->notes.push_back(t);
    }
    BatchText status = Text(IDS_BATCH_PROBLEMS);
    status.count = static_cast<int>(e.problems.size() + e.logProblems.size());
    if (status.count > 0) return Say(v, status, TONE_PROBLEM);
    status.id = IDS_BATCH_CHECKED;
    status.count = e.total - e.done - e.pendingRows;
    Say(v, status);
}

void TrackWrites(std::vector<int>* writing, const ProvisionEvent& e) {
    if (e.kind == EV_WRITING) writing->push_back(e.row.row);
    if (e.kind == EV_DONE || e.kind == EV_NOT_TAKEN || e.kind == EV_PENDING || e.kind == EV_FILE_FAILED)
        writing->erase(std::remove(writing->begin(), writing->end(), e.row.row), writing->end());
    if (e.kind == EV_SUMMARY) writing->clear();
}

}  // namespace

std::string BatchTextString(const BatchText& text, const std::function<std::string(int id)>& load) {
    const std::string pattern = load(text.id);
    std::string out;
    for (size_t at = 0; at < pattern.size();) {
        const size_t open = pattern.find('{', at), close = pattern.find('}', open == std::string::npos ? at : open);
        if (open == std::string::npos || close == std::string::npos) {
            out += pattern.substr(at);
            break;
        }
        out += pattern.substr(at, open - at);
        const std::string key = pattern.substr(open + 1, close - open - 1);
        if (key == "row") out += std::to_string(text.row);
        else if (key == "column") out += std::to_string(text.column);
        else if (key == "count") out += std::to_string(text.count);
        else if (key == "name") out += text.name;
        else if (key == "rows") out += text.rows;
        else if (key == "detail") out += text.detail;
        else if (key == "reason" && text.reason != 0) {
            BatchText reason = text;
            reason.id = text.reason;
            reason.reason = 0;
            out += BatchTextString(reason, load);
        } else out += pattern.substr(open, close - open + 1);
        at = close + 1;
    }
    return out;
}

void BatchBegin(BatchView* view, bool run) {
    view->phase = run ? BATCH_RUNNING : BATCH_CHECKING;
    view->reportable = false;
    view->writing.clear();
    Say(view, Text(IDS_BATCH_CHECKING));
}

void BatchEvent(BatchView* v, const ProvisionEvent& e) {
    if (e.kind == EV_PLAN_CHECKED) return Checked(v, e);
    if (e.kind != EV_STILL_THERE) v->done = e.done, v->total = e.total;  // it carries no progress
    if (e.row.row > 0) Take(v, e.row);
    if (e.given.row > 0) Take(v, e.given);
    TrackWrites(&v->writing, e);
    const bool line = !v->portMode;
    switch (e.kind) {
    case EV_WAITING:
    case EV_PORT_BACK:
    case EV_READER_GONE: return Say(v, Text(IDS_BATCH_CONNECT_NEXT));
    case EV_PORT_MISSING:
    case EV_NO_ANSWER: {
        BatchText t = Text(e.kind == EV_NO_ANSWER ? IDS_BATCH_NO_ANSWER : IDS_BATCH_PORT_MISSING);
        t.name = e.port;
        t.detail = e.detail;
        return Say(v, t, TONE_PROBLEM);
    }
    case EV_WRITING: return Say(v, About(IDS_BATCH_WRITING, e.row));
    case EV_DONE: return Say(v, line ? Text(IDS_BATCH_UNPLUG) : About(IDS_BATCH_ROW_DONE, e.row), TONE_DONE);
    case EV_NOT_TAKEN:
        if (e.attempt < MAX_WRITE_ATTEMPTS) return Say(v, About(IDS_BATCH_RETRY, e.row));
        return Say(v, About(IDS_BATCH_NOT_TAKEN, e.row), TONE_PROBLEM, true);
    case EV_PENDING: {
        const int id = !line ? IDS_BATCH_PENDING_PORT : e.readerPresent ? IDS_BATCH_SWAPPED : IDS_BATCH_RECONNECT;
        return Say(v, About(id, e.row, e.row.port), TONE_PROBLEM, true);
    }
    case EV_SAME_READER: return Say(v, About(IDS_BATCH_SAME_READER, e.row));
    case EV_CANNOT_TELL: return Say(v, About(IDS_BATCH_CANNOT_TELL, e.row), TONE_PROBLEM, true);
    case EV_REFUSED: {
        const int id = e.row.row == 0 ? (e.endsRun ? IDS_BATCH_REFUSED_RUN : IDS_BATCH_REFUSED_READER)
                                      : (e.endsRun ? IDS_BATCH_REFUSED_PLAN : IDS_BATCH_REFUSED_ROW);
        return Say(v, About(id, e.row, e.detail), TONE_PROBLEM, true);
    }
    case EV_NOTHING_LEFT: {
        BatchText t = Text(IDS_BATCH_NOTHING_LEFT);
        t.count = e.pendingRows;
        return Say(v, t, TONE_PROBLEM);
    }
    case EV_WARNING: {
        BatchText t = About(IDS_BATCH_WARNING_ROWS, e.row, e.detail);
        t.rows = std::to_string(e.row.row);
        v->notes.push_back(t);
        return;
    }
    case EV_STILL_THERE: return Say(v, Text(IDS_BATCH_STILL_THERE), TONE_PROBLEM);
    case EV_STOPPING: return Say(v, Text(IDS_BATCH_STOPPING));
    case EV_FILE_FAILED:
        return Say(v, About(e.row.row > 0 ? IDS_BATCH_FILE_FAILED_ROW : IDS_BATCH_FILE_FAILED, e.row, e.detail),
                   TONE_PROBLEM, true);
    case EV_SUMMARY: {
        v->reportable = true;
        BatchText t = Text(line && e.summary.doneThisRun > 0 ? IDS_BATCH_ALL_DONE_UNPLUG : IDS_BATCH_ALL_DONE);
        t.count = e.summary.total;
        if (e.exitCode == EXIT_OK) return Say(v, t, TONE_DONE);
        t.id = IDS_BATCH_ENDED_PENDING;
        t.count = e.summary.pending;
        if (e.exitCode == EXIT_PENDING) return Say(v, t, TONE_PROBLEM);
        if (e.exitCode == EXIT_INTERRUPTED) return Say(v, Text(IDS_BATCH_STOPPED));
        return;  // the event that ended the run said why
    }
    default: return;  // a reader seen: the write or the refusal comes next
    }
}

void BatchStopAsked(BatchView* view) {
    if (view->phase != BATCH_RUNNING) return;
    view->phase = BATCH_STOPPING;
    Say(view, Text(IDS_BATCH_STOPPING));
}

void BatchEnded(BatchView* view, int code) {
    view->phase = BATCH_IDLE;
    view->writing.clear();
    if (code == BATCH_NEEDS_PORT) Say(view, Text(IDS_BATCH_NO_PORT), TONE_PROBLEM);
    if (code == BATCH_NOT_STARTED) Say(view, Text(IDS_BATCH_STOPPED));
}

void BatchInputsChanged(BatchView* view, bool havePlan) {
    if (view->phase != BATCH_IDLE) return;
    view->rows.clear();
    view->notes.clear();
    view->current = -1;
    view->done = view->total = 0;
    view->reportable = false;
    Say(view, Text(havePlan ? IDS_BATCH_READY : IDS_BATCH_CHOOSE_PLAN));
}

BatchControls BatchEnabled(const BatchView& view, bool havePlan) {
    const bool idle = view.phase == BATCH_IDLE;
    return {idle, idle && havePlan, idle && havePlan, view.phase == BATCH_RUNNING, idle && view.reportable};
}

BatchStopStep BatchStopRequest(const BatchView& view, bool closing) {
    switch (view.phase) {
    case BATCH_IDLE:
    case BATCH_STOPPING: return closing ? BATCH_STEP_NOW : BATCH_STEP_NONE;
    case BATCH_CHECKING: return BATCH_STEP_NOW;
    case BATCH_RUNNING: return !view.writing.empty() ? BATCH_STEP_ASK : BATCH_STEP_NOW;
    }
    return BATCH_STEP_NONE;
}

std::string BatchProgress(const BatchView& view) {
    return std::to_string(view.done) + " / " + std::to_string(view.total);
}

BatchText RowStateText(const RowView& row) {
    BatchText t = Text(IDS_ROW_TO_DO);
    if (row.state == ROW_DONE) t.id = IDS_ROW_DONE;
    if (row.state == ROW_PENDING) t.id = IDS_ROW_PENDING, t.reason = PendingText(row.pending);
    if (row.state == ROW_TO_DO && row.lastFailure != 0)
        t.id = IDS_ROW_FAILED, t.reason = FailureText(row.lastFailure), t.count = row.lastFailure;
    return t;
}

std::string LogPathForPlan(const std::string& oldPlan, const std::string& newPlan, const std::string& log) {
    const bool followsPlan = log.empty() || (!oldPlan.empty() && log == DefaultLogPath(oldPlan));
    if (!followsPlan) return log;
    return newPlan.empty() ? std::string() : DefaultLogPath(newPlan);
}

std::string ReportPathForPlan(const std::string& plan) {
    static const char LOG_SUFFIX[] = ".log.jsonl";
    const std::string log = DefaultLogPath(plan);
    return log.substr(0, log.size() - std::strlen(LOG_SUFFIX)) + "-report.csv";
}
