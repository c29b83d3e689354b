// SerialLine on Win32 COM ports, with the same open sequence, line
// settings and receive pass as the window program (comm_io.h): overlapped
// handle, 2048/2048 driver queues, time-outs {MAXDWORD, 0, 0, 100, 500},
// 115200 8N1, EV_RXCHAR.
//
// Reading takes what ClearCommError reports as queued, else waits for
// EV_RXCHAR; the wait outlives a LineRead that timed out and the next call
// picks it up. A driver that rejects ClearCommError is read all the same;
// the line is lost only when its line state cannot be read either
// (unplugged adapter, hung-up tty under Wine).
#include "serial/line.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "serial/comm_api.h"
#include "serial/comm_io.h"
#include "serial/line_settings_win32.h"
#include "serial/port_list_win32.h"

struct SerialLine {
    HANDLE handle;
    CommReceiver receiver;
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

}  // namespace

SerialLine* LineOpen(const std::string& path, std::string* error) {
    HANDLE h = OpenCommHandle(DevicePath(path));
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = ErrorText("cannot open", path, GetLastError());
        return nullptr;
    }
    if (!ApplyReaderLineSettings(h)) {
        if (error) *error = ErrorText("not a serial port:", path, GetLastError());
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
    const DWORD room = capacity > COMM_READ_CHUNK ? COMM_READ_CHUNK : static_cast<DWORD>(capacity);
    DWORD count = 0;
    switch (CommReceivePass(&line->receiver, room, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs), nullptr,
                            &count)) {
    case PASS_BYTES:
        std::memcpy(buffer, line->receiver.read->bytes.data(), count);
        return static_cast<int>(count);
    case PASS_LOST:
        return -1;
    default:
        return 0;
    }
}

bool LineWrite(SerialLine* line, const uint8_t* bytes, size_t count) {
    return CommWrite(line->handle, bytes, count, static_cast<DWORD>(500 + 100 * count + 1000));
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
    const uint32_t present = PresentComPorts();
    std::vector<std::string> found;
    for (int n = 1; n <= 32; ++n)
        if ((present >> (n - 1)) & 1u) found.push_back("COM" + std::to_string(n));
    return found;
}
