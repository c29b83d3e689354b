// The serial path on a scripted fake driver: OpenPort, WritePort, ClosePort,
// ReceiveThread and ParserThread of the window program, and the console
// programs' serial line, run unchanged on top of driver behaviours met on
// technicians' machines. Each row: the port opens, the reply arrives whole,
// no thread spins (calls counted per second), no call blocks beyond its
// bound, and the receive thread still serves the next port.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
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
// A blocking wait on a request the fake never completes returns after this
// (as a failure), so that a test of a blocking loop ends and measures it.
const DWORD FAKE_BLOCK_LIMIT_MS = 4000;

// Fields a previous program may have left in the driver's settings.
enum { LEFT_FLOW = 1, LEFT_DSR = 2, LEFT_NULL = 4, LEFT_ABORT = 8 };

struct Script {
    const char* name;
    bool history;       // keeps an EV_RXCHAR that came while no wait was pending
    bool emptyEvents;   // every WaitCommEvent ends at once with EV_RXCHAR, queued bytes or not
    DWORD waitError;    // WaitCommEvent fails at once with this
    DWORD statusError;  // ClearCommError fails with this
    bool stuck;         // writes never complete; cancelled requests never end
    int deniedOpens;    // the first opens fail with ERROR_ACCESS_DENIED
    int leftover;       // LEFT_* fields reported by GetCommState
};

const Script PLAIN = {"plain", true, false, 0, 0, false, 0, 0};

// The driver's state, under lock. Replies are queued by the reader when a
// query is written: its head at once, its tail while the program reads it.
struct FakeDriver {
    std::mutex lock;
    Script script = PLAIN;
    DCB dcb = {};
    Bytes reply, queue, tail;
    bool remembered = false, lineError = false;
    bool open = false;   // a closed handle fails every call, as on Windows
    bool unplugged = false;   // status and line state fail with ERROR_NOT_READY
    DWORD mask = 0;
    OVERLAPPED* wait = nullptr;
    DWORD* waitEvents = nullptr;
    std::vector<OVERLAPPED*> pending;
    int deniedLeft = 0;
    volatile LONG calls = 0;   // waits, reads and status calls
    volatile LONG blockedMs = 0;   // longest blocking GetOverlappedResult
} g_fake;

void Complete(OVERLAPPED* ov, ULONG_PTR status, DWORD count) {
    ov->Internal = status;
    ov->InternalHigh = count;
    for (size_t i = 0; i < g_fake.pending.size(); ++i)
        if (g_fake.pending[i] == ov) g_fake.pending.erase(g_fake.pending.begin() + static_cast<long>(i));
    if (ov == g_fake.wait) g_fake.wait = nullptr;
    SetEvent(ov->hEvent);
}

BOOL Pend(OVERLAPPED* ov) {
    ov->Internal = IO_PENDING;
    g_fake.pending.push_back(ov);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

void Arrive(const Bytes& bytes) {
    if (g_fake.dcb.fDsrSensitivity) return;   // DSR is low on a three-wire cable
    for (uint8_t b : bytes)
        if (b != 0 || !g_fake.dcb.fNull) g_fake.queue.push_back(b);
    if (g_fake.dcb.fAbortOnError) {   // a framing error comes with the reply
        g_fake.lineError = true;
        for (OVERLAPPED* ov : std::vector<OVERLAPPED*>(g_fake.pending)) Complete(ov, IO_CANCELLED, 0);
        return;
    }
    if (g_fake.wait != nullptr && (g_fake.mask & EV_RXCHAR)) {
        *g_fake.waitEvents = EV_RXCHAR;
        Complete(g_fake.wait, 0, 0);
    } else if (g_fake.script.history) {
        g_fake.remembered = true;
    }
}

HANDLE WINAPI FakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (g_fake.deniedLeft > 0) {
        --g_fake.deniedLeft;
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    g_fake.pending.clear();   // what an earlier handle left belongs to it
    g_fake.wait = nullptr;
    g_fake.open = true;
    return FAKE_PORT;
}

BOOL WINAPI FakeCloseHandle(HANDLE h) {
    if (h != FAKE_PORT) return CloseHandle(h);
    std::lock_guard<std::mutex> hold(g_fake.lock);
    g_fake.open = false;
    if (!g_fake.script.stuck)
        for (OVERLAPPED* ov : std::vector<OVERLAPPED*>(g_fake.pending)) Complete(ov, IO_CANCELLED, 0);
    return TRUE;
}

BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (g_fake.unplugged) return Fail(ERROR_NOT_READY);
    *dcb = g_fake.dcb;
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    g_fake.dcb = *dcb;
    return TRUE;
}

