// SerialLine on Win32 COM ports, with the same open sequence, line
// settings and receive pass as the window program (comm_io.h): overlapped
// handle, 2048/2048 driver queues, time-outs {MAXDWORD, 0, 0, 100, 500},
// 115200 8N1, EV_RXCHAR.
//
// Reading takes what ClearCommError reports as queued, else waits for
// EV_RXCHAR; the wait outlives a LineRead that timed out and the next call
// picks it up. A driver that rejects ClearCommError is read all the same;
// the line is lost when a call fails with an error that says the device
// has gone, or when its line state cannot be read either (see
// MeansDeviceGone). A lost line is not used again.
#include "serial/line.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial/comm_api.h"
#include "serial/comm_io.h"
#include "serial/line_settings_win32.h"
#include "serial/port_list_win32.h"

struct SerialLine {
    HANDLE handle;
    CommReceiver receiver;
    bool lost;  // a call said the device has gone
};

namespace {

std::wstring DevicePath(const std::string& name) {
    std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    return std::wstring(path.begin(), path.end());  // port names are ASCII
}

std::string ErrorText(const char* what, const std::string& name, DWORD code) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %s: error %lu", what, name.c_str(),
                  static_cast<unsigned long>(code));
    return buf;
}

std::string SetupText(const LineSetup& setup, const std::string& name) {
    switch (setup.result) {
    case LINE_SET: break;
    case LINE_NO_STATE: return ErrorText("not a serial port:", name, setup.error);
    case LINE_STATE_REFUSED: return ErrorText("line settings 115200 8N1 refused by", name, setup.error);
    case LINE_TIMEOUTS_REFUSED: return ErrorText("time-outs refused by", name, setup.error);
    case LINE_READ_BACK_DIFFERS: return name + ": the driver keeps " + DescribeLine(setup.readBack) + ", not 115200 8N1";
    }
    return std::string();
}

}  // namespace

SerialLine* LineOpen(const std::string& path, std::string* error) {
    HANDLE h = OpenCommHandle(DevicePath(path));
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = ErrorText("cannot open", path, GetLastError());
        return nullptr;
    }
    const LineSetup setup = ApplyReaderLineSettings(h);
    if (setup.result != LINE_SET) {
        if (error) *error = SetupText(setup, path);
        g_comm.closeHandle(h);
        return nullptr;
    }

    SerialLine* line = new SerialLine{};
    line->handle = h;
    line->receiver.port = INVALID_HANDLE_VALUE;
    SwitchCommReceiver(&line->receiver, h);
    return line;
}

SerialLine* LineOpenPty(const std::string& linkPath, std::string* error) {
    if (error) *error = "cannot create a pty for " + linkPath + " on Windows; use --port COMn";
    return nullptr;
}

int LineRead(SerialLine* line, uint8_t* buffer, size_t capacity, int timeoutMs) {
    if (line->lost) return -1;
    const DWORD room = capacity > COMM_READ_CHUNK ? COMM_READ_CHUNK : static_cast<DWORD>(capacity);
    DWORD count = 0;
    switch (CommReceivePass(&line->receiver, room, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs), nullptr,
                            &count)) {
    case PASS_BYTES:
        std::memcpy(buffer, line->receiver.read->bytes.data(), count);
        return static_cast<int>(count);
    case PASS_LOST:
        line->lost = true;
        return -1;
    default:
        return 0;
    }
}

bool LineWrite(SerialLine* line, const uint8_t* bytes, size_t count) {
    if (line->lost) return false;
    DWORD lostError = 0;
    const bool written = CommWrite(line->handle, bytes, count, static_cast<DWORD>(500 + 100 * count + 1000), &lostError);
    if (lostError != 0) line->lost = true;
    return written;
}

unsigned LineTakeErrors(SerialLine* line) {
    // The receiver gathers them until taken (the caller of LineRead owns both).
    const unsigned errors = LineErrorFlags(line->receiver.lineErrors);
    line->receiver.lineErrors = 0;
    return errors;
}

void LineClose(SerialLine* line) {
    if (line == nullptr) return;
    g_comm.setCommMask(line->handle, 0);   // releases a pending wait
    FreeCommReceiver(&line->receiver);
    g_comm.purgeComm(line->handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    g_comm.closeHandle(line->handle);
    delete line;
}

std::vector<std::string> LineEnumerate() {
    std::vector<std::string> found;
    for (const std::wstring& name : PresentComPorts()) {
        // Port names are ASCII; a name that is not could not be given on a command line either.
        if (std::all_of(name.begin(), name.end(), [](wchar_t c) { return c > L' ' && c < 0x7F; }))
            found.emplace_back(name.begin(), name.end());
    }
    return found;
}
