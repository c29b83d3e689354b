// The commands of tavrolin-cli on one port each, and running a command on
// several ports at once (one thread per port, results in the order given).
#pragma once
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/session.h"
#include "document/fields.h"

enum CliCommand { CMD_IDENTIFY, CMD_EXPORT, CMD_APPLY };

struct CliOptions {
    CliCommand command = CMD_IDENTIFY;
    std::vector<std::string> ports;
    bool manyPorts = false;   // --ports: results as a list and a summary
    bool trace = false;
    bool json = false;
    bool dryRun = false;      // apply: check and show the record, write nothing
    std::string output;       // export: file, "-" for standard output; "{port}" is replaced
    std::string inputName;    // apply: the file's name for messages
    Overlay overlay;          // apply: the file's values, then --set
    int timeoutMs = 3000;
    // apply: the reader must report what this record wrote (undo from
    // the log: the row's own reader), named in messages by mustHoldWhat.
    std::vector<uint8_t> mustHold;
    bool mustHoldMasked = false;   // its secret fields were not kept: not compared
    std::string mustHoldWhat;
    bool restoring = false;   // undo: a reader's former settings, written back unchecked by the network rules
};

// The outcome on one port. text is what the command prints for it (for
// identify: the settings; otherwise a line), message the one-line reason
// of a failure.
struct PortResult {
    std::string port;
    int exitCode = 0;
    std::string message;
    std::string text;
    nlohmann::ordered_json json;
    std::string summary;      // one line for the summary of several ports
    std::vector<std::string> warnings;  // network settings that rarely work (never refusals)
};

PortResult RunOnPort(const CliOptions& options, const std::string& port);

// Runs the command on every port of options in parallel, prints the
// results and, for several ports, the summary. Returns the exit code.
int RunCommand(const CliOptions& options);

// apply on a reader that answered with store: the overlay over its
// settings, the page's checks, then (unless dryRun) the record, the
// acknowledgement and the verifying query. r.json gets deviceType and, once
// built, the record in hex.
void ApplyToReader(const CliOptions& options, ReaderSession& session, const DeviceInfoStore& store, PortResult& r);

// The line of a port in the summary of several.
std::string SummaryLine(const PortResult& r);

// Every line of the provisioning commands goes out through here, flushed.
void CliWrite(FILE* stream, const std::string& text);

// "{port}" in pattern replaced by the last part of the port's name.
std::string OutputPathForPort(const std::string& pattern, const std::string& port);

// Lists the serial ports present; returns the exit code.
int RunPorts(bool json);
