// SerialLine on Win32 COM ports, with the same open sequence and line
// settings as the window program: overlapped handle, 2048/2048 driver
// queues, time-outs {MAXDWORD, 0, 0, 100, 500}, 115200 8N1, EV_RXCHAR.
//
// Reading waits for EV_RXCHAR with WaitCommEvent, then reads once exactly
// what ClearCommError reports as queued. It never reads "until 0 bytes":
// with these time-outs Windows returns at once, but Wine keeps such a
// read pending until data arrives. A read that still hangs is cancelled
// with CancelIoEx, which releases it on both. A port whose status can no
// longer be read (unplugged adapter, hung-up tty under Wine) is gone.
#include "serial/line.h"
#include "serial/comm_api.h"
#include "serial/line_settings_win32.h"

#include <windows.h>

#include <cstdio>

struct SerialLine {
    HANDLE handle;
    // The event wait outlives a LineRead that timed out: the next call
    // picks it up instead of starting another one.
    OVERLAPPED waitOv;
    DWORD waitMask;
    bool waitPending;
    HANDLE readEvent;
    HANDLE writeEvent;
};

namespace {

std::wstring DevicePath(const std::string& name) {
    std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    return std::wstring(path.begin(), path.end());  // port names are ASCII
}

std::string ErrorText(const char* what, const std::string& name, DWORD code) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %s: error %lu", what, name.c_str(),
                  static_cast<unsigned long>(code));
    return buf;
}

// Bytes waiting in the driver, or -1 when the port's status is gone.
int Queued(SerialLine* line) {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!g_comm.clearCommError(line->handle, &errors, &status)) return -1;
    return static_cast<int>(status.cbInQue);
}

int ReadQueued(SerialLine* line, uint8_t* buffer, DWORD count) {
    OVERLAPPED ov = {};
    ov.hEvent = line->readEvent;
    ResetEvent(line->readEvent);
    DWORD got = 0;
    if (g_comm.readFile(line->handle, buffer, count, &got, &ov)) return static_cast<int>(got);
    if (GetLastError() != ERROR_IO_PENDING) return -1;
    if (WaitForSingleObject(line->readEvent, 1000) != WAIT_OBJECT_0) g_comm.cancelIoEx(line->handle, &ov);
    if (!g_comm.getOverlappedResult(line->handle, &ov, &got, TRUE))
        return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
    return static_cast<int>(got);
}

void EndPendingWait(SerialLine* line) {
    if (!line->waitPending) return;
    g_comm.setCommMask(line->handle, 0);
    g_comm.cancelIoEx(line->handle, &line->waitOv);
    DWORD ignored = 0;
    g_comm.getOverlappedResult(line->handle, &line->waitOv, &ignored, TRUE);
    line->waitPending = false;
}

}  // namespace

SerialLine* LineOpen(const std::string& path, std::string* error) {
    std::wstring device = DevicePath(path);
    HANDLE h = g_comm.createFile(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = ErrorText("cannot open", path, GetLastError());
        return nullptr;
    }
    if (!ApplyReaderLineSettings(h)) {
        if (error) *error = ErrorText("not a serial port:", path, GetLastError());
        g_comm.closeHandle(h);
        return nullptr;
    }

    SerialLine* line = new SerialLine{};
    line->handle = h;
    line->waitOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    line->readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    line->writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return line;
}

SerialLine* LineOpenPty(const std::string& linkPath, std::string* error) {
    if (error) *error = "cannot create a pty for " + linkPath + " on Windows; use --port COMn";
    return nullptr;
}

int LineRead(SerialLine* line, uint8_t* buffer, size_t capacity, int timeoutMs) {
    DWORD room = capacity > 0xFFFF ? 0xFFFF : static_cast<DWORD>(capacity);
    int queued = Queued(line);
    if (queued < 0) return -1;
    if (queued == 0) {
        if (!line->waitPending) {
            HANDLE ev = line->waitOv.hEvent;
            line->waitOv = OVERLAPPED{};
            line->waitOv.hEvent = ev;
            ResetEvent(ev);
            line->waitMask = 0;
            if (!g_comm.waitCommEvent(line->handle, &line->waitMask, &line->waitOv)) {
                if (GetLastError() != ERROR_IO_PENDING) return -1;
                line->waitPending = true;
            }
        }
        if (line->waitPending) {
            if (WaitForSingleObject(line->waitOv.hEvent, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
                return Queued(line) < 0 ? -1 : 0;
            line->waitPending = false;
            DWORD ignored = 0;
            // A released wait (error 995 under Wine) is no data, not a loss.
            g_comm.getOverlappedResult(line->handle, &line->waitOv, &ignored, FALSE);
        }
        queued = Queued(line);
        if (queued <= 0) return queued;
    }
    return ReadQueued(line, buffer, static_cast<DWORD>(queued) < room ? static_cast<DWORD>(queued) : room);
}

bool LineWrite(SerialLine* line, const uint8_t* bytes, size_t count) {
    OVERLAPPED ov = {};
    ov.hEvent = line->writeEvent;
    ResetEvent(line->writeEvent);
    DWORD done = 0;
    if (!g_comm.writeFile(line->handle, bytes, static_cast<DWORD>(count), &done, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        DWORD limit = static_cast<DWORD>(500 + 100 * count + 1000);
        if (WaitForSingleObject(line->writeEvent, limit) != WAIT_OBJECT_0) g_comm.cancelIoEx(line->handle, &ov);
        if (!g_comm.getOverlappedResult(line->handle, &ov, &done, TRUE)) return false;
    }
    return done == count;
}

void LineClose(SerialLine* line) {
    if (line == nullptr) return;
    EndPendingWait(line);
    g_comm.purgeComm(line->handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    g_comm.closeHandle(line->handle);
    CloseHandle(line->waitOv.hEvent);
    CloseHandle(line->readEvent);
    CloseHandle(line->writeEvent);
    delete line;
}

std::vector<std::string> LineEnumerate() {
    std::vector<std::string> found;
    for (int n = 1; n <= 32; ++n) {
        std::string name = "COM" + std::to_string(n);
        std::wstring device = DevicePath(name);
        HANDLE h = g_comm.createFile(device.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        g_comm.closeHandle(h);
        found.push_back(name);
    }
    return found;
}
