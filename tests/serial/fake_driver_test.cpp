// The serial path on a scripted fake driver: OpenPort, WritePort, ClosePort,
// ReceiveThread and ParserThread of the window program, and the console
// programs' line, run unchanged on driver behaviours met on technicians'
// machines. Each row: the port opens with the reader's settings (or is
// refused, said in the communication log), the reply arrives whole,
// nothing spins (calls counted per second), nothing blocks beyond its
// bound, an adapter pulled after the reply is reported lost exactly once
// and its handle closed by the receive thread, and the receive thread
// still serves the next port. The fake keeps what a real driver keeps:
// its line settings and time-outs, and a port whose requests are still
// pending refuses to open again.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "protocol/frame.h"
#include "serial/comm_api.h"
#include "serial/comm_log.h"
#include "serial/line.h"
#include "serial/port_list_win32.h"
#include "serial/receive_path.h"
#include "serial/serial_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
const HANDLE FAKE_PORT = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7e50));
const ULONG_PTR IO_PENDING = 0x103, IO_CANCELLED = 0xC0000120, IO_FAILED = 0xE0000000;
// A blocking wait for a request the fake never completes fails after this.
const DWORD FAKE_BLOCK_LIMIT_MS = 4000;
enum { LEFT_FLOW = 1, LEFT_DSR = 2, LEFT_NULL = 4, LEFT_ABORT = 8, LEFT_ZERO_XON = 16, LEFT_BIG_LIMITS = 32 };
enum {
    NO_HISTORY = 1,        // an EV_RXCHAR that came while no wait was pending is forgotten
    EMPTY_EVENTS = 2,      // every WaitCommEvent ends at once with EV_RXCHAR, queued bytes or not
    STUCK = 4,             // writes never complete; cancelled requests end only when the driver goes
    SHORT_READS = 8,       // a read returns at most 5 of the bytes queued
    BROKEN_EVENTS = 16,    // no event can be made, and a wait's event stops working
    STATE_REFUSED = 32,    // SetCommState fails (ERROR_GEN_FAILURE)
    STATE_IGNORED = 64,    // SetCommState succeeds and keeps the old settings
    TIMEOUTS_REFUSED = 128,  // SetCommTimeouts fails; the all-zero time-outs stay
};
// The call that fails when the adapter is pulled; the others answer from
// cached state (GetCommState included). GONE_ALL is Wine with a hung-up
// line: the pending wait is aborted, then every call fails.
enum Removal { NOT_REMOVED, GONE_STATUS, GONE_WAIT, GONE_READ, GONE_WRITE, GONE_ALL };
enum Outcome { REPLIES, SILENT, REFUSED };

struct Script {
    const char* name;
    unsigned traits;
    DWORD waitError;    // WaitCommEvent fails at once with this
    DWORD statusError;  // ClearCommError fails with this
    int deniedOpens;    // the first opens fail with ERROR_ACCESS_DENIED
    int leftover;       // LEFT_* in the DCB GetCommState reports
    Removal removal;    // after the reply, this call fails with removalError
    DWORD removalError;
    Outcome outcome;
};
const Script PLAIN = {"plain", 0, 0, 0, 0, 0, NOT_REMOVED, 0, REPLIES};

// The driver, under lock. A written query is answered: a third of the reply
// at once, the rest just after the program next finds the queue empty (so
// a driver without event history loses that event unless the program looks
// again once its wait is pending).
struct FakeDriver {
    std::mutex lock;
    Script script = PLAIN;
    DCB dcb = {};
    COMMTIMEOUTS timeouts = {};
    Bytes reply, queue, tail;
    bool remembered = false, lineError = false, open = false, removed = false;
    DWORD mask = 0;
    OVERLAPPED* wait = nullptr;
    DWORD* waitEvents = nullptr;
    std::vector<OVERLAPPED*> pending;      // requests of the open handle
    std::vector<OVERLAPPED*> closedPending;  // still pending on a closed handle: the port stays busy
    int deniedLeft = 0;
    int blockedReads = 0;                  // reads that waited for more bytes than were queued
    int freedWrites = 0;                   // late completions that found the request's memory freed
    DWORD waiterThread = 0, closerThread = 0;
    volatile LONG calls = 0;   // waits, reads and status calls
} g;

using Hold = std::lock_guard<std::mutex>;

