// The communication log: every frame sent and received, the bytes the
// reassembly discarded and the port events, in a bounded ring shown by the
// window program's log window. Portable (no window code), so the ring and
// the line format are tested natively.
//
// Threads: the UI thread (port opened, closed, frames sent, time-outs),
// ParserThread (frames received, discards, closes by reply handling) and
// ReceiveThread (overflow) append; the UI thread reads and clears. Every
// access to the ring is under its own short lock; the notification is
// called outside it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum CommEventKind {
    COMM_SENT,           // a frame written to the port
    COMM_RECEIVED,       // a complete frame cut out of the received bytes
    COMM_DISCARDED,      // bytes dropped before a frame could be made of them
    COMM_PORT_OPENED,
    COMM_OPEN_FAILED,
    COMM_PORT_CLOSED,
    COMM_REPLY_TIMEOUT,  // the reply wait ran out
    COMM_PORT_LOST,      // the adapter went away with the port open; detail: the system's reason
    COMM_LINE_ERRORS,    // the driver reported errors on received bytes
};

struct CommEntry {
    uint64_t sequence = 0;   // 1, 2, ... in order of appending, never reused
    int64_t timeOfDayMs = 0; // local time since midnight
    CommEventKind kind = COMM_SENT;
    std::string port;        // "COM3"
    std::vector<uint8_t> bytes;  // the frame (sent, received)
    size_t count = 0;        // discarded bytes
    std::string detail;      // why (an open that failed, a port lost), or the line errors
};

class CommLog {
public:
    static constexpr size_t CAPACITY = 2000;

    // Called after each append, outside the lock, once until the reader
    // asks for entries again (the log window posts itself one message).
    void SetNotify(std::function<void()> notify);
    // The port later entries name: the device path ("\\.\COM3") or a name.
    void SetPort(const std::string& devicePath);

    void AddFrame(CommEventKind kind, const uint8_t* bytes, size_t count);
    void AddDiscarded(size_t count);
    void AddEvent(CommEventKind kind, const std::string& detail = std::string());
    // LineErrorFlag bits (serial/line.h), as one COMM_LINE_ERRORS entry.
    void AddLineErrors(unsigned flags);

    // The entries after sequence (0: all there are), oldest first.
    std::vector<CommEntry> EntriesAfter(uint64_t sequence);
    // The sequence of the oldest entry kept (0 when empty).
    uint64_t OldestSequence();
    void Clear();

private:
    void Add(CommEntry entry);

    std::mutex lock_;
    std::deque<CommEntry> entries_;
    uint64_t nextSequence_ = 1;
    std::string port_;
    std::function<void()> notify_;
    bool notifyPending_ = false;
};

// The program's one log.
CommLog& TheCommLog();

// One line (UTF-8): "HH:MM:SS.mmm COM3 发送 CMD_QUERY_INFO 长度 0 CRC 正确 4B 57 ...".
std::string FormatCommEntry(const CommEntry& entry);
// Every entry's line, separated by CRLF (the clipboard's text).
std::string CommLogText(const std::vector<CommEntry>& entries);
