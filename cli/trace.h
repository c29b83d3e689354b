// The --trace output: every frame sent and received, with the time since
// the program started, in hex and decoded. The lines go to the sink the
// program sets (tavrolin-cli: standard error, so that standard output keeps
// only the command's result); without one they are dropped.
//
// Shared between the port threads: TraceWrite takes a lock, so the lines
// of one event stay together.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Milliseconds since the program started (steady clock).
int64_t CliNowMs();

// Where the lines go: called under the trace's lock with one event's lines.
void SetTraceSink(void (*sink)(const std::string& lines));

// Writes text (one or more lines, no trailing newline) for port.
void TraceWrite(const std::string& port, const char* direction, const std::string& text);

// "KWTB v0 CMD_QUERY_INFO len 0 crc B001 ok" and, for the two records,
// their fields. deviceType decodes a ConfigRecord (which does not carry it).
std::string DescribeFrame(const uint8_t* frame, size_t count, int deviceType);