bool Has(unsigned trait) { return (g.script.traits & trait) != 0; }

bool HeapBlockAlive(const void* p) {
    HANDLE heaps[64];
    const DWORD n = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    for (DWORD i = 0; i < n; ++i)
        if (HeapValidate(heaps[i], 0, p)) return true;
    return false;
}

void Forget(OVERLAPPED* ov) {
    g.pending.erase(std::remove(g.pending.begin(), g.pending.end(), ov), g.pending.end());
    if (ov == g.wait) g.wait = nullptr;
}
void Complete(OVERLAPPED* ov, ULONG_PTR status, DWORD count) {
    ov->Internal = status;
    ov->InternalHigh = count;
    Forget(ov);
    SetEvent(ov->hEvent);
}
void CancelAll() {
    for (OVERLAPPED* ov : std::vector<OVERLAPPED*>(g.pending)) Complete(ov, IO_CANCELLED, 0);
}
// A stuck driver ends its requests at last when it goes away: into memory
// the program must still own (every OVERLAPPED here is the start of the
// program's request block).
void CompleteLate() {
    for (OVERLAPPED* ov : g.closedPending) {
        if (!HeapBlockAlive(ov)) {
            ++g.freedWrites;
            continue;
        }
        ov->Internal = IO_CANCELLED;
        SetEvent(ov->hEvent);
    }
    g.closedPending.clear();
}
BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}
BOOL Pend(OVERLAPPED* ov) {
    ov->Internal = IO_PENDING;
    g.pending.push_back(ov);
    return Fail(ERROR_IO_PENDING);
}
bool RemovedAt(Removal call) { return g.removed && (g.script.removal == call || g.script.removal == GONE_ALL); }

void Arrive(const Bytes& bytes) {
    if (g.dcb.fDsrSensitivity) return;   // DSR stays low on a three-wire cable
    for (uint8_t b : bytes)
        if (b != 0 || !g.dcb.fNull) g.queue.push_back(b);
    if (g.dcb.fAbortOnError) {   // a framing error comes with the reply
        g.lineError = true;
        CancelAll();
    } else if (g.wait != nullptr && (g.mask & EV_RXCHAR)) {
        *g.waitEvents = EV_RXCHAR;
        Complete(g.wait, 0, 0);
    } else {
        g.remembered = !Has(NO_HISTORY);
    }
}

