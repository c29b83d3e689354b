// ReceiveThread and ParserThread. Both block while there is nothing to do:
// ReceiveThread in WaitCommEvent while a port is open and quiet, on the
// port-changed event while none is open; ParserThread on the
// bytes-appended event, with the time-out the reassembly step asks for.
#include "serial/receive_path.h"

#include <atomic>

#include "protocol/reassembly.h"
#include "serial/comm_io.h"
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

// Counts the port's openings and closings: incremented by SerialLink (UI
// thread or ParserThread) after it stored the new handle, read by
// ReceiveThread. Windows may give a reopened port the handle value of the
// one just closed, so the value alone does not tell a new port.
static std::atomic<unsigned> g_portGeneration{0};

void SignalPortChanged() {
    g_portGeneration.fetch_add(1);
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

DWORD WINAPI ReceiveThread(LPVOID) {
    // The receiver (its requests, their event and ReadBuffer) belongs to
    // this thread alone.
    static CommReceiver receiver = {INVALID_HANDLE_VALUE, nullptr, false, nullptr, 0, 0};
    unsigned seen = 0;
    for (;;) {
        const unsigned generation = g_portGeneration.load();
        HANDLE port = g_portHandle.load();
        // Closed or reopened (under the same handle value too): a wait
        // still pending on the old port is ended, or given up after about a
        // second, never waited for longer.
        if (port != receiver.port || generation != seen) SwitchCommReceiver(&receiver, port);
        seen = generation;
        if (port == INVALID_HANDLE_VALUE) {
            WaitForSingleObject(g_portChanged, INFINITE);
            continue;
        }

        // A pass waits for EV_RXCHAR without a time-out but wakes for a
        // port change; failed passes pause (1 ms doubling to 200 ms).
        DWORD count = 0;
        if (CommReceivePass(&receiver, COMM_READ_CHUNK, INFINITE, g_portChanged, &count) != PASS_BYTES) continue;

        EnterCriticalSection(&g_rxLock);
        const size_t stored = AppendReceived(&g_rxBuffer, receiver.read->bytes.data(), count);
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
