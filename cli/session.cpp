#include "cli/session.h"

#include <cstdio>
#include <cstring>

#include "cli/exit_codes.h"
#include "cli/trace.h"
#include "protocol/frame.h"
#include "protocol/reply.h"
#include "serial/line.h"

namespace {

void ResetWait(ReaderSession* s) {
    s->badCrcFrames = 0;
    s->otherFrames = 0;
    s->discardedBytes = 0;
}

// Drops whatever the reader sent before the request (a second copy of an
// earlier reply, for instance), so that it cannot be taken for the answer.
void DrainStale(ReaderSession* s) {
    uint8_t buffer[256];
    size_t stale = s->rx.rxFill;
    for (int i = 0; i < 64; ++i) {
        const int n = LineRead(s->line, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        stale += static_cast<size_t>(n);
    }
    ResetRxBuffer(&s->rx);
    ResetReassembler(&s->reassembly);
    if (stale > 0 && s->trace)
        TraceWrite(s->port, "  ", "dropped " + std::to_string(stale) + " bytes received before the request");
}

// Errors the driver reported on received bytes: a reader at another baud
// rate shows as framing errors, not only as "no reply".
void TraceLineErrors(ReaderSession* s) {
    const unsigned errors = LineTakeErrors(s->line);
    if (errors == 0 || !s->trace) return;
    static const char* const NAMES[LINE_ERROR_KINDS] = {"framing error", "parity error", "hardware overrun",
                                                         "input queue overflow", "break"};
    const std::string text = JoinLineErrors(errors, NAMES, ", ");
    TraceWrite(s->port, "<-", "line errors: " + text);
}

bool Send(ReaderSession* s, const std::vector<uint8_t>& frame) {
    if (s->trace) TraceWrite(s->port, "->", DescribeFrame(frame.data(), frame.size(), s->deviceType));
    return LineWrite(s->line, frame.data(), frame.size());
}

// Waits for the first good frame of kind wanted (an information reply
// also ends the wait when it is too old).
SessionResult WaitFor(ReaderSession* s, ReplyKind wanted, DeviceInfoStore* store, int timeoutMs) {
    const int64_t deadline = CliNowMs() + timeoutMs;
    uint8_t buffer[512];
    for (;;) {
        const int64_t now = CliNowMs();
        const uint64_t discardedBefore = s->reassembly.bytesDiscarded;
        const ReassemblyResult step = ReassemblyPoll(&s->reassembly, &s->rx, now);
        if (s->reassembly.bytesDiscarded != discardedBefore) {
            const uint64_t dropped = s->reassembly.bytesDiscarded - discardedBefore;
            s->discardedBytes += dropped;
            if (s->trace) TraceWrite(s->port, "<-", "discarded " + std::to_string(dropped) + " bytes that are no frame");
        }
        if (step.frameLength > 0) {
            const uint8_t* frame = s->rx.bytes;
            const ReplyKind kind = ClassifyReply(frame, step.frameLength);
            if (s->trace) TraceWrite(s->port, "<-", DescribeFrame(frame, step.frameLength, s->deviceType));
            SessionResult result = SESSION_NO_REPLY;
            if (kind == wanted) {
                if (store != nullptr) {
                    std::memset(store, 0, sizeof *store);
                    StoreInfoReply(store, frame, step.frameLength, -1);
                    s->deviceType = store->deviceType;
                }
                result = SESSION_OK;
            } else if (wanted == REPLY_INFO && kind == REPLY_TOO_OLD) {
                result = SESSION_TOO_OLD;
            } else if (kind == REPLY_BAD_CRC) {
                ++s->badCrcFrames;
            } else {
                ++s->otherFrames;
            }
            ConsumeFrame(&s->reassembly, &s->rx, step.frameLength);
            if (result != SESSION_NO_REPLY) return result;
            continue;
        }
        if (now >= deadline) return SESSION_NO_REPLY;
        int wait = static_cast<int>(deadline - now);
        if (step.waitMs >= 0 && step.waitMs < wait) wait = step.waitMs;
        const int n = LineRead(s->line, buffer, sizeof buffer, wait);
        TraceLineErrors(s);
        if (n < 0) return SESSION_LINE_LOST;
        if (n > 0) {
            const size_t stored = AppendReceived(&s->rx, buffer, static_cast<size_t>(n));
            if (stored < static_cast<size_t>(n)) s->discardedBytes += static_cast<size_t>(n) - stored;
        }
    }
}

#ifdef _WIN32
// LineOpen ends its reason with the system's error number.
std::string ExplainOpenError(const std::string& port, const std::string& error) {
    auto endsWith = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        return error.size() >= n && error.compare(error.size() - n, n, tail) == 0;
    };
    if (endsWith("error 2") || endsWith("error 3")) return port + ": no such port (" + error + ")";
    if (endsWith("error 5")) return port + ": the port is busy or access is denied (" + error + ")";
    return error;
}
#else
std::string ExplainOpenError(const std::string&, const std::string& error) { return error; }
#endif

std::string Seconds(int ms) {
    char text[16];
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
}

}  // namespace

