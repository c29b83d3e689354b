// The COM ports present, as Windows lists them, without opening any.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// n for "COMn" (any case, n >= 1 without a leading zero), 0 for any other name.
int ComPortNumber(const wchar_t* name, size_t length);

// Every name under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (where the serial
// drivers record their ports; any REG_SZ value, not only COMn) and every
// COMn among the DOS device names (QueryDosDeviceW): the ports of a remote
// desktop session and ports made with DefineDosDevice are only there.
// Without duplicates (compared without case), in the order of
// SortPortNames. Opening a port to find out could take seconds (a
// Bluetooth port connects) and pulses DTR on the reader's own port.
std::vector<std::wstring> PresentComPorts();

// COMn names by ascending n, then the other names alphabetically; a name
// met again in another case is dropped.
void SortPortNames(std::vector<std::wstring>* names);
