#include "cli/commands.h"

#include <cstdio>
#include <fstream>
#include <thread>

#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/session.h"
#include "document/reader_record.h"
#include "document/text_codec.h"
#include "forms/page_form.h"
#include "forms/page_view.h"
#include "serial/line.h"

using Json = nlohmann::ordered_json;

namespace {

PortResult& Fail(PortResult& r, int code, const std::string& message) {
    r.exitCode = code;
    r.message = message;
    return r;
}

bool WriteFileReplacing(const std::string& path, const std::string& content, std::string* error) {
    // Written beside the target and renamed over it, so that a failure
    // never leaves half a document behind.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !(out << content) || !out.flush()) {
            *error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
#ifdef _WIN32
    std::remove(path.c_str());  // rename does not replace on Windows
#endif
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string FirmwareOf(const DeviceInfoStore& store) {
    return GbkForDisplay(ViewForPage(store.deviceType, store).firmwareVersion);
}

void Identify(const CliOptions& options, const DeviceInfoStore& store, PortResult& r) {
    for (const auto& line : DescribeStore(store)) {
        char text[256];
        std::snprintf(text, sizeof text, "%-16s %s\n", line.first.c_str(), line.second.c_str());
        r.text += text;
    }
    const Json doc = DocumentFromStore(store);
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (it.key() != "formatVersion") r.json[it.key()] = it.value();
    r.summary = "type " + std::to_string(store.deviceType) + " " + DeviceTypeName(store.deviceType) +
                ", firmware " + FirmwareOf(store);
    (void)options;
}

void Export(const CliOptions& options, const DeviceInfoStore& store, PortResult& r) {
    const std::string content = DocumentText(DocumentFromStore(store));
    const std::string path = OutputPathForPort(options.output, r.port);
    r.json["deviceType"] = store.deviceType;
    if (path == "-") {
        r.text = content;
    } else {
        std::string error;
        if (!WriteFileReplacing(path, content, &error)) {
            Fail(r, EXIT_FAILURE_OTHER, error);
            return;
        }
        r.json["file"] = path;
    }
    r.summary = "type " + std::to_string(store.deviceType) + " settings saved" +
                (path == "-" ? std::string(" to standard output") : " to " + path);
}

}  // namespace

void ApplyToReader(const CliOptions& options, ReaderSession& session, const DeviceInfoStore& store, PortResult& r) {
    const int type = store.deviceType;
    r.json["deviceType"] = type;
    if (!options.mustHold.empty()) {
        const std::vector<std::string> differences = VerifyWritten(type, options.mustHold, store, !options.mustHoldMasked);
        if (!differences.empty()) {
            Fail(r, EXIT_REFUSED, "the reader does not hold what " + options.mustHoldWhat + " wrote (" + differences[0] +
                                      "); is it that reader? nothing written");
            return;
        }
    }
    const ReaderRecord built = RecordForReader(options.overlay, options.inputName, store, !options.restoring);
    if (built.exitCode != 0) {
        Fail(r, built.exitCode, built.message + "; nothing written");
        return;
    }
    for (const NetworkWarning& w : built.warnings) r.warnings.push_back(w.text);
    r.json["record"] = HexBytes(built.record.data(), built.record.size(), "");
    if (options.dryRun) {
        r.text = "record (" + std::to_string(built.record.size()) + " bytes):" +
                 DescribeRecord(type, built.record.data(), built.record.size()) + "\n";
        r.summary = "dry run: " + std::to_string(built.record.size()) + "-byte record not written";
        return;
    }

    SessionResult result = SessionWriteConfig(&session, built.record, options.timeoutMs);
    if (result != SESSION_OK) {
        Fail(r, ExitForSession(result), ExplainSession(result, session, "acknowledgement", options.timeoutMs) +
                                     (result == SESSION_NO_REPLY ? "; the write may not have been taken" : ""));
        return;
    }
    DeviceInfoStore after;
    result = SessionQueryInfo(&session, &after, options.timeoutMs);
    if (result != SESSION_OK) {
        Fail(r, ExitForSession(result), "written and acknowledged, but the check failed: " +
                                     ExplainSession(result, session, "information reply", options.timeoutMs));
        return;
    }
    r.json["fields"] = FieldsFromStore(after);
    const std::vector<std::string> differences = VerifyWritten(type, built.record, after);
    if (!differences.empty()) {
        std::string joined;
        for (const std::string& d : differences) joined += (joined.empty() ? "" : "; ") + d;
        r.json["mismatches"] = differences;
        Fail(r, EXIT_MISMATCH, "written and acknowledged, but the reader does not report it: " + joined);
        return;
    }
    r.summary = "type " + std::to_string(type) + ": " + std::to_string(built.record.size()) +
                "-byte record written, acknowledged and verified";
    r.text = r.port + ": " + r.summary + "\n";
}

namespace {

void FinishJson(PortResult& r) {
    Json head = Json::object();
    head["port"] = r.port;
    head["ok"] = r.exitCode == EXIT_OK;
    head["exitCode"] = r.exitCode;
    if (!r.message.empty()) head["message"] = r.message;
    for (auto it = r.json.begin(); it != r.json.end(); ++it) head[it.key()] = it.value();
    r.json = head;
}

}  // namespace

std::string SummaryLine(const PortResult& r) {
    char status[48];
    if (r.exitCode == EXIT_OK)
        std::snprintf(status, sizeof status, "ok");
    else
        std::snprintf(status, sizeof status, "FAILED %d (%s)", r.exitCode, ExitCodeName(r.exitCode));
    char line[96];
    std::snprintf(line, sizeof line, "%-24s %-28s ", r.port.c_str(), status);
    return line + (r.exitCode == EXIT_OK ? r.summary : r.message);
}

void CliWrite(FILE* stream, const std::string& text) {
    ConsolePrint(stream, "%s", text.c_str());
    std::fflush(stream);
}

std::string OutputPathForPort(const std::string& pattern, const std::string& port) {
    const size_t at = pattern.find("{port}");
    if (at == std::string::npos) return pattern;
    const size_t slash = port.find_last_of("/\\");
    std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
    for (char& c : name)
        if (c == ':' || c == '*' || c == '?') c = '_';
    return pattern.substr(0, at) + name + pattern.substr(at + 6);
}

PortResult RunOnPort(const CliOptions& options, const std::string& port) {
    PortResult r;
    r.port = port;
    r.json = Json::object();
    ReaderSession session;
    std::string error;
    if (!SessionOpen(&session, port, options.trace, &error)) {
        Fail(r, EXIT_PORT, error);
    } else {
        DeviceInfoStore store;
        const SessionResult result = SessionQueryInfo(&session, &store, options.timeoutMs);
        if (result != SESSION_OK) {
            Fail(r, ExitForSession(result), ExplainSession(result, session, "information reply", options.timeoutMs));
        } else if (!HasDevicePage(store.deviceType)) {
            r.json["deviceType"] = store.deviceType;
            r.json["firmwareVersion"] = FirmwareOf(store);
            Fail(r, EXIT_UNSUPPORTED,
                 "the reader reports device type " + std::to_string(store.deviceType) +
                     ", for which there are no settings (known: 1, 2, 3, 52)");
        } else {
            switch (options.command) {
            case CMD_IDENTIFY: Identify(options, store, r); break;
            case CMD_EXPORT: Export(options, store, r); break;
            case CMD_APPLY: ApplyToReader(options, session, store, r); break;
            }
        }
        SessionClose(&session);
    }
    FinishJson(r);
    return r;
}

int RunCommand(const CliOptions& options) {
    std::vector<PortResult> results(options.ports.size());
    if (options.ports.size() == 1) {
        results[0] = RunOnPort(options, options.ports[0]);
    } else {
        // One thread per port; each writes only its own slot of results.
        std::vector<std::thread> threads;
        for (size_t i = 0; i < options.ports.size(); ++i)
            threads.emplace_back([&options, &results, i] { results[i] = RunOnPort(options, options.ports[i]); });
        for (std::thread& t : threads) t.join();
    }

    int exitCode = EXIT_OK;
    for (const PortResult& r : results) {
        for (const std::string& w : r.warnings) ConsolePrint(stderr, "tavrolin-cli: %s: warning: %s\n", r.port.c_str(), w.c_str());
        if (r.exitCode != EXIT_OK) {
            ConsolePrint(stderr, "tavrolin-cli: %s: %s\n", r.port.c_str(), r.message.c_str());
            if (exitCode == EXIT_OK) exitCode = r.exitCode;
        }
    }

    const bool jsonOut = options.json && options.command != CMD_EXPORT;
    if (jsonOut) {
        if (options.manyPorts) {
            Json list = Json::array();
            for (const PortResult& r : results) list.push_back(r.json);
            ConsolePrint(stdout, "%s\n", list.dump(2).c_str());
        } else {
            ConsolePrint(stdout, "%s\n", results[0].json.dump(2).c_str());
        }
    } else {
        for (const PortResult& r : results) {
            if (r.exitCode != EXIT_OK || r.text.empty()) continue;
            // A document on standard output stands alone; the rest is
            // headed by its port when there are several.
            if (options.manyPorts && options.command == CMD_IDENTIFY) ConsolePrint(stdout, "== %s ==\n", r.port.c_str());
            if (options.command == CMD_APPLY && options.manyPorts) continue;  // the summary says it
            ConsolePrint(stdout, "%s", r.text.c_str());
        }
    }
    if (options.manyPorts) {
        // With JSON on standard output the summary goes to standard error.
        FILE* out = jsonOut || options.output == "-" ? stderr : stdout;
        for (const PortResult& r : results) ConsolePrint(out, "%s\n", SummaryLine(r).c_str());
    } else if (options.command == CMD_EXPORT && results[0].exitCode == EXIT_OK && options.output != "-") {
        ConsolePrint(stderr, "%s: %s\n", results[0].port.c_str(), results[0].summary.c_str());
    }
    std::fflush(stdout);
    return exitCode;
}

int RunPorts(bool json) {
    const std::vector<std::string> ports = LineEnumerate();
    if (json) {
        ConsolePrint(stdout, "%s\n", Json(ports).dump(2).c_str());
    } else {
        for (const std::string& p : ports) ConsolePrint(stdout, "%s\n", p.c_str());
        if (ports.empty()) ConsolePrint(stderr, "no serial ports found\n");
    }
    return EXIT_OK;
}
