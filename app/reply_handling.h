// Reply handling: what the program does with each complete frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <atomic>

#include "protocol/device_info.h"

// Written only by ParserThread, before it sends WM_DEVICE_INFO; read by the
// pages on the UI thread afterwards (the synchronous send orders the two).
extern DeviceInfoStore g_deviceInfoStore;

// Seconds left to wait for a reply, 0 = not waiting. Set to 3 and counted
// down by the pages on the UI thread, set to 0 here on ParserThread.
extern std::atomic<int32_t> g_replyCountdown;

// Called on ParserThread with a complete frame at the front of RxBuffer.
void HandleFrame(const uint8_t* frame, size_t total);
