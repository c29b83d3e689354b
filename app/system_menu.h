// MainWindow's system menu extras: the communication log, settings to and
// from a file, batch configuration, and About. Everything here runs on the UI thread.
#pragma once
#include <windows.h>

// Appends a separator and the five commands (IDM_*) to the window's menu.
void AddSystemMenuItems(HWND window);
// Greys export and import unless the current page shows a reader's reply.
void UpdateSystemMenuItems(HWND window);
// One of the five commands (low four bits already masked); false for others.
bool OnSystemMenuCommand(HWND window, UINT command);

// The log window: opened, or brought to the front (comm_log_window.cpp).
void ShowCommLogWindow(HWND owner);
