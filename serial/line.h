// A serial line as the simulator and the command-line tool use it: one
// interface, implemented for POSIX ttys (line_posix.cpp) and for Win32
// COM ports (line_win32.cpp). The window program has its own SerialLink
// (serial_link.h) with the reader's exact open sequence and its receive
// threads; this seam is the blocking, time-out driven counterpart.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SerialLine;  // opaque, one per open port

// Opens path (POSIX: a tty path; Win32: "COM3" or "\\.\COM3") at
// 115200 8N1, raw. On failure returns nullptr and says why in *error.
SerialLine* LineOpen(const std::string& path, std::string* error);

// Waits at most timeoutMs for bytes. Returns the count read (> 0),
// 0 on time-out, -1 when the line is gone (hang-up, unplugged, error).
int LineRead(SerialLine* line, uint8_t* buffer, size_t capacity, int timeoutMs);

// Writes all bytes; false on error.
bool LineWrite(SerialLine* line, const uint8_t* bytes, size_t count);

void LineClose(SerialLine* line);

// Errors the line's driver reported on received bytes.
enum LineErrorFlag {
    LINE_ERROR_FRAME = 1,     // a stop bit missing: another baud rate
    LINE_ERROR_PARITY = 2,
    LINE_ERROR_OVERRUN = 4,   // the hardware lost bytes
    LINE_ERROR_RXOVER = 8,    // the driver's input queue was full
    LINE_ERROR_BREAK = 16,
};
constexpr int LINE_ERROR_KINDS = 5;
// The LineErrorFlag bits reported since the last call (POSIX: always 0).
unsigned LineTakeErrors(SerialLine* line);
// The names of the flags set, joined by separator; names[i] names bit 1 << i.
inline std::string JoinLineErrors(unsigned flags, const char* const (&names)[LINE_ERROR_KINDS], const char* separator) {
    std::string text;
    for (int i = 0; i < LINE_ERROR_KINDS; ++i)
        if (flags & (1u << i)) text += (text.empty() ? "" : separator) + std::string(names[i]);
    return text;
}

// The serial ports present, as names LineOpen accepts.
std::vector<std::string> LineEnumerate();

// POSIX: creates a pseudo-terminal, keeps its master as the line and
// publishes the other end as a symlink at linkPath (replacing a stale
// link there), raw 115200 8N1. LineClose removes the link again, which
// the program on the other end sees as a hang-up. Win32: always nullptr.
SerialLine* LineOpenPty(const std::string& linkPath, std::string* error);
