// tavrolin-cli: identify readers, save their settings to a file and
// write settings back, on one port or many at once.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "cli/commands.h"
#include "cli/audit_log.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/provision.h"
#include "cli/provision_engine.h"
#include "cli/session.h"
#include "cli/trace.h"
#include "tav_version.h"

namespace {

const char* const EXIT_HELP =
    "Exit codes: 0 success, 1 other failure, 2 bad arguments or file, 3 refused by validation,\n"
    "4 port could not be opened, 5 no reply within the time-out, 6 verification mismatch,\n"
    "7 reader not supported, 8 line lost, 9 interrupted (provision: run the same command again to go on),\n"
    "10 provision ended with rows pending (reconnect their readers, or --release them once checked).\n"
    "With several ports: the code of the first port that failed.\n";

int Usage(const std::string& message) {
    ConsolePrint(stderr, "tavrolin-cli: %s\n", message.c_str());
    return EXIT_USAGE;
}

bool ReadInput(const std::string& name, std::string* text, std::string* error) {
    if (name == "-") {
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        *error = "cannot read " + name;
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

// A scan asks many ports at once; a reader answers well within this.
constexpr int SCAN_TIMEOUT_MS = 500;

// Undo: the settings row's reader had before provisioning, as the
// document to apply, and the record it got, which the reader must still hold.
int OverlayFromLog(const std::string& path, int row, CliOptions* options) {
    nlohmann::ordered_json before;
    std::string error;
    if (!UndoFromLog(path, row, &before, &options->mustHold, &options->mustHoldMasked, &error)) return Usage(error);
    InputError bad;
    options->inputName = path + " row " + std::to_string(row);
    if (!ParseDocument(before.dump(), options->inputName, &options->overlay, &bad)) {
        ConsolePrint(stderr, "tavrolin-cli: %s\n", bad.message.c_str());
        return bad.exitCode;
    }
    options->mustHoldWhat = "row " + std::to_string(row);
    options->restoring = true;
    return EXIT_OK;
}

void TraceToStandardError(const std::string& lines) {
    ConsolePrint(stderr, "%s", lines.c_str());
    std::fflush(stderr);
}

int Run(int argc, char** argv) {
    SetTraceSink(TraceToStandardError);
    CliCommand command = CMD_IDENTIFY;
    CliOptions options;
    std::string port, file;
    std::vector<std::string> ports, sets;
    bool trace = false, json = false;
    std::string fromLog;
    int undoRow = 0;
    ProvisionOptions provisionOptions;

    CLI::App app{"Configures network RFID card readers over a serial line (115200 8N1)."};
    app.footer(EXIT_HELP);
    app.require_subcommand(1);
    app.add_flag("--trace", trace, "print every frame sent and received, with a timestamp, to standard error");
    app.set_version_flag("--version", "tavrolin-cli " TAV_VERSION_TEXT " (" TAV_BUILD_DATE ")");
    app.add_flag("--json", json, "machine-readable output (identify, apply, ports, scan, provision)");

    CLI::App* portsCmd = app.add_subcommand("ports", "list the serial ports present");
    CLI::App* identify = app.add_subcommand("identify", "show the reader's type, versions and settings");
    CLI::App* exportCmd = app.add_subcommand("export", "save the reader's settings as a JSON document");
    CLI::App* apply = app.add_subcommand("apply", "write settings from a document and/or --set, then verify");
    for (CLI::App* sub : {identify, exportCmd, apply}) {
        sub->fallthrough();
        CLI::Option* one = sub->add_option("--port", port, "serial port (COM3, /dev/ttyUSB0, ...)");
        CLI::Option* many = sub->add_option("--ports", ports, "several ports, comma-separated, worked on in parallel")
                                ->delimiter(',')
                                ->allow_extra_args(false);
        one->excludes(many);
        many->excludes(one);
    }
    portsCmd->fallthrough();
    exportCmd->add_option("-o,--output", options.output,
                          "file to write, - for standard output; {port} is replaced by the port's name")
        ->required();
    apply->add_option("file", file, "JSON document made by export (- for standard input)");
    apply->add_option("--set", sets, "NAME=VALUE, overrides the document; repeatable")->allow_extra_args(false);
    apply->add_flag("--dry-run", options.dryRun, "run every check and show the record, write nothing");
    CLI::Option* logOption =
        apply->add_option("--from-log", fromLog, "undo: write back the settings a reader had before provisioning");
    apply->add_option("--row", undoRow, "with --from-log: the plan's row whose reader is undone")
        ->needs(logOption);
    logOption->needs("--row");

    CLI::App* provision = app.add_subcommand(
        "provision", "write each reader its row of a CSV plan: readers one after another on --port, or the port "
                     "each row names; every reader is recorded in the log");
    provision->fallthrough();
    provision->add_option("plan", provisionOptions.planFile, "the plan: CSV, first row the field names (and port)")
        ->required();
    provision->add_option("--port", provisionOptions.port, "the port the readers are connected to one after another");
    provision->add_option("--base", provisionOptions.baseFile, "a document from export, under every row");
    provision->add_option("--log", provisionOptions.logFile, "the audit log (default: PLAN.log.jsonl beside the plan)");
    provision->add_flag("--dry-run", provisionOptions.dryRun,
                        "check the plan and the log, open no port; with --base show each row's record");
    provision->add_option("--poll-ms", provisionOptions.pollMs,
                          "line mode: how often the port is asked, and how long a query waits (default 300)")
        ->check(CLI::Range(20, 5000));
    provision->add_option("--timeout-ms", provisionOptions.timeoutMs,
                          "how long a write waits for its acknowledgement, and the check after it (default 3000)")
        ->check(CLI::Range(100, 30000));
    provision->add_option("--release", provisionOptions.release,
                          "ROW: a pending row whose reader you have checked holds nothing of it; it is to do again "
                          "(repeatable)")
        ->allow_extra_args(false);

    std::string reportLog, reportCsv;
    CLI::App* report = app.add_subcommand("report", "one line per plan row of a provisioning log: the sheet to register "
                                                    "the readers (no secrets)");
    report->fallthrough();
    report->add_option("log", reportLog, "the provisioning log (PLAN.log.jsonl)")->required();
    report->add_option("--csv", reportCsv, "also write the lines as CSV (UTF-8, for spreadsheets)");

    std::vector<std::string> scanPorts;
    CLI::App* scan = app.add_subcommand("scan", "ask every port (or the ones given) and list where a reader answers");
    scan->fallthrough();
    scan->add_option("--ports", scanPorts, "ports to ask, comma-separated (default: every port present)")
        ->delimiter(',')
        ->allow_extra_args(false);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        ConsolePrint(stdout, "%s", app.help().c_str());
        return EXIT_OK;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e);
            return EXIT_OK;
        }
        return Usage(std::string(e.what()) + " (see --help)");
    }

