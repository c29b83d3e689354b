// The port list (1001) every page shares: the ports present, read again
// when the list is dropped down and when Windows reports a port arriving
// or leaving, always keeping the name the list shows, selected or typed.
#pragma once
#include <windows.h>

#include <string>

// Empties the list and adds every port present (CB_ADDSTRING: the list
// sorts them). The text the list showed stays: its entry is selected
// again, or, listed no more or typed, it stays typed in the edit field.
void FillPortList(HWND list);

// Shows name: its entry selected, or typed in the edit field when the list
// has none (the list is read again first: the port may be newer than it).
void ShowPortName(HWND list, const std::wstring& name);

// A notification of the list (WM_COMMAND of 1001): dropping it down reads
// the ports again; typing is marked until the user drops the list down,
// picks an entry or leaves the field, and a change of ports that came
// meanwhile is read when the field is left.
void OnPortListNotification(HWND list, int code);

// A port arrived or left: the list is read again now, or, while the user is
// typing in it, once the typing ends.
void OnPortsChanged(HWND list);
