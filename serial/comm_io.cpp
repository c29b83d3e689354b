#include "serial/comm_io.h"

#include <algorithm>
#include <cstring>

#include "serial/comm_api.h"
#include "serial/line.h"

CommRequest* NewCommRequest(size_t size) {
    CommRequest* request = new CommRequest{};
    request->overlapped.hEvent = g_comm.createEvent(nullptr, TRUE, FALSE, nullptr);
    request->bytes.resize(size);
    return request;
}

void FreeCommRequest(CommRequest* request) {
    if (request == nullptr) return;
    if (request->overlapped.hEvent != nullptr) CloseHandle(request->overlapped.hEvent);
    delete request;
}

bool MeansDeviceGone(DWORD error) {
    switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
        return true;
    default:
        return false;
    }
}

unsigned LineErrorFlags(DWORD e) {
    return ((e & CE_FRAME) ? LINE_ERROR_FRAME : 0) | ((e & CE_RXPARITY) ? LINE_ERROR_PARITY : 0) |
           ((e & CE_OVERRUN) ? LINE_ERROR_OVERRUN : 0) | ((e & CE_RXOVER) ? LINE_ERROR_RXOVER : 0) |
           ((e & CE_BREAK) ? LINE_ERROR_BREAK : 0);
}

namespace {

// A cleared OVERLAPPED for the next request, keeping the event (made now
// if it could not be made before); nullptr while there is none.
OVERLAPPED* Restart(CommRequest* request) {
    HANDLE event = request->overlapped.hEvent;
    if (event == nullptr) event = g_comm.createEvent(nullptr, TRUE, FALSE, nullptr);
    request->overlapped = OVERLAPPED{};
    request->overlapped.hEvent = event;
    if (event == nullptr) return nullptr;
    ResetEvent(event);
    return &request->overlapped;
}

enum CommWait {
    COMM_DONE,
    COMM_FAILED,        // the request ended with *error
    COMM_TIMED_OUT,
    COMM_WOKEN,
    COMM_WAIT_FAILED,   // the wait itself failed: whether the request ended is unknown
};

CommWait Await(HANDLE port, CommRequest* request, DWORD waitMs, HANDLE wake, DWORD* count, DWORD* error) {
    const HANDLE events[2] = {request->overlapped.hEvent, wake};
    if (events[0] == nullptr) return COMM_WAIT_FAILED;
    const DWORD got = WaitForMultipleObjects(wake != nullptr ? 2 : 1, events, FALSE, waitMs);
    if (got == WAIT_OBJECT_0 + 1) return COMM_WOKEN;
    if (got == WAIT_TIMEOUT) return COMM_TIMED_OUT;
    if (got != WAIT_OBJECT_0) return COMM_WAIT_FAILED;
    *count = 0;
    if (g_comm.getOverlappedResult(port, &request->overlapped, count, FALSE)) return COMM_DONE;
    *error = GetLastError();
    // Signalled but not complete: the request may still be in flight.
    return *error == ERROR_IO_INCOMPLETE ? COMM_WAIT_FAILED : COMM_FAILED;
}

// Cancels a pending request and waits a bounded time for its end. A
// request the driver keeps, or whose end cannot be waited for, is left to
// it with its memory, and *request becomes a new one.
void EndRequest(HANDLE port, CommRequest** request) {
    g_comm.cancelIoEx(port, &(*request)->overlapped);
    DWORD ignored = 0, error = 0;
    const CommWait end = Await(port, *request, COMM_CANCEL_WAIT_MS, nullptr, &ignored, &error);
    if (end == COMM_DONE || end == COMM_FAILED) return;
    *request = NewCommRequest((*request)->bytes.size());
}

// Waits for a started request; true when it completed within waitMs. One
// still pending then is ended (see EndRequest). *error: why it failed (0
// when it timed out or could not be waited for).
bool Finish(HANDLE port, CommRequest** request, DWORD waitMs, DWORD* count, DWORD* error) {
    *error = 0;
    const CommWait end = Await(port, *request, waitMs, nullptr, count, error);
    if (end == COMM_TIMED_OUT || end == COMM_WAIT_FAILED) EndRequest(port, request);
    return end == COMM_DONE;
}

// A call on the port failed with error: the error says the device has
// gone, or the port's line state cannot be read either.
bool GoneAfter(HANDLE port, DWORD error) {
    if (MeansDeviceGone(error)) return true;
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    return !g_comm.getCommState(port, &dcb);
}

// The error to report when a call on the port failed with `error` because
// the device has gone, else 0. Our own cancels end requests this code no
// longer looks at, so an aborted request is the driver's doing: a line
// error with abort-on-error, or a device that went away.
DWORD LossOf(HANDLE port, DWORD error, DWORD* lineErrors) {
    if (error == ERROR_OPERATION_ABORTED) {
        DWORD errors = 0;
        COMSTAT status = {};
        if (g_comm.clearCommError(port, &errors, &status)) {
            *lineErrors |= errors;
            return errors != 0 ? 0 : error;
        }
        // The queue cannot be read either: that call's reason tells more.
        error = GetLastError();
    }
    return error != 0 && GoneAfter(port, error) ? error : 0;
}

enum QueueState { QUEUE_KNOWN, QUEUE_UNKNOWN, QUEUE_GONE };

// The bytes waiting in the driver. ClearCommError also ends the state a
// line error leaves behind when a driver aborts on errors, and reports the
// line errors. Some virtual ports always fail it: the count is then
// unknown, unless the failure says the device has gone.
QueueState Queued(CommReceiver* r, DWORD* queued) {
    DWORD errors = 0;
    COMSTAT status = {};
    *queued = 0;
    if (g_comm.clearCommError(r->port, &errors, &status)) {
        r->lineErrors |= errors;
        *queued = status.cbInQue;
        return QUEUE_KNOWN;
    }
    const DWORD error = GetLastError();
    if (GoneAfter(r->port, error)) {
        r->lostError = error;
        return QUEUE_GONE;
    }
    return QUEUE_UNKNOWN;
}

CommPass Failed(CommReceiver* r, DWORD waitMs, HANDLE wake, CommPass result) {
    r->emptyEvents = 0;
    r->retryPause = r->retryPause == 0 ? 1 : std::min(r->retryPause * 2, COMM_MAX_RETRY_PAUSE_MS);
    const DWORD pause = std::min(r->retryPause, waitMs);
    if (wake != nullptr) {
        WaitForSingleObject(wake, pause);
    } else {
        Sleep(pause);
    }
    return result;
}

// A call failed with error: the device has gone, or a failed pass.
CommPass CallFailed(CommReceiver* r, DWORD error, DWORD waitMs, HANDLE wake) {
    r->lostError = LossOf(r->port, error, &r->lineErrors);
    if (r->lostError != 0) return PASS_LOST;
    return Failed(r, waitMs, wake, PASS_FAILED);
}

// An event (or a read) that brought nothing: a driver that reports
// EV_RXCHAR with an empty queue must not make the loop spin.
CommPass NothingCame(CommReceiver* r, DWORD waitMs, HANDLE wake) {
    if (++r->emptyEvents < 2) return PASS_NOTHING;
    return Failed(r, waitMs, wake, PASS_FAILED);
}

CommPass ReadBytes(CommReceiver* r, DWORD size, DWORD waitMs, HANDLE wake, DWORD* count) {
    OVERLAPPED* ov = Restart(r->read);
    if (ov == nullptr) return Failed(r, waitMs, wake, PASS_FAILED);
    DWORD error = 0;
    if (!g_comm.readFile(r->port, r->read->bytes.data(), size, nullptr, ov) &&
        (error = GetLastError()) != ERROR_IO_PENDING)
        return CallFailed(r, error, waitMs, wake);
    if (!Finish(r->port, &r->read, COMM_READ_WAIT_MS, count, &error)) {
        if (error != 0) return CallFailed(r, error, waitMs, wake);
        return Failed(r, waitMs, wake, PASS_FAILED);
    }
    if (*count == 0) return NothingCame(r, waitMs, wake);
    r->emptyEvents = 0;
    r->retryPause = 0;
    return PASS_BYTES;
}

}  // namespace

