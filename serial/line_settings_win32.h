// The reader's line settings on an open Win32 COM handle, shared by the
// window program's SerialLink and the blocking line of the simulator and
// the command-line tool.
#pragma once
#include <windows.h>

constexpr DWORD LINE_QUEUE_SIZE = 2048;

// 115200 8N1, 2048-byte driver queues, EV_RXCHAR, reads that return at
// once with what is queued, writes bounded at 100 ms a byte plus 500 ms,
// both queues purged; applied in this order and not examined one by one.
// Drivers keep the last program's settings between opens, so every field
// that could stall or alter the reader's bytes is set as well: binary, no
// parity check, no flow control of either kind, no DSR sensitivity, no NUL
// stripping or error character, no abort on errors, DTR and RTS on.
// Returns false, changing nothing, when the handle reports no line state:
// no serial port, or a COM name whose adapter has gone (Wine opens those
// and then fails every call on the handle).
bool ApplyReaderLineSettings(HANDLE port);