bool SessionOpen(ReaderSession* s, const std::string& port, bool trace, std::string* error) {
    s->port = port;
    s->trace = trace;
    ResetRxBuffer(&s->rx);
    ResetReassembler(&s->reassembly);
    ResetWait(s);
    std::string why;
    s->line = LineOpen(port, &why);
    if (s->line == nullptr) {
        *error = ExplainOpenError(port, why);
        return false;
    }
    if (trace) TraceWrite(port, "  ", "opened at 115200 8N1");
    return true;
}

void SessionClose(ReaderSession* s) {
    if (s->line != nullptr) {
        LineClose(s->line);
        s->line = nullptr;
        if (s->trace) TraceWrite(s->port, "  ", "closed");
    }
}

SessionResult SessionQueryInfo(ReaderSession* s, DeviceInfoStore* store, int timeoutMs) {
    DrainStale(s);
    ResetWait(s);
    if (!Send(s, BuildQueryInfoFrame())) return SESSION_WRITE_FAILED;
    return WaitFor(s, REPLY_INFO, store, timeoutMs);
}

SessionResult SessionWriteConfig(ReaderSession* s, const std::vector<uint8_t>& record, int timeoutMs) {
    DrainStale(s);
    ResetWait(s);
    const std::vector<uint8_t> frame = BuildWriteConfigFrame(record.data(), record.size());
    if (frame.empty() || !Send(s, frame)) return SESSION_WRITE_FAILED;
    return WaitFor(s, REPLY_CONFIG_ACK, nullptr, timeoutMs);
}

std::string SessionWaitDetail(const ReaderSession* s) {
    std::string parts;
    auto add = [&](const std::string& part) { parts += (parts.empty() ? "" : ", ") + part; };
    if (s->badCrcFrames > 0) add(std::to_string(s->badCrcFrames) + " frame(s) with a bad CRC ignored");
    if (s->otherFrames > 0) add(std::to_string(s->otherFrames) + " other frame(s) ignored");
    if (s->discardedBytes > 0) add(std::to_string(s->discardedBytes) + " stray byte(s) discarded");
    return parts.empty() ? "" : " (" + parts + ")";
}

int ExitForSession(SessionResult result) {
    switch (result) {
    case SESSION_OK: return EXIT_OK;
    case SESSION_NO_REPLY: return EXIT_TIMEOUT;
    case SESSION_TOO_OLD: return EXIT_UNSUPPORTED;
    case SESSION_LINE_LOST:
    case SESSION_WRITE_FAILED: return EXIT_LINE_LOST;
    }
    return EXIT_FAILURE_OTHER;
}

std::string ExplainSession(SessionResult result, const ReaderSession& s, const char* waitingFor, int timeoutMs) {
    switch (result) {
    case SESSION_NO_REPLY:
        return std::string("no ") + waitingFor + " within " + Seconds(timeoutMs) + SessionWaitDetail(&s) +
               "; is the reader powered and connected?";
    case SESSION_TOO_OLD:
        return "网络读卡器版本低，请用旧版本的配置工具 (the reader reports protocol version 0)";
    case SESSION_LINE_LOST: return "the serial line was lost (adapter unplugged or the other end hung up)";
    case SESSION_WRITE_FAILED: return "writing to the port failed (adapter unplugged?)";
    default: return "";
    }
}
