// SerialLink: the one serial port of the window program.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The open port or INVALID_HANDLE_VALUE. Opened and closed on the UI
// thread, closed by reply handling on ParserThread, read by ReceiveThread
// and WritePort. Every access is one atomic word.
extern std::atomic<HANDLE> g_portHandle;

// Bit n-1 set when COMn (1..32) is present; no port is opened to find out.
uint32_t EnumeratePorts();
// Opens a device path such as "\\.\COM3" with the reader's line settings;
// a port refused as busy is retried for about 200 ms.
bool OpenPort(const char* devicePath);
// Never blocks for more than about two seconds, whatever the driver does.
void WritePort(const uint8_t* bytes, size_t count);
void ClosePort();

void SendQueryInfo();
void SendWriteConfig(const uint8_t* payload, size_t count);
