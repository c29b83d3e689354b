// tavrolin-cli provision: the provisioning engine (cli/provision_engine.h)
// on the console, one line for each thing a technician acts on; report:
// the sheet of a provisioning log; scan: which ports have a reader answering.
#pragma once
#include <string>
#include <vector>

struct ProvisionOptions {
    std::string planFile;
    std::string port;        // line mode: the port the readers come to
    std::string baseFile;    // --base: a document from export; empty without
    std::string logFile;     // empty: PLAN.log.jsonl beside the plan
    bool dryRun = false;     // check the plan (and show each row's record over --base)
    bool json = false;       // one JSON object per line and event on standard output
    bool trace = false;
    int pollMs = 300;        // line mode: how often the port is asked
    int timeoutMs = 3000;    // the write's acknowledgement and the check after it
    std::vector<int> release;  // pending rows whose readers the technician has checked
};

// Returns the exit code (see RunProvisionEngine).
int RunProvision(const ProvisionOptions& options);

struct ProvisionEvent;
// The console's line for an event of a reader or the port; empty when
// there is nothing to act on. lineMode: readers come one after another
// (what to do next is said); stopping: the run ends after this reader.
std::string ProvisionLine(const ProvisionEvent& event, bool lineMode, bool stopping);

// Prints the report of a log and, with csvFile, writes it as CSV. Returns the exit code.
int RunReport(const std::string& logFile, const std::string& csvFile, bool json);

// Asks every port given (every port present when none is) at once and
// lists where a reader answered. Returns the exit code.
int RunScan(const std::vector<std::string>& ports, bool json, bool trace, int timeoutMs);
