#include "app/batch_job.h"

#include <atomic>
#include <functional>
#include <thread>

#include "app/file_io.h"
#include "app/wintext.h"
#include "cli/audit_log.h"
#include "cli/report.h"
#include "forms/batch_view.h"

struct BatchJob {
    std::thread thread;
    std::atomic<bool> stop{false};
};

namespace {

// Every event copied and posted to the window (on the engine's threads).
class PostingObserver : public ProvisionObserver {
public:
    explicit PostingObserver(HWND w) : window(w) {}
    void OnEvent(const ProvisionEvent& event) override {
        ProvisionEvent* copy = new ProvisionEvent(event);
        if (!PostMessageW(window, WM_BATCH_EVENT, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
    }

private:
    HWND window;
};

// The check's verdict as the window's view takes it (its portMode: the rows name their ports).
class CheckObserver : public ProvisionObserver {
public:
    void OnEvent(const ProvisionEvent& event) override { BatchEvent(&view, event); }
    BatchView view;
};

// The work on the job's thread; its result and an error text posted at its end.
BatchJob* Start(HWND window, std::function<int(BatchJob& job, std::wstring* error)> work) {
    BatchJob* job = new BatchJob;
    job->thread = std::thread([window, job, work] {
        std::wstring error;
        const int code = work(*job, &error);
        std::wstring* detail = error.empty() ? nullptr : new std::wstring(error);
        if (!PostMessageW(window, WM_BATCH_JOB_ENDED, static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(detail)))
            delete detail;
    });
    return job;
}

}  // namespace

BatchJob* StartBatchCheck(HWND window, const ProvisionSetup& setup) {
    return Start(window, [window, setup](BatchJob&, std::wstring*) {
        ProvisionSetup check = setup;
        check.port.clear();
        PostingObserver observer(window);
        return CheckProvisionPlan(check, observer);
    });
}

BatchJob* StartBatchRun(HWND window, const ProvisionSetup& setup) {
    return Start(window, [window, setup](BatchJob& job, std::wstring*) {
        ProvisionSetup run = setup;
        run.port.clear();
        CheckObserver plan;
        const bool clean = CheckProvisionPlan(run, plan) == 0;
        if (job.stop) return BATCH_NOT_STARTED;
        // A plan with problems goes to the engine too: it lists them, logs its verdict and starts nothing.
        if (!plan.view.portMode) run.port = setup.port;
        if (clean && !plan.view.portMode && run.port.empty()) return BATCH_NEEDS_PORT;
        PostingObserver observer(window);
        return RunProvisionEngine(run, observer, job.stop);
    });
}

BatchJob* StartReportExport(HWND window, const std::string& logPath, const std::wstring& csvPath) {
    return Start(window, [logPath, csvPath](BatchJob&, std::wstring* error) {
        std::string why;
        AuditLog log;
        if (!ReadAuditLogFile(logPath, &log, &why)) {
            *error = Utf8ToWide(why.c_str());
            return 1;
        }
        if (WriteReplacing(csvPath, ReportCsv(BuildReport(log)))) return 0;
        *error = LastErrorText();
        return 1;
    });
}

void StopBatchJob(BatchJob* job) {
    if (job != nullptr) job->stop = true;
}

void EndBatchJob(BatchJob* job) {
    if (job == nullptr) return;
    if (job->thread.joinable()) job->thread.join();
    delete job;
}
