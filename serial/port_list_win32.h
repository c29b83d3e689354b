// The COM ports present, as Windows lists them, without opening any.
#pragma once
#include <windows.h>

#include <cstdint>

// 1-32 for "COM1".."COM32" (any case), 0 for any other name.
int ComPortNumber(const wchar_t* name, size_t length);

// Bit n-1 set for each COMn (1..32) named under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where the serial drivers record the
// ports they have. Opening a port to find out could take seconds (a
// Bluetooth port connects) and pulses DTR on the reader's own port.
uint32_t PresentComPorts();
