// SerialLink: listing, opening, writing and closing the one serial port.
#include "serial/serial_link.h"

#include <cstring>
#include <mutex>
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
// ReceiveThread ends a request within about a second (COMM_CANCEL_WAIT_MS)
// and may wait for a write (about two) before it closes a handle.
static const DWORD RELEASE_WAIT_MS = 3000;

// Set once before any port opens.
static PortLostHandler g_portLostHandler = nullptr;

// The name OpenPort last opened: written on the UI thread, read by reply
// handling on ParserThread.
static std::mutex g_openedNameLock;
static std::string g_openedName;

std::vector<std::wstring> EnumeratePorts() { return PresentComPorts(); }

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

static std::string ErrorDetail(DWORD error) {
    return SystemErrorText(error) + "（错误 " + std::to_string(error) + "）";
}

// Why an opened port was not kept, for the communication log.
static std::string LineSetupDetail(const LineSetup& setup) {
    switch (setup.result) {
    case LINE_SET: break;
    case LINE_NO_STATE: return "读不到串口的线路设置，" + ErrorDetail(setup.error);
    case LINE_STATE_REFUSED: return "串口不接受线路设置 115200 8N1，" + ErrorDetail(setup.error);
    case LINE_TIMEOUTS_REFUSED: return "串口不接受读写超时设置，" + ErrorDetail(setup.error);
    case LINE_READ_BACK_DIFFERS: return "串口的线路设置是 " + DescribeLine(setup.readBack) + "，不是 115200 8N1";
    }
    return std::string();
}

bool OpenPort(const char* devicePath) {
    if (devicePath == nullptr) return false;
    ClosePort();

    TheCommLog().SetPort(devicePath);
    {
        const std::string prefix = "\\\\.\\";
        std::lock_guard<std::mutex> hold(g_openedNameLock);
        g_openedName = strncmp(devicePath, prefix.c_str(), prefix.size()) == 0 ? devicePath + prefix.size()
                                                                              : devicePath;
    }
    const std::wstring path = PathToWide(devicePath);
    // A port refused as busy just after a close is retried briefly.
    HANDLE port = OpenCommHandle(path);
    if (port == INVALID_HANDLE_VALUE) {
        TheCommLog().AddEvent(COMM_OPEN_FAILED, ErrorDetail(GetLastError()));
        return false;
    }

    // Nothing is read from the port before ReceiveThread serves it, so the
    // handle is closed here when the settings are refused.
    const LineSetup setup = ApplyReaderLineSettings(port);
    if (setup.result != LINE_SET) {
        g_comm.closeHandle(port);
        TheCommLog().AddEvent(COMM_OPEN_FAILED, LineSetupDetail(setup));
        return false;
    }

    // Published only once configured, so ReceiveThread never waits on a
    // port without its event mask.
    g_portHandle.store(port);
    SignalPortChanged();
    TheCommLog().AddEvent(COMM_PORT_OPENED);
    return true;
}

std::string OpenedPortName() {
    std::lock_guard<std::mutex> hold(g_openedNameLock);
    return g_openedName;
}

void SetPortLostHandler(PortLostHandler handler) { g_portLostHandler = handler; }

void ReportPortLost(HANDLE port, DWORD error) {
    // Taken with one exchange: only the first report of a published port
    // counts, and a port closed meanwhile is not lost.
    HANDLE expected = port;
    if (port == INVALID_HANDLE_VALUE || !g_portHandle.compare_exchange_strong(expected, INVALID_HANDLE_VALUE)) return;
    GiveUpPort(port);
    TheCommLog().AddEvent(COMM_PORT_LOST, ErrorDetail(error));
    if (g_portLostHandler != nullptr) g_portLostHandler();
}

void WritePort(const uint8_t* bytes, size_t count) {
    // The handle is not closed while the write uses it.
    PortUse use;
    HANDLE port = g_portHandle.load();
    if (port == INVALID_HANDLE_VALUE) return;
    TheCommLog().AddFrame(COMM_SENT, bytes, count);
    DWORD errors = 0;
    COMSTAT status;
    g_comm.clearCommError(port, &errors, &status);
    if (errors != 0) TheCommLog().AddLineErrors(LineErrorFlags(errors));
    // At most WRITE_WAIT_MS, then about a second for the cancellation; a
    // write the driver keeps beyond that is left to it.
    DWORD lostError = 0;
    CommWrite(port, bytes, count, WRITE_WAIT_MS, &lostError);
    if (lostError != 0) ReportPortLost(port, lostError);
}

void ClosePort() {
    // Taken with one exchange: the UI thread and reply handling on
    // ParserThread may both close, and only one of them may give it up.
    HANDLE port = g_portHandle.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) {
        GiveUpPort(port);
        TheCommLog().AddEvent(COMM_PORT_CLOSED);
    }
    // Also a port given up as lost: the device is free once it is closed.
    AwaitPortsReleased(RELEASE_WAIT_MS);
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
