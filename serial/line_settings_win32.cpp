#include "serial/line_settings_win32.h"

#include <string>

#include "serial/comm_api.h"

namespace {

bool IsReaderLine(const DCB& d) {
    return d.BaudRate == CBR_115200 && d.ByteSize == 8 && d.Parity == NOPARITY && d.StopBits == ONESTOPBIT &&
           !d.fOutxCtsFlow && !d.fOutxDsrFlow && !d.fOutX && !d.fInX && d.fRtsControl != RTS_CONTROL_HANDSHAKE &&
           d.fRtsControl != RTS_CONTROL_TOGGLE && d.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

LineSetup Failed(LineSetupResult result) { return LineSetup{result, GetLastError(), DCB{}}; }

}  // namespace

LineSetup ApplyReaderLineSettings(HANDLE port) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!g_comm.getCommState(port, &dcb)) return Failed(LINE_NO_STATE);

    g_comm.setCommMask(port, EV_RXCHAR);
    g_comm.setupComm(port, LINE_QUEUE_SIZE, LINE_QUEUE_SIZE);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 500;
    if (!g_comm.setCommTimeouts(port, &timeouts)) return Failed(LINE_TIMEOUTS_REFUSED);
    if (!g_comm.getCommState(port, &dcb)) return Failed(LINE_NO_STATE);
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
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = LINE_XON_LIMIT;
    dcb.XoffLim = LINE_XOFF_LIMIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    if (!g_comm.setCommState(port, &dcb)) return Failed(LINE_STATE_REFUSED);

    LineSetup setup = {LINE_SET, 0, DCB{}};
    setup.readBack.DCBlength = sizeof(setup.readBack);
    if (!g_comm.getCommState(port, &setup.readBack)) return Failed(LINE_NO_STATE);
    if (!IsReaderLine(setup.readBack)) {
        setup.result = LINE_READ_BACK_DIFFERS;
        return setup;
    }
    g_comm.purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return setup;
}

std::string DescribeLine(const DCB& d) {
    static const char PARITY[] = "NOEMS";
    static const char* const STOP[] = {"1", "1.5", "2"};
    std::string text = std::to_string(d.BaudRate) + " " + std::to_string(d.ByteSize) +
                       (d.Parity < 5 ? PARITY[d.Parity] : '?') + (d.StopBits < 3 ? STOP[d.StopBits] : "?");
    if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE || d.fRtsControl == RTS_CONTROL_TOGGLE)
        text += ", RTS/CTS";
    if (d.fOutxDsrFlow || d.fDtrControl == DTR_CONTROL_HANDSHAKE) text += ", DTR/DSR";
    if (d.fOutX || d.fInX) text += ", XON/XOFF";
    return text;
}

std::string SystemErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text != nullptr ? text : L"", length);
    if (text != nullptr) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) wide.pop_back();
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &utf8[0], needed, nullptr,
                            nullptr);
    return utf8;
}