HANDLE WINAPI FakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    Hold hold(g.lock);
    if (g.deniedLeft > 0 || g.open || !g.closedPending.empty()) {
        g.deniedLeft = std::max(0, g.deniedLeft - 1);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    g.wait = nullptr;
    g.open = true;
    return FAKE_PORT;
}
BOOL WINAPI FakeCloseHandle(HANDLE h) {
    if (h != FAKE_PORT) return CloseHandle(h);
    Hold hold(g.lock);
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    g.open = false;   // later calls fail, as on Windows
    g.closerThread = GetCurrentThreadId();
    if (Has(STUCK)) {
        g.closedPending = g.pending;
        g.pending.clear();
        g.wait = nullptr;
    }
    CancelAll();
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb) {
    Hold hold(g.lock);
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    if (g.removed && g.script.removal == GONE_ALL) return Fail(g.script.removalError);
    *dcb = g.dcb;
    return TRUE;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
    Hold hold(g.lock);
    // Drivers check these before anything else.
    if (Has(STATE_REFUSED) || dcb->XonChar == dcb->XoffChar || dcb->XonLim > 2048 || dcb->XoffLim > 2048)
        return Fail(ERROR_GEN_FAILURE);
    if (!Has(STATE_IGNORED)) g.dcb = *dcb;
    return TRUE;
}
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) {
    Hold hold(g.lock);
    if (Has(TIMEOUTS_REFUSED)) return Fail(ERROR_INVALID_PARAMETER);
    g.timeouts = *timeouts;
    return TRUE;
}
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD mask) {
    Hold hold(g.lock);
    g.mask = mask;
    if (mask == 0 && g.wait != nullptr && !Has(STUCK)) {
        *g.waitEvents = 0;
        Complete(g.wait, 0, 0);
    }
    return TRUE;
}
BOOL WINAPI FakePurgeComm(HANDLE, DWORD flags) {
    Hold hold(g.lock);
    if (flags & PURGE_RXCLEAR) g.queue.clear();
    return TRUE;
}
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    InterlockedIncrement(&g.calls);
    Hold hold(g.lock);
    const bool empty = g.queue.empty();
    BOOL ok = FALSE;
    if (!g.open) {
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (RemovedAt(GONE_STATUS)) {
        SetLastError(g.script.removalError);
    } else if (g.script.statusError != 0) {
        SetLastError(g.script.statusError);
    } else {
        *errors = g.lineError ? CE_FRAME : 0;
        g.lineError = false;
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(g.queue.size());
        ok = TRUE;
    }
    if (!g.tail.empty() && (empty || !ok)) {
        Arrive(g.tail);
        g.tail.clear();
    }
    return ok;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD events, LPOVERLAPPED ov) {
    InterlockedIncrement(&g.calls);
    Hold hold(g.lock);
    g.waiterThread = GetCurrentThreadId();
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    if (g.script.waitError != 0) return Fail(g.script.waitError);
    if (RemovedAt(GONE_WAIT)) return Fail(g.script.removalError);
    if (g.lineError) return Fail(ERROR_OPERATION_ABORTED);
    if (Has(BROKEN_EVENTS)) CloseHandle(ov->hEvent);   // the program can no longer wait on it
    if (!g.remembered && !Has(EMPTY_EVENTS)) {
        g.wait = ov;
        g.waitEvents = events;
        return Pend(ov);
    }
    g.remembered = false;
    *events = EV_RXCHAR;
    Complete(ov, 0, 0);
    return TRUE;
}
BOOL WINAPI FakeReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED ov) {
    InterlockedIncrement(&g.calls);
    Hold hold(g.lock);
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    if (RemovedAt(GONE_READ)) return Fail(g.script.removalError);
    if (g.lineError) return Fail(ERROR_OPERATION_ABORTED);
    const COMMTIMEOUTS& t = g.timeouts;
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    if (!atOnce && g.queue.size() < size) {   // all-zero time-outs: until size bytes came, or a cancel
        ++g.blockedReads;
        return Pend(ov);
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(size, g.queue.size()));
    if (Has(SHORT_READS)) n = std::min<DWORD>(n, 5);
    std::memcpy(buffer, g.queue.data(), n);
    g.queue.erase(g.queue.begin(), g.queue.begin() + n);
    if (got != nullptr) *got = n;
    Complete(ov, 0, n);
    return TRUE;
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    Hold hold(g.lock);
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    if (RemovedAt(GONE_WRITE)) return Fail(g.script.removalError);
    // Output flow control on a three-wire cable: CTS stays low, no XON comes.
    if (Has(STUCK) || g.dcb.fOutxCtsFlow || g.dcb.fOutX) return Pend(ov);
    if (done != nullptr) *done = count;
    Complete(ov, 0, count);
    const long head = static_cast<long>(g.reply.size() / 3);
    g.tail.assign(g.reply.begin() + head, g.reply.end());
    Arrive(Bytes(g.reply.begin(), g.reply.begin() + head));
    return TRUE;
}
BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD count, BOOL wait) {
    std::unique_lock<std::mutex> hold(g.lock);
    if (ov->Internal == IO_PENDING) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        hold.unlock();
        WaitForSingleObject(ov->hEvent, FAKE_BLOCK_LIMIT_MS);
        hold.lock();
        if (ov->Internal == IO_PENDING) {   // the caller's memory is not ours to keep
            Forget(ov);
            return Fail(ERROR_IO_INCOMPLETE);
        }
    }
    *count = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal == 0) return TRUE;
    if ((ov->Internal & IO_FAILED) == IO_FAILED) return Fail(static_cast<DWORD>(ov->Internal & 0xFFFF));
    return Fail(ERROR_OPERATION_ABORTED);
}
BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED ov) {
    Hold hold(g.lock);
    for (OVERLAPPED* p : std::vector<OVERLAPPED*>(g.pending))
        if (!Has(STUCK) && (ov == nullptr || p == ov)) Complete(p, IO_CANCELLED, 0);
    return TRUE;
}
HANDLE WINAPI FakeCreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCWSTR name) {
    std::unique_lock<std::mutex> hold(g.lock);
    if (Has(BROKEN_EVENTS)) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    hold.unlock();
    return CreateEventW(security, manual, initial, name);
}

BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD) { return TRUE; }

const CommApi FAKE_API = {
    FakeCreateFile,  FakeCloseHandle,     FakeGetCommState, FakeSetCommState,        FakeSetCommMask,
    FakeSetupComm,   FakeSetCommTimeouts, FakePurgeComm,    FakeClearCommError,      FakeWaitCommEvent,
    FakeReadFile,    FakeWriteFile,       FakeGetOverlappedResult, FakeCancelIoEx,   FakeCreateEvent,
};

// A fresh driver (another adapter): the script's behaviour, a fresh
// driver's settings (9600 7E1, all-zero time-outs) and the fields the
// script says a previous program left on. A stuck driver's requests end
// now, late.
void UseDriver(const Script& script, const Bytes& reply) {
    Hold hold(g.lock);
    CompleteLate();
    g.script = script;
    g.reply = reply;
    g.queue.clear();
    g.tail.clear();
    g.remembered = g.lineError = g.removed = false;
    g.deniedLeft = script.deniedOpens;
    g.blockedReads = 0;
    g.waiterThread = g.closerThread = 0;
    g.timeouts = COMMTIMEOUTS{};
    DCB& d = g.dcb;
    d = DCB{};
    d.DCBlength = sizeof d;
    d.BaudRate = CBR_9600, d.ByteSize = 7, d.Parity = EVENPARITY, d.fBinary = 1;
    d.XonChar = 0x11, d.XoffChar = 0x13, d.XonLim = 512, d.XoffLim = 512;
    const bool flow = script.leftover & LEFT_FLOW;
    d.fOutxCtsFlow = d.fOutxDsrFlow = d.fOutX = d.fInX = flow;
    d.fDtrControl = flow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    d.fRtsControl = flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fDsrSensitivity = (script.leftover & LEFT_DSR) != 0;
    d.fNull = d.fErrorChar = d.fParity = (script.leftover & LEFT_NULL) != 0;
    d.fAbortOnError = (script.leftover & LEFT_ABORT) != 0;
    if (script.leftover & LEFT_ZERO_XON) d.XonChar = d.XoffChar = 0;
    if (script.leftover & LEFT_BIG_LIMITS) d.XonLim = d.XoffLim = 16384;
}

// Pulls the adapter: the removal call fails from now on; a wait pending
// ends with the error, and a byte arrives so that the program looks at
// the queue and reads.
void Remove() {
    Hold hold(g.lock);
    g.removed = true;
    if (g.script.removal == GONE_WAIT && g.wait != nullptr) {
        Complete(g.wait, IO_FAILED | g.script.removalError, 0);
    } else if (g.script.removal == GONE_ALL && g.wait != nullptr) {
        Complete(g.wait, IO_CANCELLED, 0);
    } else if (g.script.removal != GONE_WRITE) {
        Arrive({0x55});
    }
}

// The reader's line as every program must set it, whatever was left.
void ExpectReaderDcb() {
    Hold hold(g.lock);
    const DCB& d = g.dcb;
    EXPECT_TRUE(d.BaudRate == CBR_115200 && d.ByteSize == 8 && d.Parity == NOPARITY && d.StopBits == ONESTOPBIT);
    EXPECT_TRUE(d.fBinary && d.fDtrControl == DTR_CONTROL_ENABLE && d.fRtsControl == RTS_CONTROL_ENABLE);
    EXPECT_EQ(d.fParity + d.fOutxCtsFlow + d.fOutxDsrFlow + d.fDsrSensitivity + d.fOutX + d.fInX + d.fErrorChar +
                  d.fNull + d.fAbortOnError, 0u) << "parity check, flow control, DSR, NUL or error handling left on";
}

// ParserThread's frame handler signals when the expected frame came whole;
// while collecting, it keeps every frame.
std::mutex g_expectLock;
Bytes g_expected;
std::vector<Bytes> g_collected;
bool g_collecting = false;
HANDLE g_arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<int> g_lostReports{0};

void OnFrame(const uint8_t* frame, size_t total) {
    Hold hold(g_expectLock);
    if (g_collecting) g_collected.emplace_back(frame, frame + total);
    if (Bytes(frame, frame + total) == g_expected) SetEvent(g_arrived);
}

void OnPortLost() { ++g_lostReports; }

