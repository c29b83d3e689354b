// SerialLink: listing, opening, writing and closing the one serial port.
#include "serial/serial_link.h"

#include <cstdio>
#include <string>

#include "protocol/frame.h"
#include "serial/comm_log.h"
#include "serial/line_settings_win32.h"
#include "serial/receive_path.h"

std::atomic<HANDLE> g_portHandle{INVALID_HANDLE_VALUE};

static const DWORD WRITE_WAIT_MS = 1000;

uint32_t EnumeratePorts() {
    uint32_t mask = 0;
    for (int n = 1; n <= 32; ++n) {
        wchar_t path[16];
        swprintf(path, 16, L"\\\\.\\COM%d", n);
        HANDLE probe = CreateFileW(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            mask |= 1u << (n - 1);
            CloseHandle(probe);
        }
    }
    return mask;
}

// The path comes from a page's port list as GBK bytes; open it by its
// wide name so a typed name means the same under any system code page.
static std::wstring PathToWide(const char* path) {
    const int count = static_cast<int>(strlen(path));
    if (count == 0) return std::wstring();
    const int needed = MultiByteToWideChar(936, 0, path, count, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) MultiByteToWideChar(936, 0, path, count, &wide[0], needed);
    return wide;
}

bool OpenPort(const char* devicePath) {
    if (devicePath == nullptr) return false;
    ClosePort();

    TheCommLog().SetPort(devicePath);
    const std::wstring path = PathToWide(devicePath);
    HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        GetLastError();
        TheCommLog().AddEvent(COMM_OPEN_FAILED);
        return false;
    }

    // A device that cannot report its line state is no serial port (see
    // ApplyReaderLineSettings): only that is examined; the settings are
    // applied as far as the port accepts them.
    if (!ApplyReaderLineSettings(port)) {
        CloseHandle(port);
        TheCommLog().AddEvent(COMM_OPEN_FAILED);
        return false;
    }

    // Published only once configured, so ReceiveThread never waits on a
    // port without its event mask.
    g_portHandle.store(port);
    SignalPortChanged();
    TheCommLog().AddEvent(COMM_PORT_OPENED);
    return true;
}

void WritePort(const uint8_t* bytes, size_t count) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE port = g_portHandle.load();
    if (port == INVALID_HANDLE_VALUE || done == nullptr) {
        if (done != nullptr) CloseHandle(done);
        return;
    }
    TheCommLog().AddFrame(COMM_SENT, bytes, count);
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(port, &errors, &status);

    OVERLAPPED overlapped = {};
    overlapped.hEvent = done;
    if (!WriteFile(port, bytes, static_cast<DWORD>(count), nullptr, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(done, WRITE_WAIT_MS) != WAIT_OBJECT_0) {
            // The write still refers to the caller's bytes and to this
            // overlapped structure: cancel it and wait for the cancellation
            // before either goes out of scope.
            CancelIoEx(port, &overlapped);
            DWORD written = 0;
            GetOverlappedResult(port, &overlapped, &written, TRUE);
        }
    }
    CloseHandle(done);
}

void ClosePort() {
    // Taken with one exchange: the UI thread and reply handling on
    // ParserThread may both close, and only one of them may close the handle.
    HANDLE port = g_portHandle.exchange(INVALID_HANDLE_VALUE);
    if (port == INVALID_HANDLE_VALUE) return;
    SetCommMask(port, 0);   // ends a pending WaitCommEvent
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CancelIoEx(port, nullptr);   // Wine: a pending read survives the two calls above
    CloseHandle(port);
    SignalPortChanged();
    TheCommLog().AddEvent(COMM_PORT_CLOSED);
}

void SendQueryInfo() {
    const std::vector<uint8_t> frame = BuildQueryInfoFrame();
    WritePort(frame.data(), frame.size());
}

void SendWriteConfig(const uint8_t* payload, size_t count) {
    const std::vector<uint8_t> frame = BuildWriteConfigFrame(payload, count);
    if (frame.empty()) return;
    WritePort(frame.data(), frame.size());
}