    if (portsCmd->parsed()) return RunPorts(json);
    if (scan->parsed()) return RunScan(scanPorts, json, trace, SCAN_TIMEOUT_MS);
    if (report->parsed()) return RunReport(reportLog, reportCsv, json);
    if (provision->parsed()) {
        provisionOptions.json = json;
        provisionOptions.trace = trace;
        return RunProvision(provisionOptions);
    }
    if (exportCmd->parsed()) command = CMD_EXPORT;
    if (apply->parsed()) command = CMD_APPLY;

    options.command = command;
    options.trace = trace;
    options.json = json;
    options.timeoutMs = REPLY_TIMEOUT_MS;
    options.manyPorts = !ports.empty();
    options.ports = options.manyPorts ? ports : std::vector<std::string>{port};
    if (!options.manyPorts && port.empty()) return Usage("give the reader's port with --port or --ports");
    std::set<std::string> seen;
    for (const std::string& p : options.ports) {
        if (p.empty()) return Usage("--ports holds an empty name");
        if (!seen.insert(p).second) return Usage("port " + p + " is given twice");
    }

    if (command == CMD_EXPORT && options.ports.size() > 1) {
        if (options.output == "-") return Usage("export to standard output takes one port");
        if (options.output.find("{port}") == std::string::npos)
            return Usage("with several ports the output name needs {port}, e.g. -o reader-{port}.json");
    }

    if (command == CMD_APPLY) {
        // Everything the user gave is checked before any port is touched.
        InputError error;
        if (!fromLog.empty()) {
            if (!file.empty()) return Usage("--from-log takes the settings from the log; give no document");
            const int code = OverlayFromLog(fromLog, undoRow, &options);
            if (code != EXIT_OK) return code;
        } else if (file.empty() && sets.empty()) {
            return Usage("apply needs a document, --set values, or both");
        }
        if (!file.empty()) {
            std::string text, why;
            if (!ReadInput(file, &text, &why)) return Usage(why);
            options.inputName = file == "-" ? "standard input" : file;
            if (!ParseDocument(text, options.inputName, &options.overlay, &error)) {
                ConsolePrint(stderr, "tavrolin-cli: %s\n", error.message.c_str());
                return error.exitCode;
            }
        }
        for (const std::string& s : sets) {
            if (!ParseSetting(s, &options.overlay, &error) ||
                !CheckFieldsForType(options.overlay, options.overlay.deviceType, &error)) {
                ConsolePrint(stderr, "tavrolin-cli: %s\n", error.message.c_str());
                return error.exitCode;
            }
        }
    }
    return RunCommand(options);
}

}  // namespace

#ifdef _WIN32
// The command line as UTF-8 whatever the system code page, and UTF-8 on
// the console, so that Chinese texts pass through unharmed.
int main() {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], n, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    CliNowMs();
    return Run(count, argv.data());
}
#else
int main(int argc, char** argv) {
    CliNowMs();  // starts the trace clock
    return Run(argc, argv);
}
#endif