BOOL WINAPI FakeSetCommMask(HANDLE, DWORD mask) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    g_fake.mask = mask;
    if (mask == 0 && g_fake.wait != nullptr && !g_fake.script.stuck) {
        *g_fake.waitEvents = 0;
        Complete(g_fake.wait, 0, 0);
    }
    return TRUE;
}

BOOL WINAPI FakeSetupComm(HANDLE, DWORD, DWORD) { return TRUE; }
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }

BOOL WINAPI FakePurgeComm(HANDLE, DWORD flags) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (flags & PURGE_RXCLEAR) g_fake.queue.clear();
    return TRUE;
}

BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    InterlockedIncrement(&g_fake.calls);
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (g_fake.unplugged) return Fail(ERROR_NOT_READY);
    if (g_fake.script.statusError != 0) return Fail(g_fake.script.statusError);
    *errors = g_fake.lineError ? CE_FRAME : 0;
    g_fake.lineError = false;
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(g_fake.queue.size());
    return TRUE;
}

BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD events, LPOVERLAPPED ov) {
    InterlockedIncrement(&g_fake.calls);
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (!g_fake.open) return Fail(ERROR_INVALID_HANDLE);
    if (g_fake.script.waitError != 0) return Fail(g_fake.script.waitError);
    if (g_fake.lineError) return Fail(ERROR_OPERATION_ABORTED);
    if (g_fake.remembered || g_fake.script.emptyEvents) {
        g_fake.remembered = false;
        *events = EV_RXCHAR;
        Complete(ov, 0, 0);
        return TRUE;
    }
    g_fake.wait = ov;
    g_fake.waitEvents = events;
    return Pend(ov);
}

BOOL WINAPI FakeReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED ov) {
    InterlockedIncrement(&g_fake.calls);
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (!g_fake.open) return Fail(ERROR_INVALID_HANDLE);
    if (g_fake.lineError) return Fail(ERROR_OPERATION_ABORTED);
    const DWORD n = static_cast<DWORD>(std::min<size_t>(size, g_fake.queue.size()));
    std::memcpy(buffer, g_fake.queue.data(), n);
    g_fake.queue.erase(g_fake.queue.begin(), g_fake.queue.begin() + n);
    if (got != nullptr) *got = n;
    Complete(ov, 0, n);
    if (!g_fake.tail.empty()) {
        Arrive(g_fake.tail);
        g_fake.tail.clear();
    }
    return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    // Output flow control on a three-wire cable: CTS stays low, no XON comes.
    if (g_fake.script.stuck || g_fake.dcb.fOutxCtsFlow || g_fake.dcb.fOutX) return Pend(ov);
    if (done != nullptr) *done = count;
    Complete(ov, 0, count);
    const size_t head = g_fake.reply.size() / 3;
    g_fake.tail.assign(g_fake.reply.begin() + static_cast<long>(head), g_fake.reply.end());
    Arrive(Bytes(g_fake.reply.begin(), g_fake.reply.begin() + static_cast<long>(head)));
    return TRUE;
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD count, BOOL wait) {
    std::unique_lock<std::mutex> hold(g_fake.lock);
    if (ov->Internal == IO_PENDING) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        hold.unlock();
        const DWORD start = GetTickCount();
        WaitForSingleObject(ov->hEvent, FAKE_BLOCK_LIMIT_MS);
        const LONG blocked = static_cast<LONG>(GetTickCount() - start);
        if (blocked > g_fake.blockedMs) g_fake.blockedMs = blocked;
        hold.lock();
        if (ov->Internal == IO_PENDING) {   // forgotten: the caller's memory is not ours to keep
            for (size_t i = 0; i < g_fake.pending.size(); ++i)
                if (g_fake.pending[i] == ov) g_fake.pending.erase(g_fake.pending.begin() + static_cast<long>(i));
            if (g_fake.wait == ov) g_fake.wait = nullptr;
            return Fail(ERROR_IO_INCOMPLETE);
        }
    }
    *count = static_cast<DWORD>(ov->InternalHigh);
    return ov->Internal == 0 ? TRUE : Fail(ERROR_OPERATION_ABORTED);
}

BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED ov) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    if (g_fake.script.stuck) return TRUE;
    for (OVERLAPPED* p : std::vector<OVERLAPPED*>(g_fake.pending))
        if (ov == nullptr || p == ov) Complete(p, IO_CANCELLED, 0);
    return TRUE;
}

const CommApi FAKE_API = {
    FakeCreateFile,  FakeCloseHandle,     FakeGetCommState,   FakeSetCommState,        FakeSetCommMask,
    FakeSetupComm,   FakeSetCommTimeouts, FakePurgeComm,      FakeClearCommError,      FakeWaitCommEvent,
    FakeReadFile,    FakeWriteFile,       FakeGetOverlappedResult, FakeCancelIoEx,
};

// A fresh driver with the script's behaviour and leftover settings.
void UseDriver(const Script& script, const Bytes& reply) {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    g_fake.script = script;
    g_fake.reply = reply;
    g_fake.queue.clear();
    g_fake.tail.clear();
    g_fake.remembered = g_fake.lineError = g_fake.unplugged = false;
    g_fake.deniedLeft = script.deniedOpens;
    g_fake.blockedMs = 0;
    DCB& d = g_fake.dcb;
    d = DCB{};
    d.DCBlength = sizeof d;
    d.BaudRate = CBR_9600;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    if (script.leftover & LEFT_FLOW) {
        d.fOutxCtsFlow = d.fOutxDsrFlow = d.fOutX = d.fInX = 1;
        d.fDtrControl = DTR_CONTROL_HANDSHAKE;
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    d.fDsrSensitivity = (script.leftover & LEFT_DSR) ? 1 : 0;
    d.fNull = d.fErrorChar = d.fParity = (script.leftover & LEFT_NULL) ? 1 : 0;
    d.fAbortOnError = (script.leftover & LEFT_ABORT) ? 1 : 0;
}

// The reader's line as every program must leave it, whatever was there.
void ExpectReaderDcb() {
    std::lock_guard<std::mutex> hold(g_fake.lock);
    const DCB& d = g_fake.dcb;
    EXPECT_EQ(d.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(d.fParity + d.fOutxCtsFlow + d.fOutxDsrFlow + d.fDsrSensitivity + d.fOutX + d.fInX + d.fErrorChar +
                  d.fNull + d.fAbortOnError,
              0u)
        << "flow control, DSR sensitivity, NUL stripping, error character or abort-on-error left on";
}

// Frames handed over by ParserThread.
std::mutex g_framesLock;
std::vector<Bytes> g_frames;
HANDLE g_frameArrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);

void OnFrame(const uint8_t* frame, size_t total) {
    std::lock_guard<std::mutex> hold(g_framesLock);
    g_frames.emplace_back(frame, frame + total);
    SetEvent(g_frameArrived);
}

// Milliseconds until `reply` was handed over, or -1 when it was not within limitMs.
long ReplyTime(const Bytes& reply, DWORD limitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(g_framesLock);
            for (const Bytes& f : g_frames)
                if (f == reply) return static_cast<long>(GetTickCount() - start);
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= limitMs || WaitForSingleObject(g_frameArrived, limitMs - spent) == WAIT_TIMEOUT) return -1;
    }
}

LONG CallsPerSecond() {
    const LONG before = g_fake.calls;
    Sleep(1000);
    return g_fake.calls - before;
}

Bytes ReaderReply(uint8_t seed) {
    // Records padded with NULs, and the two XON/XOFF characters.
    Bytes payload(120, 0);
    for (size_t i = 0; i < payload.size(); i += 7) payload[i] = static_cast<uint8_t>(seed + i);
    payload[3] = 0x11;
    payload[4] = 0x13;
    return BuildFrame(1, CMD_INFO_REPLY, payload.data(), payload.size());
}

struct Row {
    Script script;
    bool replies;   // false: the driver never lets the query out
};

const Row ROWS[] = {
    {{"no event history", false, false, 0, 0, false, 0, 0}, true},
    {{"EV_RXCHAR with an empty queue", true, true, 0, 0, false, 0, 0}, true},
    {{"WaitCommEvent rejected (87)", true, false, ERROR_INVALID_PARAMETER, 0, false, 0, 0}, true},
    {{"ClearCommError rejected (87)", true, false, 0, ERROR_INVALID_PARAMETER, false, 0, 0}, true},
    {{"nothing completes after cancel", true, false, 0, 0, true, 0, 0}, false},
    {{"busy for the first reopens", true, false, 0, 0, false, 3, 0}, true},
    {{"abort on error left on", true, false, 0, 0, false, 0, LEFT_ABORT}, true},
    {{"flow control, DSR, NUL stripping left on", true, false, 0, 0, false, 0, LEFT_FLOW | LEFT_DSR | LEFT_NULL},
     true},
};

class FakeDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_comm = FAKE_API;
        StartReceivePath(OnFrame);
    }
};

TEST_F(FakeDriverTest, WindowProgramServesEveryDriver) {
    const uint8_t query[] = {0x4B, 0x57, 0x54, 0x42, 0, 1, 0xB0, 1, 0, 0};
    uint8_t seed = 0;
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.script.name);
        const Bytes reply = ReaderReply(++seed);
        UseDriver(row.script, reply);
        const bool opened = OpenPort("\\\\.\\COM7");
        if (opened) ExpectReaderDcb();
        DWORD start = GetTickCount();
        WritePort(query, sizeof query);
        const DWORD writeMs = GetTickCount() - start;
        const long replyMs = ReplyTime(reply, 1500);
        const LONG calls = CallsPerSecond();
        ClosePort();

        // The next port, on a plain driver: the receive thread serves it.
        const Bytes next = ReaderReply(++seed);
        UseDriver(PLAIN, next);
        start = GetTickCount();
        const bool nextOpened = OpenPort("\\\\.\\COM8");
        WritePort(query, sizeof query);
        const long nextMs = ReplyTime(next, 6000);
        const DWORD nextTotal = GetTickCount() - start;
        ClosePort();

        std::printf("%-42s opened %d  reply %5ld ms  write %4lu ms  calls/s %6ld  blocked %4ld ms  next port %5lu ms\n",
                    row.script.name, opened, replyMs, static_cast<unsigned long>(writeMs), static_cast<long>(calls),
                    static_cast<long>(g_fake.blockedMs), static_cast<unsigned long>(nextMs < 0 ? 0 : nextTotal));
        EXPECT_TRUE(opened);
        if (row.replies) {
            EXPECT_GE(replyMs, 0) << "the reply did not arrive whole";
        }
        EXPECT_LT(writeMs, 2500u) << "WritePort blocked";
        EXPECT_LT(calls, 100) << "the receive loop spins";
        EXPECT_TRUE(nextOpened);
        EXPECT_GE(nextMs, 0) << "the next port was not served";
        EXPECT_LT(nextTotal, 2500u) << "the next port was served late";
    }
}

// The console programs' line: a driver that rejects ClearCommError is read
// like any other, and only a port whose line state is gone too is lost.
TEST_F(FakeDriverTest, ConsoleLineReadsUntilTheLineIsGone) {
    const Bytes query = BuildQueryInfoFrame();
    const Script unplugged = {"unplugged after the open", true, false, 0, 0, false, 0, 0};
    for (const Row& row : {ROWS[0], ROWS[3], Row{unplugged, false}}) {
        SCOPED_TRACE(row.script.name);
        const Bytes reply = ReaderReply(0x40);
        UseDriver(row.script, reply);
        std::string error;
        SerialLine* line = LineOpen("COM7", &error);
        ASSERT_NE(line, nullptr) << error;
        ExpectReaderDcb();
        g_fake.unplugged = !row.replies;
        EXPECT_TRUE(LineWrite(line, query.data(), query.size()));
        Bytes got;
        uint8_t buffer[256];
        int n = 0;
        for (int i = 0; i < 50 && n >= 0 && got.size() < reply.size(); ++i) {
            n = LineRead(line, buffer, sizeof buffer, 20);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        LineClose(line);
        if (row.replies) {
            EXPECT_EQ(got, reply);
        } else {
            EXPECT_LT(n, 0) << "a port without status or line state was not reported lost";
        }
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

// Under the rig the mapped ports are listed from the registry.
TEST(PortList, RigPortsArePresent) {
    if (std::getenv("TAV_APP_PORT") == nullptr) GTEST_SKIP() << "no rig environment (scripts/rig.sh up)";
    const uint32_t present = PresentComPorts();
    for (int n : {5, 6, 12, 13}) EXPECT_TRUE((present >> (n - 1)) & 1u) << "COM" << n;
}

}  // namespace
