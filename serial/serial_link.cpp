// SerialLink: listing, opening, writing and closing the one serial port.
#include "serial/serial_link.h"

#include <cstring>
#include <string>

#include "protocol/frame.h"
#include "serial/comm_api.h"
#include "serial/comm_io.h"
#include "serial/comm_log.h"
#include "serial/line_settings_win32.h"
#include "serial/port_list_win32.h"
#include "serial/receive_path.h"

std::atomic<HANDLE> g_portHandle{INVALID_HANDLE_VALUE};

static const DWORD WRITE_WAIT_MS = 1000;

uint32_t EnumeratePorts() { return PresentComPorts(); }

// The path comes from a page's port list as GBK bytes; open it by its
// wide name so a typed name means the same under any system code page.
static std::wstring PathToWide(const char* path) {
    const int count = static_cast<int>(strlen(path));
    if (count == 0) return std::wstring();
    const int needed = MultiByteToWideChar(936, 0, path, count, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) MultiByteToWideChar(936, 0, path, count, &wide[0], needed);
    return wide;
}

bool OpenPort(const char* devicePath) {
    if (devicePath == nullptr) return false;
    ClosePort();

    TheCommLog().SetPort(devicePath);
    const std::wstring path = PathToWide(devicePath);
    // A port refused as busy just after a close is retried briefly.
    HANDLE port = OpenCommHandle(path);
    if (port == INVALID_HANDLE_VALUE) {
        GetLastError();
        TheCommLog().AddEvent(COMM_OPEN_FAILED);
        return false;
    }

    // A device that cannot report its line state is no serial port (see
    // ApplyReaderLineSettings): only that is examined; the settings are
    // applied as far as the port accepts them.
    if (!ApplyReaderLineSettings(port)) {
        g_comm.closeHandle(port);
        TheCommLog().AddEvent(COMM_OPEN_FAILED);
        return false;
    }

    // Published only once configured, so ReceiveThread never waits on a
    // port without its event mask.
    g_portHandle.store(port);
    SignalPortChanged();
    TheCommLog().AddEvent(COMM_PORT_OPENED);
    return true;
}

void WritePort(const uint8_t* bytes, size_t count) {
    HANDLE port = g_portHandle.load();
    if (port == INVALID_HANDLE_VALUE) return;
    TheCommLog().AddFrame(COMM_SENT, bytes, count);
    DWORD errors = 0;
    COMSTAT status;
    g_comm.clearCommError(port, &errors, &status);
    // At most WRITE_WAIT_MS, then about a second for the cancellation; a
    // write the driver keeps beyond that is left to it.
    CommWrite(port, bytes, count, WRITE_WAIT_MS);
}

void ClosePort() {
    // Taken with one exchange: the UI thread and reply handling on
    // ParserThread may both close, and only one of them may close the handle.
    HANDLE port = g_portHandle.exchange(INVALID_HANDLE_VALUE);
    if (port == INVALID_HANDLE_VALUE) return;
    g_comm.setCommMask(port, 0);   // ends a pending WaitCommEvent
    g_comm.purgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    g_comm.cancelIoEx(port, nullptr);   // Wine: a pending read survives the two calls above
    g_comm.closeHandle(port);
    SignalPortChanged();
    TheCommLog().AddEvent(COMM_PORT_CLOSED);
}

void SendQueryInfo() {
    const std::vector<uint8_t> frame = BuildQueryInfoFrame();
    WritePort(frame.data(), frame.size());
}

void SendWriteConfig(const uint8_t* payload, size_t count) {
    const std::vector<uint8_t> frame = BuildWriteConfigFrame(payload, count);
    if (frame.empty()) return;
    WritePort(frame.data(), frame.size());
}
