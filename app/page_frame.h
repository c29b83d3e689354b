// MainWindow's frame around its device page: the window's size for the
// page, its fit to the monitor's work area and, where the page is taller
// than the work area holds, the page's vertical scrolling (scroll bar,
// mouse wheel, the focused control kept in view). UI thread only.
//
// While everything fits nothing of this shows: the window has the size it
// always had and no scroll bar. Only a window taller than its work area
// takes the work area's height, a scroll bar (the window widening by the
// bar, so that the page keeps its whole width) and a page that moves up
// inside it; the wheel over a closed combo box then scrolls the page and
// leaves the box's value alone.
#pragma once
#include <windows.h>

#include "app/page_host.h"

// Creates a page of MainWindow from entry's template; returns its window.
using CreatePageFn = HWND (*)(HWND window, const PageTableEntry& entry);

// Sizes MainWindow for the device page of next, replacing shown (nullptr:
// the window still has its start-up size), and creates that page with
// create. At 96 DPI the window grows by the page table's figures before
// the page is created; at any other DPI the page is created first and the
// client area takes the page's own height (its template mapped with its
// font), since the table's figures scaled as pixels and the font's metrics
// round apart. The top moves up as the table says (half the height added
// elsewhere) and is kept in the work area.
void ShowDevicePage(HWND window, const PageTableEntry* shown, const PageTableEntry& next, CreatePageFn create);

// MainWindow's messages for the frame: the size, the scroll bar, the
// wheel, a DPI change (WM_DPICHANGED), a change of the work area
// (WM_SETTINGCHANGE with SPI_SETWORKAREA), of the displays
// (WM_DISPLAYCHANGE) or of the monitor the window was moved to, and the
// frame's own posted messages. True when the message is answered, with
// *result its result; false when MainWindow goes on with it.
bool PageFrameMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
