// The DPI a window is drawn at: GetDpiForWindow where the system has it
// (Windows 10 1607 and later, looked up at run time so that Windows 7
// still starts the program), else the system DPI.
#pragma once
#include <windows.h>

int WindowDpi(HWND window);

// A system metric at a DPI: GetSystemMetricsForDpi where the system has it
// (Windows 10 1607 and later), else the system's own, which is then the
// DPI of every window.
int SystemMetricForDpi(int index, int dpi);
