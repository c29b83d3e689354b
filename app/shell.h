// Process-wide values of the application shell.
#pragma once
#include <windows.h>

#include <atomic>

#define WM_DEVICE_INFO (WM_USER + 1)

// Asked of the current page by MainWindow's system menu, on the UI thread;
// a page answers through DWLP_MSGRESULT (pages that do not know them: 0).
// WM_APP, because dialogs take WM_USER + 0..2 for themselves.
#define WM_PAGE_SHOWN_TYPE (WM_APP + 1)  // the device type whose reply the page shows, 0 for none
#define WM_PAGE_EXPORT (WM_APP + 2)      // lParam std::string*: the document of the controls,
                                         // through the page's checks; 1 when written
#define WM_PAGE_IMPORT (WM_APP + 3)      // lParam const Overlay*: the fields into the controls
#define WM_PAGE_CLOSE_PORT (WM_APP + 4)  // close the port as the port button does, if the page holds it open
#define WM_PAGE_PORTS_CHANGED (WM_APP + 5)  // a port arrived or left: the page reads its port list again
#define WM_PAGE_REOPEN_FAILED (WM_APP + 7)  // posted by a device page to itself: "打开串口失败"
// Posted to MainWindow by the thread that found the open port's adapter gone.
#define WM_PORT_LOST (WM_APP + 6)

// Registers a top-level window class of the program with its icons, the
// arrow cursor and the system colour background + 1 gives (registering it
// again fails harmlessly).
void RegisterShellClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, UINT style, int background);

// Set once at start-up on the UI thread, read-only afterwards.
extern HINSTANCE g_instance;
extern HWND g_mainWindow;

// The page window that last received WM_INITDIALOG. Written by the UI
// thread (each page records itself), read by ParserThread, which owns
// reply handling's message boxes and simulated clicks.
extern std::atomic<HWND> g_currentPage;

// True while MainWindow destroys pages to replace them (UI thread only): a
// device page destroyed then does not end the program.
extern bool g_replacingPages;
