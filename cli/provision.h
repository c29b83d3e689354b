// Provisioning a fleet from a plan (cli/plan.h): in line mode the readers
// come one after another on one port, in port mode each row goes to the
// port it names. Every reader's exchange is recorded in the audit log
// (cli/audit_log.h), which also says which rows are done when a run is
// started again. And scan: which ports have a reader answering.
#pragma once
#include <string>
#include <vector>

struct ProvisionOptions {
    std::string planFile;
    std::string port;        // line mode: the port the readers come to
    std::string baseFile;    // --base: a document from export; empty without
    std::string logFile;     // empty: PLAN.log.jsonl beside the plan
    bool dryRun = false;
    bool json = false;       // one JSON object per line and reader on standard output
    bool trace = false;
    int pollMs = 300;        // line mode: how often the port is asked
    int timeoutMs = 3000;    // the reply wait of the write and the verifying query
};

// The log's default name: the plan's name without ".csv", then ".log.jsonl".
std::string DefaultLogPath(const std::string& planFile);

// Returns the exit code; 9 when stopped by Ctrl-C before the plan was done.
int RunProvision(const ProvisionOptions& options);

// Asks every port given (every port present when none is) at once and
// lists where a reader answered. Returns the exit code.
int RunScan(const std::vector<std::string>& ports, bool json, bool trace, int timeoutMs);
