// ReceiveThread and ParserThread. Both block while there is nothing to do:
// ReceiveThread in WaitCommEvent while a port is open and quiet, on the
// port-changed event while none is open; ParserThread on the
// bytes-appended event, with the time-out the reassembly step asks for.
#include "serial/receive_path.h"

#include <algorithm>

#include "protocol/reassembly.h"
#include "serial/comm_log.h"
#include "serial/serial_link.h"

// RxBuffer: ReceiveThread appends, ParserThread examines and removes; both
// under g_rxLock. The bytes of the frame being handled are read by
// ParserThread outside the lock: only ParserThread lowers rxFill.
static RxBuffer g_rxBuffer;
static CRITICAL_SECTION g_rxLock;

// Auto-reset events. Port changed: set by SerialLink (UI thread or
// ParserThread), waited on by ReceiveThread. Bytes appended: set by
// ReceiveThread, waited on by ParserThread.
static HANDLE g_portChanged = nullptr;
static HANDLE g_bytesAppended = nullptr;

// Written once by StartReceivePath before the threads start.
static FrameHandler g_frameHandler = nullptr;

// After a failed wait or read on a port that stays open (an unplugged
// adapter), ReceiveThread retries after a pause that doubles up to this.
static const DWORD MAX_RETRY_PAUSE_MS = 200;
static const DWORD READ_CHUNK = 1024;

void SignalPortChanged() {
    if (g_portChanged != nullptr) SetEvent(g_portChanged);
}

void StartReceivePath(FrameHandler handler) {
    g_frameHandler = handler;
    ResetRxBuffer(&g_rxBuffer);
    InitializeCriticalSection(&g_rxLock);
    g_portChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_bytesAppended = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE receiver = CreateThread(nullptr, 0, ReceiveThread, nullptr, 0, nullptr);
    HANDLE parser = CreateThread(nullptr, 0, ParserThread, nullptr, 0, nullptr);
    // The threads run until the process ends; their handles are not needed.
    if (receiver != nullptr) CloseHandle(receiver);
    if (parser != nullptr) CloseHandle(parser);
}

// Waits for the next EV_RXCHAR. False when the wait failed or ended
// without it: on Windows SetCommMask(h, 0) ends it with an empty mask, on
// Wine GetOverlappedResult then fails with ERROR_OPERATION_ABORTED.
static bool WaitForReceivedChar(HANDLE port, HANDLE ioEvent) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ResetEvent(ioEvent);
    DWORD events = 0;
    if (!WaitCommEvent(port, &events, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        DWORD unused = 0;
        if (!GetOverlappedResult(port, &overlapped, &unused, TRUE)) return false;
    }
    return (events & EV_RXCHAR) != 0;
}

// One read of what is queued. Called only after EV_RXCHAR: Wine keeps a
// read with the {MAXDWORD, 0, 0} time-outs pending until bytes arrive,
// where Windows returns at once, so the loop never reads "until empty".
static bool ReadQueued(HANDLE port, HANDLE ioEvent, uint8_t* buffer, DWORD* count) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ResetEvent(ioEvent);
    *count = 0;
    if (!ReadFile(port, buffer, READ_CHUNK, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
    }
    return GetOverlappedResult(port, &overlapped, count, TRUE) != FALSE;
}

DWORD WINAPI ReceiveThread(LPVOID) {
    // ReadBuffer and the overlapped event belong to this thread alone.
    static uint8_t readBuffer[READ_CHUNK];
    HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD retryPause = 0;
    for (;;) {
        HANDLE port = g_portHandle.load();
        if (port == INVALID_HANDLE_VALUE) {
            retryPause = 0;
            WaitForSingleObject(g_portChanged, INFINITE);
            continue;
        }

        DWORD count = 0;
        const bool ok = WaitForReceivedChar(port, ioEvent) && ReadQueued(port, ioEvent, readBuffer, &count);
        if (!ok) {
            // Closed or reopened meanwhile: look at the new state at once.
            if (g_portHandle.load() != port) continue;
            // The same port keeps failing: pause, but wake for a close.
            retryPause = retryPause == 0 ? 1 : std::min(retryPause * 2, MAX_RETRY_PAUSE_MS);
            WaitForSingleObject(g_portChanged, retryPause);
            continue;
        }
        retryPause = 0;
        if (count == 0) continue;

        EnterCriticalSection(&g_rxLock);
        const size_t stored = AppendReceived(&g_rxBuffer, readBuffer, count);
        LeaveCriticalSection(&g_rxLock);
        SetEvent(g_bytesAppended);
        if (stored < count) TheCommLog().AddDiscarded(count - stored);
    }
}

static int64_t NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

DWORD WINAPI ParserThread(LPVOID) {
    // The reassembly state belongs to this thread alone.
    static Reassembler reassembler;
    ResetReassembler(&reassembler);
    for (;;) {
        const uint64_t discardedBefore = reassembler.bytesDiscarded;
        EnterCriticalSection(&g_rxLock);
        const ReassemblyResult step = ReassemblyPoll(&reassembler, &g_rxBuffer, NowMs());
        LeaveCriticalSection(&g_rxLock);
        if (reassembler.bytesDiscarded > discardedBefore)
            TheCommLog().AddDiscarded(static_cast<size_t>(reassembler.bytesDiscarded - discardedBefore));

        if (step.frameLength > 0) {
            // Outside the lock: the handler may show a message box and
            // wait for the UI thread.
            TheCommLog().AddFrame(COMM_RECEIVED, g_rxBuffer.bytes, step.frameLength);
            g_frameHandler(g_rxBuffer.bytes, step.frameLength);
            EnterCriticalSection(&g_rxLock);
            ConsumeFrame(&reassembler, &g_rxBuffer, step.frameLength);
            LeaveCriticalSection(&g_rxLock);
            continue;
        }
        // Bytes appended after the step above have set the event already,
        // so none is missed between the step and the wait.
        WaitForSingleObject(g_bytesAppended, step.waitMs < 0 ? INFINITE : static_cast<DWORD>(step.waitMs));
    }
}
