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
