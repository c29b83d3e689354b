// SerialLink: the one serial port of the window program.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The open port or INVALID_HANDLE_VALUE. Opened on the UI thread; given up
// ("no port" published) by ClosePort on the UI thread or ParserThread, or
// by the thread that found the adapter gone; closed only by ReceiveThread,
// the one thread that waits on it (receive_path.h). Every access is one
// atomic word.
extern std::atomic<HANDLE> g_portHandle;

// The names of the ports present ("COM3", "COM40", or a driver's own
// name), none opened to find out; see PresentComPorts.
std::vector<std::wstring> EnumeratePorts();
// Opens a device path such as "\\.\COM3" with the reader's line settings;
// a port refused as busy is retried for about 200 ms. A port whose driver
// refuses the settings, or reports others back, is closed again and the
// result is false; the communication log says why. CreateFile itself is
// not bounded on every driver (a Bluetooth port connects first).
bool OpenPort(const char* devicePath);
// The name of the port last opened ("COM40"): what a page reopens. Any thread.
std::string OpenedPortName();
// Bounded by the write time-outs: about two seconds, or five while
// ReceiveThread is releasing a port (WritePort waits for its turn).
void WritePort(const uint8_t* bytes, size_t count);
// Publishes "no port" and waits for ReceiveThread to end its requests on
// the handle and close it, at most about three seconds; a driver that
// keeps the handle longer delays only the close, never the caller more.
// CloseHandle itself is not bounded on every driver (a USB driver in
// removal): it runs on ReceiveThread, which the caller no longer waits for
// after those three seconds.
void ClosePort();

// Called once for each opened port whose adapter went away (a pass or a
// write met an error that says so; see MeansDeviceGone), on the thread
// that found it, after "no port" was published and the communication log
// was told: the handle is then being released. Set once before any port
// opens.
typedef void (*PortLostHandler)();
void SetPortLostHandler(PortLostHandler handler);
// ReceiveThread and WritePort: a call on port said its device has gone.
// Only the first report for a still published port counts.
void ReportPortLost(HANDLE port, DWORD error);

void SendQueryInfo();
void SendWriteConfig(const uint8_t* payload, size_t count);
