// The batch window's work off the window thread: the plan's check, the
// provisioning engine's run (the engine tavrolin-cli provision runs) and
// the report's export, one at a time on a thread of its own. The window
// thread only starts, stops and ends a job; what the job finds comes back
// as posted messages.
#pragma once
#include <windows.h>

#include <string>

#include "cli/provision_engine.h"

// Posted to the window, in the order they happened:
#define WM_BATCH_EVENT (WM_APP + 0x20)      // lParam: a ProvisionEvent* the window deletes
#define WM_BATCH_JOB_ENDED (WM_APP + 0x21)  // wParam: the engine's exit code, BATCH_NOT_STARTED or
                                            // BATCH_NEEDS_PORT (forms/batch_view.h); lParam: a
                                            // std::wstring* the window deletes (an export's error), or 0

struct BatchJob;

// 检查: the plan, the base and the log checked as tavrolin-cli provision
// --dry-run does (setup.port is not part of the check).
BatchJob* StartBatchCheck(HWND window, const ProvisionSetup& setup);
// 开始: the engine's run on setup.port, or, for a plan naming a port for
// every row, on those (the plan is read once first to know which).
BatchJob* StartBatchRun(HWND window, const ProvisionSetup& setup);
// 导出报告: the report of the log (tavrolin-cli report's CSV) written to csvPath.
BatchJob* StartReportExport(HWND window, const std::string& logPath, const std::wstring& csvPath);

// The run ends after the reader it is working on (any job: before the engine starts, none runs).
void StopBatchJob(BatchJob* job);
// After WM_BATCH_JOB_ENDED: the thread has ended (or is ending); joined and freed.
void EndBatchJob(BatchJob* job);