HANDLE OpenCommHandle(const std::wstring& devicePath) {
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE port = g_comm.createFile(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (port != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED ||
            GetTickCount() - start >= COMM_OPEN_RETRY_MS)
            return port;
        Sleep(COMM_OPEN_RETRY_STEP_MS);
    }
}

bool CommWrite(HANDLE port, const uint8_t* bytes, size_t count, DWORD waitMs, DWORD* lostError) {
    if (lostError != nullptr) *lostError = 0;
    CommRequest* request = NewCommRequest(count);
    OVERLAPPED* ov = Restart(request);
    if (ov == nullptr) {
        FreeCommRequest(request);
        return false;
    }
    if (count > 0) std::memcpy(request->bytes.data(), bytes, count);
    DWORD written = 0, error = 0;
    bool done = false;
    if (g_comm.writeFile(port, request->bytes.data(), static_cast<DWORD>(count), nullptr, ov) ||
        (error = GetLastError()) == ERROR_IO_PENDING)
        done = Finish(port, &request, waitMs, &written, &error);
    FreeCommRequest(request);
    if (!done && lostError != nullptr) {
        DWORD lineErrors = 0;
        *lostError = LossOf(port, error, &lineErrors);
    }
    return done && written == count;
}

void SwitchCommReceiver(CommReceiver* r, HANDLE port) {
    if (r->waitPending) EndRequest(r->port, &r->wait);
    if (r->wait == nullptr) r->wait = NewCommRequest(0);
    if (r->read == nullptr) r->read = NewCommRequest(COMM_READ_CHUNK);
    r->port = port;
    r->waitPending = false;
    r->emptyEvents = 0;
    r->retryPause = 0;
    r->lostError = 0;
    r->lineErrors = 0;
}