// Records padded with NULs, and the two XON/XOFF characters.
Bytes Reply(unsigned seed) {
    Bytes payload(120, 0);
    for (size_t i = 0; i < payload.size(); i += 7) payload[i] = static_cast<uint8_t>(seed + i);
    payload[3] = 0x11, payload[4] = 0x13, payload[5] = static_cast<uint8_t>(seed >> 8);
    return BuildFrame(1, CMD_INFO_REPLY, payload.data(), payload.size());
}

Bytes Expect(unsigned seed) {
    Hold hold(g_expectLock);
    g_expected = Reply(seed);
    ResetEvent(g_arrived);
    return g_expected;
}

// Opens, queries and times the reply on a driver: the reply's time (-1:
// none within limitMs) and WritePort's.
bool Exchange(const Script& script, uint8_t seed, DWORD limitMs, long* replyMs, DWORD* writeMs) {
    UseDriver(script, Expect(seed));
    const DWORD start = GetTickCount();
    const bool opened = OpenPort("\\\\.\\COM7");
    if (opened) ExpectReaderDcb();
    const DWORD written = GetTickCount();
    SendQueryInfo();
    *writeMs = GetTickCount() - written;
    *replyMs = WaitForSingleObject(g_arrived, limitMs) == WAIT_OBJECT_0 ? static_cast<long>(GetTickCount() - start) : -1;
    return opened;
}

// The communication log's entries of kind since it was last cleared.
std::vector<CommEntry> Logged(CommEventKind kind) {
    std::vector<CommEntry> found;
    for (const CommEntry& e : TheCommLog().EntriesAfter(0))
        if (e.kind == kind) found.push_back(e);
    return found;
}

const Script ROWS[] = {
    {"no event history", NO_HISTORY, 0, 0, 0, 0, NOT_REMOVED, 0, REPLIES},
    {"EV_RXCHAR with an empty queue", EMPTY_EVENTS, 0, 0, 0, 0, NOT_REMOVED, 0, REPLIES},
    {"WaitCommEvent rejected (87)", 0, ERROR_INVALID_PARAMETER, 0, 0, 0, NOT_REMOVED, 0, REPLIES},
    {"ClearCommError rejected (87)", 0, 0, ERROR_INVALID_PARAMETER, 0, 0, NOT_REMOVED, 0, REPLIES},
    {"reads return at most 5 of the bytes queued", SHORT_READS, 0, 0, 0, 0, NOT_REMOVED, 0, REPLIES},
    {"nothing completes after cancel, until the driver goes", STUCK, 0, 0, 0, 0, NOT_REMOVED, 0, SILENT},
    {"no event can be made, waits fail (WAIT_FAILED)", BROKEN_EVENTS, 0, 0, 0, 0, NOT_REMOVED, 0, SILENT},
    {"busy for the first reopens", 0, 0, 0, 3, 0, NOT_REMOVED, 0, REPLIES},
    {"abort on error left on", 0, 0, 0, 0, LEFT_ABORT, NOT_REMOVED, 0, REPLIES},
    {"flow control, DSR, NUL stripping left on", 0, 0, 0, 0, LEFT_FLOW | LEFT_DSR | LEFT_NULL, NOT_REMOVED, 0, REPLIES},
    {"XON = XOFF = 0 and a bigger queue's limits left", 0, 0, 0, 0, LEFT_ZERO_XON | LEFT_BIG_LIMITS, NOT_REMOVED, 0,
     REPLIES},
    {"SetCommState rejected (31)", STATE_REFUSED, 0, 0, 0, 0, NOT_REMOVED, 0, REFUSED},
    {"settings accepted but 9600 7E1 read back", STATE_IGNORED, 0, 0, 0, 0, NOT_REMOVED, 0, REFUSED},
    {"SetCommTimeouts rejected, all-zero left, queue unknown", TIMEOUTS_REFUSED, 0, ERROR_INVALID_PARAMETER, 0, 0,
     NOT_REMOVED, 0, REFUSED},
    {"pulled: ClearCommError 22, line state cached", 0, 0, 0, 0, 0, GONE_STATUS, ERROR_BAD_COMMAND, REPLIES},
    {"pulled: the wait ends with 1167", 0, 0, 0, 0, 0, GONE_WAIT, ERROR_DEVICE_NOT_CONNECTED, REPLIES},
    {"pulled: the wait is aborted (995)", 0, 0, 0, 0, 0, GONE_WAIT, ERROR_OPERATION_ABORTED, REPLIES},
    {"pulled: ReadFile 31", 0, 0, 0, 0, 0, GONE_READ, ERROR_GEN_FAILURE, REPLIES},
    {"pulled: WriteFile 5 on the open handle", 0, 0, 0, 0, 0, GONE_WRITE, ERROR_ACCESS_DENIED, REPLIES},
    {"pulled under Wine: wait aborted, then every call 21", 0, 0, 0, 0, 0, GONE_ALL, ERROR_NOT_READY, REPLIES},
};

class FakeDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_comm = FAKE_API;
        SetPortLostHandler(OnPortLost);
        StartReceivePath(OnFrame);
    }
};

// After the reply the adapter is pulled: reported lost once within 2 s,
// the handle closed by the thread that waited on it, no call on it after.
void ExpectLostOnce(const Script& row) {
    TheCommLog().Clear();
    const int before = g_lostReports.load();
    Remove();
    if (row.removal == GONE_WRITE) SendQueryInfo();
    const DWORD start = GetTickCount();
    while (g_lostReports.load() == before && GetTickCount() - start < 2000) Sleep(10);
    const LONG calls = g.calls;
    Sleep(500);
    SendQueryInfo();   // a write after the loss does not report it again
    EXPECT_EQ(g_lostReports.load() - before, 1) << "lost reports";
    EXPECT_LT(g.calls - calls, 5) << "the lost port is still being called";
    EXPECT_EQ(g_portHandle.load(), INVALID_HANDLE_VALUE);
    Hold hold(g.lock);
    EXPECT_FALSE(g.open) << "the lost port's handle is still open";
    EXPECT_EQ(g.closerThread, g.waiterThread) << "the handle was closed under the receive thread";
    const std::vector<CommEntry> lost = Logged(COMM_PORT_LOST);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_NE(lost[0].detail.find(std::to_string(row.removalError)), std::string::npos) << lost[0].detail;
}

TEST_F(FakeDriverTest, WindowProgramServesEveryDriver) {
    for (const Script& row : ROWS) {
        SCOPED_TRACE(row.name);
        long replyMs = 0, nextMs = 0;
        DWORD writeMs = 0, nextWriteMs = 0;
        TheCommLog().Clear();
        const bool opened = Exchange(row, 1, 1500, &replyMs, &writeMs);
        const LONG before = g.calls;
        Sleep(1000);
        const LONG calls = g.calls - before;
        if (row.removal != NOT_REMOVED) ExpectLostOnce(row);
        const int blockedReads = g.blockedReads;
        ClosePort();
        // The next port, on a plain driver: the receive thread serves it.
        const bool nextOpened = Exchange(PLAIN, 2, 6000, &nextMs, &nextWriteMs);
        ClosePort();

        std::printf("%-52s opened %d  reply %5ld ms  write %4lu ms  calls/s %6ld  next port %5ld ms\n", row.name,
                    opened, replyMs, static_cast<unsigned long>(writeMs), static_cast<long>(calls), nextMs);
        EXPECT_EQ(opened, row.outcome != REFUSED);
        if (row.outcome == REFUSED) {
            const std::vector<CommEntry> refused = Logged(COMM_OPEN_FAILED);
            EXPECT_TRUE(refused.size() == 1 && !refused[0].detail.empty()) << "the refusal is not explained";
            EXPECT_EQ(blockedReads, 0) << "a read waited for more bytes than were queued";
        }
        EXPECT_TRUE(replyMs >= 0 || row.outcome != REPLIES) << "the reply did not arrive whole";
        EXPECT_LT(writeMs, 2500u) << "WritePort blocked";
        EXPECT_LT(calls, 100) << "the receive loop spins";
        EXPECT_TRUE(nextOpened && nextMs >= 0 && nextMs < 2500) << "the next port was not served in time";
    }
    Hold hold(g.lock);
    CompleteLate();
    EXPECT_EQ(g.freedWrites, 0) << "a request given up was freed while the driver still held it";
}

