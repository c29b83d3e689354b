// The serial path on a scripted fake driver: OpenPort, WritePort, ClosePort,
// ReceiveThread and ParserThread of the window program, and the console
// programs' line, run unchanged on driver behaviours met on technicians'
// machines. Each row: the port opens with the reader's settings, the reply
// arrives whole, nothing spins (calls counted per second), nothing blocks
// beyond its bound, and the receive thread still serves the next port.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "protocol/frame.h"
#include "serial/comm_api.h"
#include "serial/line.h"
#include "serial/port_list_win32.h"
#include "serial/receive_path.h"
#include "serial/serial_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
const HANDLE FAKE_PORT = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7e50));
const ULONG_PTR IO_PENDING = 0x103, IO_CANCELLED = 0xC0000120;
// A blocking wait for a request the fake never completes fails after this.
const DWORD FAKE_BLOCK_LIMIT_MS = 4000;
enum { LEFT_FLOW = 1, LEFT_DSR = 2, LEFT_NULL = 4, LEFT_ABORT = 8 };   // settings a previous program left

struct Script {
    const char* name;
    bool history;       // keeps an EV_RXCHAR that came while no wait was pending
    bool emptyEvents;   // every WaitCommEvent ends at once with EV_RXCHAR, queued bytes or not
    DWORD waitError;    // WaitCommEvent fails at once with this
    DWORD statusError;  // ClearCommError fails with this
    bool stuck;         // writes never complete; cancelled requests never end
    int deniedOpens;    // the first opens fail with ERROR_ACCESS_DENIED
    int leftover;       // LEFT_* in the DCB GetCommState reports
    bool replies;       // false: the query never gets out (window program) or the line goes (console)
};
const Script PLAIN = {"plain", true, false, 0, 0, false, 0, 0, true};

// The driver, under lock. A written query is answered: a third of the reply
// at once, the rest just after the program next finds the queue empty (so
// a driver without event history loses that event unless the program looks
// again once its wait is pending).
struct FakeDriver {
    std::mutex lock;
    Script script = PLAIN;
    DCB dcb = {};
    Bytes reply, queue, tail;
    bool remembered = false, lineError = false, open = false, unplugged = false;
    DWORD mask = 0;
    OVERLAPPED* wait = nullptr;
    DWORD* waitEvents = nullptr;
    std::vector<OVERLAPPED*> pending;
    int deniedLeft = 0;
    volatile LONG calls = 0;   // waits, reads and status calls
} g;

using Hold = std::lock_guard<std::mutex>;

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
BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}
BOOL Pend(OVERLAPPED* ov) {
    ov->Internal = IO_PENDING;
    g.pending.push_back(ov);
    return Fail(ERROR_IO_PENDING);
}

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
        g.remembered = g.script.history;
    }
}

