// Dialog procedures of the five pages.
#pragma once
#include <windows.h>

INT_PTR CALLBACK PortSelectPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BasicReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DualAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SingleAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WifiReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);

// Above 96 DPI the template font's em grows faster than its dialog units,
// so a label sized tightly at 96 DPI can be a few pixels short. Every page
// calls this after it has set its texts: a static label narrower than its
// text is drawn on one line (SS_LEFTNOWORDWRAP: a trailing full-width
// colon's blank half may be cut), and widened into free space to its
// right where more would be cut, and to its left where the right has too
// little (a label right before its field). At 96 DPI it changes nothing.
void FitLabelsToDpi(HWND page);

#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif
