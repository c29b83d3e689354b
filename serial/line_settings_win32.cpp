#include "serial/line_settings_win32.h"

#include "serial/comm_api.h"

bool ApplyReaderLineSettings(HANDLE port) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!g_comm.getCommState(port, &dcb)) return false;

    g_comm.setCommMask(port, EV_RXCHAR);
    g_comm.setupComm(port, LINE_QUEUE_SIZE, LINE_QUEUE_SIZE);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 500;
    g_comm.setCommTimeouts(port, &timeouts);
    g_comm.getCommState(port, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    g_comm.setCommState(port, &dcb);
    g_comm.purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}