HANDLE WINAPI FakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    Hold hold(g.lock);
    if (g.deniedLeft > 0) {
        --g.deniedLeft;
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    g.pending.clear();   // what an earlier handle left belongs to it
    g.wait = nullptr;
    g.open = true;
    return FAKE_PORT;
}
BOOL WINAPI FakeCloseHandle(HANDLE h) {
    if (h != FAKE_PORT) return CloseHandle(h);
    Hold hold(g.lock);
    g.open = false;   // later calls fail, as on Windows
    if (!g.script.stuck) CancelAll();
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb) {
    Hold hold(g.lock);
    return g.unplugged ? Fail(ERROR_NOT_READY) : (*dcb = g.dcb, TRUE);
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
    Hold hold(g.lock);
    return g.dcb = *dcb, TRUE;
}
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD mask) {
    Hold hold(g.lock);
    g.mask = mask;
    if (mask == 0 && g.wait != nullptr && !g.script.stuck) {
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
    if (g.unplugged) {
        SetLastError(ERROR_NOT_READY);
    } else if (g.script.statusError != 0) {
        SetLastError(g.script.statusError);
    } else {
        *errors = g.lineError ? CE_FRAME : 0;
        g.lineError = false;
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(g.queue.size());
        ok = TRUE;
    }
    if (!g.tail.empty() && !g.unplugged && (empty || !ok)) {
        Arrive(g.tail);
        g.tail.clear();
    }
    return ok;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD events, LPOVERLAPPED ov) {
    InterlockedIncrement(&g.calls);
    Hold hold(g.lock);
    if (!g.open) return Fail(ERROR_INVALID_HANDLE);
    if (g.script.waitError != 0) return Fail(g.script.waitError);
    if (g.lineError) return Fail(ERROR_OPERATION_ABORTED);
    if (!g.remembered && !g.script.emptyEvents) {
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
    if (g.lineError) return Fail(ERROR_OPERATION_ABORTED);
    const DWORD n = static_cast<DWORD>(std::min<size_t>(size, g.queue.size()));
    std::memcpy(buffer, g.queue.data(), n);
    g.queue.erase(g.queue.begin(), g.queue.begin() + n);
    if (got != nullptr) *got = n;
    Complete(ov, 0, n);
    return TRUE;
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    Hold hold(g.lock);
    // Output flow control on a three-wire cable: CTS stays low, no XON comes.
    if (g.script.stuck || g.dcb.fOutxCtsFlow || g.dcb.fOutX) return Pend(ov);
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
    return ov->Internal == 0 ? TRUE : Fail(ERROR_OPERATION_ABORTED);
}
BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED ov) {
    Hold hold(g.lock);
    for (OVERLAPPED* p : std::vector<OVERLAPPED*>(g.pending))
        if (!g.script.stuck && (ov == nullptr || p == ov)) Complete(p, IO_CANCELLED, 0);
    return TRUE;
}

BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD) { return TRUE; }
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }

const CommApi FAKE_API = {
    FakeCreateFile, FakeCloseHandle,     FakeGetCommState, FakeSetCommState,   FakeSetCommMask,
    FakeSetupComm,  FakeSetCommTimeouts,
    FakePurgeComm,    FakeClearCommError, FakeWaitCommEvent,
    FakeReadFile,   FakeWriteFile,       FakeGetOverlappedResult, FakeCancelIoEx,
};

// A fresh driver: the script's behaviour, a fresh driver's settings (9600
// 7E1) and the fields the script says a previous program left on.
void UseDriver(const Script& script, const Bytes& reply) {
    Hold hold(g.lock);
    g.script = script;
    g.reply = reply;
    g.queue.clear();
    g.tail.clear();
    g.remembered = g.lineError = g.unplugged = false;
    g.deniedLeft = script.deniedOpens;
    DCB& d = g.dcb;
    d = DCB{};
    d.DCBlength = sizeof d;
    d.BaudRate = CBR_9600, d.ByteSize = 7, d.Parity = EVENPARITY, d.fBinary = 1;
    const bool flow = script.leftover & LEFT_FLOW;
    d.fOutxCtsFlow = d.fOutxDsrFlow = d.fOutX = d.fInX = flow;
    d.fDtrControl = flow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    d.fRtsControl = flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fDsrSensitivity = (script.leftover & LEFT_DSR) != 0;
    d.fNull = d.fErrorChar = d.fParity = (script.leftover & LEFT_NULL) != 0;
    d.fAbortOnError = (script.leftover & LEFT_ABORT) != 0;
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

// ParserThread's frame handler signals when the expected frame came whole.
std::mutex g_expectLock;
Bytes g_expected;
HANDLE g_arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);

void OnFrame(const uint8_t* frame, size_t total) {
    Hold hold(g_expectLock);
    if (Bytes(frame, frame + total) == g_expected) SetEvent(g_arrived);
}

// Records padded with NULs, and the two XON/XOFF characters.
Bytes Expect(uint8_t seed) {
    Bytes payload(120, 0);
    for (size_t i = 0; i < payload.size(); i += 7) payload[i] = static_cast<uint8_t>(seed + i);
    payload[3] = 0x11, payload[4] = 0x13;
    Hold hold(g_expectLock);
    g_expected = BuildFrame(1, CMD_INFO_REPLY, payload.data(), payload.size());
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

const Script ROWS[] = {
    {"no event history", false, false, 0, 0, false, 0, 0, true},
    {"EV_RXCHAR with an empty queue", true, true, 0, 0, false, 0, 0, true},
    {"WaitCommEvent rejected (87)", true, false, ERROR_INVALID_PARAMETER, 0, false, 0, 0, true},
    {"ClearCommError rejected (87)", true, false, 0, ERROR_INVALID_PARAMETER, false, 0, 0, true},
    {"nothing completes after cancel", true, false, 0, 0, true, 0, 0, false},
    {"busy for the first reopens", true, false, 0, 0, false, 3, 0, true},
    {"abort on error left on", true, false, 0, 0, false, 0, LEFT_ABORT, true},
    {"flow control, DSR, NUL stripping left on", true, false, 0, 0, false, 0, LEFT_FLOW | LEFT_DSR | LEFT_NULL, true},
};

class FakeDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_comm = FAKE_API;
        StartReceivePath(OnFrame);
    }
};

TEST_F(FakeDriverTest, WindowProgramServesEveryDriver) {
    for (const Script& row : ROWS) {
        SCOPED_TRACE(row.name);
        long replyMs = 0, nextMs = 0;
        DWORD writeMs = 0, nextWriteMs = 0;
        const bool opened = Exchange(row, 1, 1500, &replyMs, &writeMs);
        const LONG before = g.calls;
        Sleep(1000);
        const LONG calls = g.calls - before;
        ClosePort();
        // The next port, on a plain driver: the receive thread serves it.
        const bool nextOpened = Exchange(PLAIN, 2, 6000, &nextMs, &nextWriteMs);
        ClosePort();

        std::printf("%-42s opened %d  reply %5ld ms  write %4lu ms  calls/s %6ld  next port %5ld ms\n", row.name,
                    opened, replyMs, static_cast<unsigned long>(writeMs), static_cast<long>(calls), nextMs);
        EXPECT_TRUE(opened && nextOpened);
        EXPECT_TRUE(replyMs >= 0 || !row.replies) << "the reply did not arrive whole";
        EXPECT_LT(writeMs, 2500u) << "WritePort blocked";
        EXPECT_LT(calls, 100) << "the receive loop spins";
        EXPECT_TRUE(nextMs >= 0 && nextMs < 2500) << "the next port was not served in time";
    }
}

// The console programs' line: a driver that rejects ClearCommError is read
// like any other; a port whose line state is gone as well is lost.
TEST_F(FakeDriverTest, ConsoleLineReadsUntilTheLineIsGone) {
    const Bytes query = BuildQueryInfoFrame();
    const Script unplugged = {"unplugged after the open", true, false, 0, 0, false, 0, 0, false};
    for (const Script& row : {ROWS[0], ROWS[3], unplugged}) {
        SCOPED_TRACE(row.name);
        UseDriver(row, Expect(3));
        SerialLine* line = LineOpen("COM7", nullptr);
        ASSERT_NE(line, nullptr);
        ExpectReaderDcb();
        g.unplugged = !row.replies;
        EXPECT_TRUE(LineWrite(line, query.data(), query.size()));
        Bytes got;
        uint8_t buffer[256];
        int n = 0;
        for (int i = 0; i < 50 && n >= 0 && got.size() < g_expected.size(); ++i)
            if ((n = LineRead(line, buffer, sizeof buffer, 20)) > 0) got.insert(got.end(), buffer, buffer + n);
        LineClose(line);
        EXPECT_EQ(row.replies ? got == g_expected : n < 0, true) << "read " << got.size() << " bytes, last " << n;
    }
}

// Port names as drivers record them: COM1-COM32 only, in any case.
TEST(PortList, NamesOfTheListedRange) {
    const struct {
        const wchar_t* name;
        int number;
    } cases[] = {{L"COM1", 1}, {L"com9", 9}, {L"COM10", 10}, {L"COM32", 32}, {L"COM33", 0},
                 {L"COM0", 0}, {L"COM05", 0}, {L"COM", 0},   {L"CNCA0", 0},  {L"COM3x", 0}};
    for (const auto& c : cases) EXPECT_EQ(ComPortNumber(c.name, wcslen(c.name)), c.number) << c.name;
}

}  // namespace
