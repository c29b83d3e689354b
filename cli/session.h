// One reader on one serial port: opening it, asking for the reader's
// information and writing a configuration, each with the reply wait of
// the pages (the first good reply within the time-out; frames with a bad
// CRC, other commands and stray bytes are passed over).
//
// A session belongs to the one thread that runs the port's command;
// only the trace sink is shared between threads (see cli/trace.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device_info.h"
#include "protocol/reassembly.h"

struct SerialLine;

// The pages wait three one-second ticks for a reply.
constexpr int REPLY_TIMEOUT_MS = 3000;

enum SessionResult {
    SESSION_OK,
    SESSION_NO_REPLY,      // no good reply within the time-out
    SESSION_LINE_LOST,     // the line went away (hang-up, adapter unplugged)
    SESSION_TOO_OLD,       // information reply of protocol version 0
    SESSION_WRITE_FAILED,  // the frame could not be written
};

struct ReaderSession {
    std::string port;
    SerialLine* line = nullptr;
    bool trace = false;
    int deviceType = 0;     // of the last information reply: decodes the records in the trace
    RxBuffer rx;
    Reassembler reassembly;
    // Of the last wait, for the time-out message.
    int badCrcFrames = 0;
    int otherFrames = 0;
    uint64_t discardedBytes = 0;
};

// Opens the port at 115200 8N1. false with a one-line reason.
bool SessionOpen(ReaderSession* session, const std::string& port, bool trace, std::string* error);
void SessionClose(ReaderSession* session);

// Sends CMD_QUERY_INFO and waits for the information reply; on success
// *store holds it as reply handling stores it (portIndex -1).
SessionResult SessionQueryInfo(ReaderSession* session, DeviceInfoStore* store, int timeoutMs);

// Sends CMD_WRITE_CONFIG with the record and waits for CMD_CONFIG_ACK.
SessionResult SessionWriteConfig(ReaderSession* session, const std::vector<uint8_t>& record, int timeoutMs);

// The exit code of a failed exchange, and its one-line reason; waitingFor
// names the awaited reply ("information reply", "acknowledgement").
int ExitForSession(SessionResult result);
std::string ExplainSession(SessionResult result, const ReaderSession& session, const char* waitingFor, int timeoutMs);

// What was passed over during the last wait, e.g. " (2 frames with a bad
// CRC ignored)"; empty when nothing was.
std::string SessionWaitDetail(const ReaderSession* session);
