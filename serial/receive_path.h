// The receive path of the window program: ReceiveThread copies the port's
// bytes into RxBuffer, ParserThread cuts frames off its front and hands
// each to the frame handler (reply handling).
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Called on ParserThread with a complete frame at the front of RxBuffer;
// the frame is removed after the handler returns.
typedef void (*FrameHandler)(const uint8_t* frame, size_t total);

// Initialises rxLock and the wake-up events, then starts ReceiveThread
// and ParserThread. Called once, on the UI thread, before any port opens.
void StartReceivePath(FrameHandler handler);

DWORD WINAPI ReceiveThread(LPVOID);
DWORD WINAPI ParserThread(LPVOID);

// Wakes ReceiveThread after the port was opened or closed (SerialLink).
void SignalPortChanged();

// Hands a port no longer published in g_portHandle to ReceiveThread, which
// ends its own requests on it and closes it (without the receive path, the
// caller closes it). Any thread; does not wait.
void GiveUpPort(HANDLE port);
// Waits until ReceiveThread has closed every port given up, at most
// timeoutMs; true when it has.
bool AwaitPortsReleased(DWORD timeoutMs);

// Held by a thread that uses the published port outside ReceiveThread
// (WritePort): ReceiveThread closes no handle meanwhile.
struct PortUse {
    PortUse();
    ~PortUse();
    PortUse(const PortUse&) = delete;
    PortUse& operator=(const PortUse&) = delete;
};
