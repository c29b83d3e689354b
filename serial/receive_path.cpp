// ReceiveThread and ParserThread. Both block while there is nothing to do:
// ReceiveThread in WaitCommEvent while a port is open and quiet, on the
// port-changed event while none is open; ParserThread on the
// bytes-appended event, with the time-out the reassembly step asks for.
#include "serial/receive_path.h"

#include <atomic>
#include <vector>

#include "protocol/reassembly.h"
#include "serial/comm_api.h"
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
// ReceiveThread.
static std::atomic<unsigned> g_portGeneration{0};

// Ports no longer published and not yet closed: appended by any thread
// that gives one up, removed by ReceiveThread once it closed them, all
// under g_releaseLock; g_released wakes those waiting for the removal.
static SRWLOCK g_releaseLock = SRWLOCK_INIT;
static CONDITION_VARIABLE g_released = CONDITION_VARIABLE_INIT;
static std::vector<HANDLE> g_givenUp;
// Held by WritePort while it uses the published handle, and by
// ReceiveThread while it closes one.
static SRWLOCK g_portUseLock = SRWLOCK_INIT;
// Set once the threads run (UI thread, before any port opens).
static std::atomic<bool> g_running{false};

PortUse::PortUse() { AcquireSRWLockExclusive(&g_portUseLock); }
PortUse::~PortUse() { ReleaseSRWLockExclusive(&g_portUseLock); }

void SignalPortChanged() {
    g_portGeneration.fetch_add(1);
    if (g_portChanged != nullptr) SetEvent(g_portChanged);
}

// SetCommMask(h, 0) releases a pending WaitCommEvent on Windows and Wine;
// the purge and CancelIoEx end the rest (Wine: a pending read survives
// the first two). receiver is ReceiveThread's own, or null.
static void CloseGivenUp(HANDLE port, CommReceiver* receiver) {
    g_comm.setCommMask(port, 0);
    if (receiver != nullptr && receiver->port == port) SwitchCommReceiver(receiver, INVALID_HANDLE_VALUE);
    g_comm.purgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    g_comm.cancelIoEx(port, nullptr);
    PortUse use;
    g_comm.closeHandle(port);
}

void GiveUpPort(HANDLE port) {
    if (!g_running.load()) {
        CloseGivenUp(port, nullptr);
        return;
    }
    AcquireSRWLockExclusive(&g_releaseLock);
    g_givenUp.push_back(port);
    ReleaseSRWLockExclusive(&g_releaseLock);
    SignalPortChanged();
}

bool AwaitPortsReleased(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    AcquireSRWLockExclusive(&g_releaseLock);
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (g_givenUp.empty() || elapsed >= timeoutMs) break;
        SleepConditionVariableSRW(&g_released, &g_releaseLock, timeoutMs - elapsed, 0);
    }
    const bool released = g_givenUp.empty();
    ReleaseSRWLockExclusive(&g_releaseLock);
    return released;
}

// ReceiveThread: closes the ports given up. They stay listed until closed,
// so a waiter never sees a port as released while its handle is open.
static void ReleaseGivenUp(CommReceiver* receiver) {
    AcquireSRWLockExclusive(&g_releaseLock);
    const std::vector<HANDLE> ports = g_givenUp;
    ReleaseSRWLockExclusive(&g_releaseLock);
    if (ports.empty()) return;
    for (HANDLE port : ports) CloseGivenUp(port, receiver);
    AcquireSRWLockExclusive(&g_releaseLock);
    g_givenUp.erase(g_givenUp.begin(), g_givenUp.begin() + static_cast<long>(ports.size()));
    ReleaseSRWLockExclusive(&g_releaseLock);
    WakeAllConditionVariable(&g_released);
}

void StartReceivePath(FrameHandler handler) {
    g_frameHandler = handler;
    ResetRxBuffer(&g_rxBuffer);
    InitializeCriticalSection(&g_rxLock);
    g_portChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_bytesAppended = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_running.store(true);
    HANDLE receiver = CreateThread(nullptr, 0, ReceiveThread, nullptr, 0, nullptr);
    HANDLE parser = CreateThread(nullptr, 0, ParserThread, nullptr, 0, nullptr);
    // The threads run until the process ends; their handles are not needed.
    if (receiver != nullptr) CloseHandle(receiver);
    if (parser != nullptr) CloseHandle(parser);
}

DWORD WINAPI ReceiveThread(LPVOID) {
    // The receiver (its requests, their event and ReadBuffer) belongs to
    // this thread alone.
    static CommReceiver receiver = {INVALID_HANDLE_VALUE, nullptr, false, nullptr, 0, 0, 0, 0};
    unsigned seen = 0;
    for (;;) {
        // This thread alone closes ports, so the handle it waits on is
        // never closed under it, nor its value reused meanwhile.
        ReleaseGivenUp(&receiver);
        const unsigned generation = g_portGeneration.load();
        HANDLE port = g_portHandle.load();
        // Closed or reopened: a wait still pending on the old port is
        // ended, or given up after about a second, never waited for longer.
        if (port != receiver.port || generation != seen) SwitchCommReceiver(&receiver, port);
        seen = generation;
        if (port == INVALID_HANDLE_VALUE) {
            WaitForSingleObject(g_portChanged, INFINITE);
            continue;
        }

        // A pass waits for EV_RXCHAR without a time-out but wakes for a
        // port change; failed passes pause (1 ms doubling to 200 ms).
        DWORD count = 0;
        const CommPass pass = CommReceivePass(&receiver, COMM_READ_CHUNK, INFINITE, g_portChanged, &count);
        if (receiver.lineErrors != 0) {
            TheCommLog().AddLineErrors(LineErrorFlags(receiver.lineErrors));
            receiver.lineErrors = 0;
        }
        // Reported once; the port is then given up and released above.
        if (pass == PASS_LOST) ReportPortLost(port, receiver.lostError);
        if (pass != PASS_BYTES) continue;

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
