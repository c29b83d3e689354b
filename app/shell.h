// Process-wide values of the application shell.
#pragma once
#include <windows.h>

#include <atomic>

#define WM_DEVICE_INFO (WM_USER + 1)

// Set once at start-up on the UI thread, read-only afterwards.
extern HINSTANCE g_instance;
extern HWND g_mainWindow;

// The page window that last received WM_INITDIALOG. Written by the UI
// thread (each page records itself), read by ParserThread, which owns
// reply handling's message boxes and simulated clicks.
extern std::atomic<HWND> g_currentPage;