void FreeCommReceiver(CommReceiver* r) {
    SwitchCommReceiver(r, INVALID_HANDLE_VALUE);
    FreeCommRequest(r->wait);
    FreeCommRequest(r->read);
    r->wait = r->read = nullptr;
}

CommPass CommReceivePass(CommReceiver* r, DWORD room, DWORD waitMs, HANDLE wake, DWORD* count) {
    *count = 0;
    room = std::min(room, COMM_READ_CHUNK);
    DWORD queued = 0;
    QueueState state = Queued(r, &queued);
    if (state == QUEUE_GONE) return PASS_LOST;
    if (state == QUEUE_KNOWN && queued > 0) return ReadBytes(r, std::min(queued, room), waitMs, wake, count);

    if (!r->waitPending) {
        OVERLAPPED* ov = Restart(r->wait);
        if (ov == nullptr) return Failed(r, waitMs, wake, PASS_FAILED);
        r->wait->events = 0;
        const bool ended = g_comm.waitCommEvent(r->port, &r->wait->events, ov);
        const DWORD error = ended ? 0 : GetLastError();
        if (!ended && error != ERROR_IO_PENDING) return CallFailed(r, error, waitMs, wake);
        r->waitPending = true;
        // Bytes that came after the look above and before the wait began
        // raise no event on a driver that keeps no event history: look
        // again now that the wait is pending, and leave it pending.
        if (!ended) {
            state = Queued(r, &queued);
            if (state == QUEUE_GONE) return PASS_LOST;
            if (state == QUEUE_KNOWN && queued > 0) return ReadBytes(r, std::min(queued, room), waitMs, wake, count);
        }
    }
    DWORD ignored = 0, error = 0;
    switch (Await(r->port, r->wait, waitMs, wake, &ignored, &error)) {
    case COMM_TIMED_OUT: return PASS_NOTHING;
    case COMM_WOKEN: return PASS_WOKEN;
    case COMM_WAIT_FAILED:
        // Never taken for a time-out: with an INFINITE wait that would spin.
        EndRequest(r->port, &r->wait);
        r->waitPending = false;
        return Failed(r, waitMs, wake, PASS_FAILED);
    case COMM_FAILED:
        r->waitPending = false;
        return CallFailed(r, error, waitMs, wake);
    case COMM_DONE: break;
    }
    r->waitPending = false;
    // Windows ends a wait released by SetCommMask(h, 0) with an empty mask.
    if ((r->wait->events & EV_RXCHAR) == 0) return NothingCame(r, waitMs, wake);
    state = Queued(r, &queued);
    if (state == QUEUE_GONE) return PASS_LOST;
    if (state == QUEUE_UNKNOWN) return ReadBytes(r, room, waitMs, wake, count);
    if (queued == 0) return NothingCame(r, waitMs, wake);
    return ReadBytes(r, std::min(queued, room), waitMs, wake, count);
}
