// Opening, writing and the receive pass on a Win32 COM port, shared by the
// window program (SerialLink, ReceiveThread) and the console programs'
// serial line. Every call goes through g_comm (comm_api.h).
//
// No driver is trusted to complete a request: each overlapped request has
// its OVERLAPPED, event and buffer on the heap, and one the driver does not
// end within COMM_CANCEL_WAIT_MS after CancelIoEx is given up together with
// its memory (the driver may still write into it) instead of being waited
// for without bound. A request whose event cannot be made or waited on is
// a failed call, never a completed or timed-out one.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr DWORD COMM_READ_CHUNK = 1024;
constexpr DWORD COMM_CANCEL_WAIT_MS = 1000;
// A read of bytes the driver reported as queued ends at once; this bounds
// a driver that keeps it anyway.
constexpr DWORD COMM_READ_WAIT_MS = 1000;
// A reopen just after a close can be refused while the device's last
// reference goes away: ERROR_ACCESS_DENIED is retried this long.
constexpr DWORD COMM_OPEN_RETRY_MS = 200;
constexpr DWORD COMM_OPEN_RETRY_STEP_MS = 25;
// Failed passes on a port that stays open are retried after a pause that
// doubles from 1 ms up to this.
constexpr DWORD COMM_MAX_RETRY_PAUSE_MS = 200;

struct CommRequest {
    OVERLAPPED overlapped;   // hEvent: manual reset, owned by the request; null until one could be made
    DWORD events;            // what WaitCommEvent reported
    std::vector<uint8_t> bytes;
};

CommRequest* NewCommRequest(size_t size);
void FreeCommRequest(CommRequest* request);

// CreateFile for reading and writing, no sharing, overlapped; retries
// ERROR_ACCESS_DENIED for COMM_OPEN_RETRY_MS. On failure the last error is
// that of the last attempt.
HANDLE OpenCommHandle(const std::wstring& devicePath);

// True when error, met by a call on an open port handle, says the device
// has gone (removed, disconnected, its handle no longer valid). An aborted
// request (ERROR_OPERATION_ABORTED) that no cancel of ours caused says so
// too unless the driver reports a line error with it (a driver aborting on
// errors); the pass and the write look at that themselves. Any other
// failure means "gone" only when the port's line state cannot be read
// either (Wine reports a hung-up line as ERROR_NOT_READY).
bool MeansDeviceGone(DWORD error);

// The LineErrorFlag bits (line.h) of ClearCommError's CE_* flags.
unsigned LineErrorFlags(DWORD commErrors);

// Writes count bytes, waiting at most waitMs; true when all were written.
// *lostError (may be null) is the error of a failure that means the device
// has gone, else 0.
bool CommWrite(HANDLE port, const uint8_t* bytes, size_t count, DWORD waitMs, DWORD* lostError);

// The receive state of one port. Owned by one thread: ReceiveThread, or
// the caller of LineRead.
struct CommReceiver {
    HANDLE port;
    CommRequest* wait;    // WaitCommEvent; stays pending between passes
    bool waitPending;
    CommRequest* read;    // holds the bytes of the last PASS_BYTES
    int emptyEvents;      // events in a row that found nothing queued
    DWORD retryPause;     // the current back-off, 0 after bytes came
    DWORD lostError;      // after PASS_LOST: the system error that said so
    DWORD lineErrors;     // CE_* flags reported since the owner last cleared them
};

enum CommPass {
    PASS_BYTES,     // *count > 0 bytes in receiver->read->bytes
    PASS_NOTHING,   // waitMs passed, or an event brought nothing
    PASS_WOKEN,     // `wake` was signalled; the wait stays pending
    PASS_FAILED,    // a call failed; the back-off pause was taken
    PASS_LOST,      // the device has gone (see MeansDeviceGone); the port is not to be used again
};

// Points the receiver at another port (or INVALID_HANDLE_VALUE), ending a
// wait still pending on the previous one; allocates its requests.
void SwitchCommReceiver(CommReceiver* receiver, HANDLE port);
void FreeCommReceiver(CommReceiver* receiver);

// One pass: ClearCommError first; when it reports queued bytes they are
// read at once (at most room, at most COMM_READ_CHUNK). Otherwise wait for
// EV_RXCHAR for at most waitMs (INFINITE allowed) or until `wake` (may be
// null), then read what is queued, or up to room when ClearCommError fails
// (some virtual ports always fail it). Two events in a row that bring
// nothing count as a failed pass. A failed pass pauses for the back-off,
// at most waitMs, waking early for `wake`.
CommPass CommReceivePass(CommReceiver* receiver, DWORD room, DWORD waitMs, HANDLE wake, DWORD* count);
