// The reader's line settings on an open Win32 COM handle, shared by the
// window program's SerialLink and the blocking line of the simulator and
// the command-line tool.
#pragma once
#include <windows.h>

#include <string>

constexpr DWORD LINE_QUEUE_SIZE = 2048;
// Flow control is off, but a driver checks the limits all the same: they
// must fit the queue (a previous program's bigger queue may have left
// larger ones).
constexpr WORD LINE_XON_LIMIT = LINE_QUEUE_SIZE / 4;
constexpr WORD LINE_XOFF_LIMIT = LINE_QUEUE_SIZE / 4;

enum LineSetupResult {
    LINE_SET,                // 115200 8N1 without flow control, read back
    LINE_NO_STATE,           // GetCommState failed: no serial port, or its adapter has gone
    LINE_STATE_REFUSED,      // SetCommState failed
    LINE_TIMEOUTS_REFUSED,   // SetCommTimeouts failed: reads could block
    LINE_READ_BACK_DIFFERS,  // the driver kept other settings than it accepted
};

struct LineSetup {
    LineSetupResult result;
    DWORD error;   // the failed call's error; 0 for LINE_SET and LINE_READ_BACK_DIFFERS
    DCB readBack;  // LINE_READ_BACK_DIFFERS: what GetCommState reported
};

// 115200 8N1, 2048-byte driver queues, EV_RXCHAR, reads that return at
// once with what is queued, writes bounded at 100 ms a byte plus 500 ms,
// both queues purged, in this order. Drivers keep the last program's
// settings between opens, so every field that could stall or alter the
// reader's bytes is set as well: binary, no parity check, no flow control
// of either kind (XON 0x11 and XOFF 0x13 all the same: a driver refuses
// them equal), no DSR sensitivity, no NUL stripping, no error, end or event
// character, no abort on errors, DTR and RTS on. SetCommState and
// SetCommTimeouts are checked and the state is read back; anything but
// LINE_SET means the port must not be used.
LineSetup ApplyReaderLineSettings(HANDLE port);

// "9600 7E1, RTS/CTS, XON/XOFF": the line a DCB describes.
std::string DescribeLine(const DCB& dcb);

// The system's text for an error code, in UTF-8, without its line end.
std::string SystemErrorText(DWORD error);
