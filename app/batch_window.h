// The batch window: a plan of per-reader settings worked through on a
// bench by the provisioning engine tavrolin-cli provision runs, for
// technicians who stay in the window program. A resizable top-level
// window owned by MainWindow, one at a time. While a run holds the port
// the current page has it closed and takes no input. UI thread.
#pragma once
#include <windows.h>

// Opens the window, or brings it to the front.
void ShowBatchWindow(HWND owner);

// The message loop's keyboard handling of the window (Tab, Enter starts,
// Esc stops): true when the message was the window's and has been handled.
bool BatchWindowMessage(MSG* message);

// MainWindow is asked to close: true when nothing holds it. While a run
// holds the port the window is closed as its own close button does
// (asking first while a reader is being written), and MainWindow closed
// once the run has ended.
bool BatchWindowLetsProgramClose();
