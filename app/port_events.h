// What MainWindow does when the port or the machine changes under the
// program: an adapter that went away, ports plugged or pulled, sleep, and
// the end of the program. UI thread, except where said.
#pragma once
#include <windows.h>

// Before the receive path starts: a lost port is posted to window as
// WM_PORT_LOST (from whichever thread found it).
void StartPortEvents(HWND window);
// WM_PORT_LOST: the current page closes the port as its button does, the
// reply wait ends, and the user is told.
void OnPortLost();
// WM_DEVICECHANGE: a serial port arrived or left; the current page reads
// its port list again.
void OnDeviceChange(WPARAM event, LPARAM data);
// WM_POWERBROADCAST: before sleep the port is closed as the button does.
void OnPowerBroadcast(WPARAM event);
// WM_DESTROY: the port is closed before the process ends.
void ClosePortAtExit();

// The current page closes the port as its button does (if it holds it
// open) and a reply wait ends without its time-out message: before another
// part of the program takes a port.
void ClosePortOfCurrentPage();
// Whether a WM_DEVICECHANGE says a serial port arrived or left (a top-level
// window's port list reads the ports again).
bool IsPortArrivalOrRemoval(WPARAM event, LPARAM data);