// Bytes arrive from the driver's own thread in random pieces at random
// moments; across 1,000 replies none is lost, doubled or reordered.
TEST_F(FakeDriverTest, BytesArrivingAtRandomMomentsAllComeInOrder) {
    UseDriver(PLAIN, {});
    std::vector<Bytes> sent;
    for (unsigned k = 0; k < 1000; ++k) sent.push_back(Reply(k));
    auto handled = [](bool collect) {
        Hold hold(g_expectLock);
        g_collecting = collect;
        return g_collected.size();
    };
    g_collected.clear();
    handled(true);
    ASSERT_TRUE(OpenPort("\\\\.\\COM7"));
    // This thread is the driver's: the receive thread meets its bytes at random moments.
    std::mt19937 random(20261207);
    for (size_t k = 0; k < sent.size(); ++k) {
        // At most a few replies in flight: RxBuffer holds 1024 bytes.
        for (int i = 0; i < 5000 && handled(true) + 4 < k; ++i) Sleep(1);
        for (size_t at = 0, piece; at < sent[k].size(); at += piece) {
            piece = std::min<size_t>(sent[k].size() - at, 1 + random() % 60);
            {
                Hold hold(g.lock);
                Arrive(Bytes(sent[k].begin() + static_cast<long>(at), sent[k].begin() + static_cast<long>(at + piece)));
            }
            const unsigned pause = random() % 8;
            if (pause == 0) Sleep(1);
            else if (pause < 3) SwitchToThread();
        }
    }
    for (int i = 0; i < 1000 && handled(true) < sent.size(); ++i) Sleep(10);
    ClosePort();
    handled(false);
    ASSERT_EQ(g_collected.size(), sent.size());
    for (size_t k = 0; k < sent.size(); ++k) ASSERT_EQ(g_collected[k], sent[k]) << "reply " << k;
}

// The console programs' line: a driver that rejects ClearCommError is read
// like any other; a port whose line state is gone, or that a call reports
// removed, is lost; settings the driver refuses or does not keep refuse
// the open.
TEST_F(FakeDriverTest, ConsoleLineReadsUntilTheLineIsGone) {
    const Bytes query = BuildQueryInfoFrame();
    for (const Script& row : ROWS) {
        if (row.traits & (STUCK | BROKEN_EVENTS)) continue;   // the window program's rows
        SCOPED_TRACE(row.name);
        UseDriver(row, Expect(3));
        SerialLine* line = LineOpen("COM7", nullptr);
        EXPECT_EQ(line != nullptr, row.outcome != REFUSED);
        if (line == nullptr) continue;
        ExpectReaderDcb();
        EXPECT_TRUE(LineWrite(line, query.data(), query.size()));
        Bytes got;
        uint8_t buffer[256];
        int n = 0;
        for (int i = 0; i < 50 && n >= 0 && got.size() < g_expected.size(); ++i)
            if ((n = LineRead(line, buffer, sizeof buffer, 20)) > 0) got.insert(got.end(), buffer, buffer + n);
        EXPECT_EQ(got, g_expected);
        if (row.removal != NOT_REMOVED) {
            Remove();
            const bool written = LineWrite(line, query.data(), query.size());
            for (int i = 0; i < 50 && n >= 0; ++i) n = LineRead(line, buffer, sizeof buffer, 20);
            EXPECT_LT(n, 0) << "the pulled adapter's line is not lost";
            EXPECT_EQ(written, row.removal != GONE_WRITE && row.removal != GONE_ALL);
        }
        LineClose(line);
    }
}

// Port names as drivers record them: COMn of any number, in any case; the
// lists put COMn in number order, then other names, each name once.
TEST(PortList, NamesAndTheirOrder) {
    const struct {
        const wchar_t* name;
        int number;
    } cases[] = {{L"COM1", 1}, {L"com9", 9}, {L"COM10", 10}, {L"COM33", 33}, {L"COM256", 256},
                 {L"COM0", 0}, {L"COM05", 0}, {L"COM", 0},     {L"CNCA0", 0},  {L"COM3x", 0}};
    for (const auto& c : cases) EXPECT_EQ(ComPortNumber(c.name, wcslen(c.name)), c.number) << c.name;
    std::vector<std::wstring> names = {L"COM40", L"CNCB0", L"COM3", L"com40", L"COM12", L"CNCA0", L"COM3"};
    SortPortNames(&names);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"COM3", L"COM12", L"COM40", L"CNCA0", L"CNCB0"}));
}

}  // namespace
