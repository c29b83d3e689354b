#include "serial/comm_io.h"

#include <algorithm>
#include <cstring>

#include "serial/comm_api.h"

CommRequest* NewCommRequest(size_t size) {
    CommRequest* request = new CommRequest{};
    request->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    request->bytes.resize(size);
    return request;
}

void FreeCommRequest(CommRequest* request) {
    if (request == nullptr) return;
    if (request->overlapped.hEvent != nullptr) CloseHandle(request->overlapped.hEvent);
    delete request;
}

namespace {

// A cleared OVERLAPPED for the next request, keeping the event.
OVERLAPPED* Restart(CommRequest* request) {
    HANDLE event = request->overlapped.hEvent;
    request->overlapped = OVERLAPPED{};
    request->overlapped.hEvent = event;
    ResetEvent(event);
    return &request->overlapped;
}

enum CommWait { COMM_DONE, COMM_FAILED, COMM_TIMED_OUT, COMM_WOKEN };

CommWait Await(HANDLE port, CommRequest* request, DWORD waitMs, HANDLE wake, DWORD* count) {
    const HANDLE events[2] = {request->overlapped.hEvent, wake};
    const DWORD got = WaitForMultipleObjects(wake != nullptr ? 2 : 1, events, FALSE, waitMs);
    if (got == WAIT_OBJECT_0 + 1) return COMM_WOKEN;
    if (got != WAIT_OBJECT_0) return COMM_TIMED_OUT;
    *count = 0;
    return g_comm.getOverlappedResult(port, &request->overlapped, count, FALSE) ? COMM_DONE : COMM_FAILED;
}

// Cancels a pending request and waits a bounded time for its end. A
// request the driver keeps is left to it, and *request becomes a new one.
void EndRequest(HANDLE port, CommRequest** request) {
    g_comm.cancelIoEx(port, &(*request)->overlapped);
    DWORD ignored = 0;
    if (Await(port, *request, COMM_CANCEL_WAIT_MS, nullptr, &ignored) != COMM_TIMED_OUT) return;
    *request = NewCommRequest((*request)->bytes.size());
}

// Waits for a started request; true when it completed within waitMs.
// One still pending then is ended (see EndRequest).
bool Finish(HANDLE port, CommRequest** request, DWORD waitMs, DWORD* count) {
    const CommWait end = Await(port, *request, waitMs, nullptr, count);
    if (end == COMM_TIMED_OUT) EndRequest(port, request);
    return end == COMM_DONE;
}

enum QueueState { QUEUE_KNOWN, QUEUE_UNKNOWN, QUEUE_GONE };

// The bytes waiting in the driver. ClearCommError also ends the state a
// line error leaves behind when a driver aborts on errors. Some virtual
// ports always fail it: the count is then unknown, and only a port whose
// line state cannot be read either is gone.
QueueState Queued(HANDLE port, DWORD* queued) {
    DWORD errors = 0;
    COMSTAT status = {};
    *queued = 0;
    if (g_comm.clearCommError(port, &errors, &status)) {
        *queued = status.cbInQue;
        return QUEUE_KNOWN;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    return g_comm.getCommState(port, &dcb) ? QUEUE_UNKNOWN : QUEUE_GONE;
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

// An event (or a read) that brought nothing: a driver that reports
// EV_RXCHAR with an empty queue must not make the loop spin.
CommPass NothingCame(CommReceiver* r, DWORD waitMs, HANDLE wake) {
    if (++r->emptyEvents < 2) return PASS_NOTHING;
    return Failed(r, waitMs, wake, PASS_FAILED);
}

CommPass ReadBytes(CommReceiver* r, DWORD size, DWORD waitMs, HANDLE wake, DWORD* count) {
    OVERLAPPED* ov = Restart(r->read);
    if (!g_comm.readFile(r->port, r->read->bytes.data(), size, nullptr, ov) && GetLastError() != ERROR_IO_PENDING)
        return Failed(r, waitMs, wake, PASS_FAILED);
    if (!Finish(r->port, &r->read, COMM_READ_WAIT_MS, count)) return Failed(r, waitMs, wake, PASS_FAILED);
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

bool CommWrite(HANDLE port, const uint8_t* bytes, size_t count, DWORD waitMs) {
    CommRequest* request = NewCommRequest(count);
    if (count > 0) std::memcpy(request->bytes.data(), bytes, count);
    DWORD written = 0;
    bool done = g_comm.writeFile(port, request->bytes.data(), static_cast<DWORD>(count), nullptr,
                                 &request->overlapped) ||
                GetLastError() == ERROR_IO_PENDING;
    done = done && Finish(port, &request, waitMs, &written);
    FreeCommRequest(request);
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
    QueueState state = Queued(r->port, &queued);
    if (state == QUEUE_GONE) return Failed(r, waitMs, wake, PASS_LOST);
    if (state == QUEUE_KNOWN && queued > 0) return ReadBytes(r, std::min(queued, room), waitMs, wake, count);

    if (!r->waitPending) {
        OVERLAPPED* ov = Restart(r->wait);
        r->wait->events = 0;
        const bool ended = g_comm.waitCommEvent(r->port, &r->wait->events, ov);
        if (!ended && GetLastError() != ERROR_IO_PENDING) return Failed(r, waitMs, wake, PASS_FAILED);
        r->waitPending = true;
        // Bytes that came after the look above and before the wait began
        // raise no event on a driver that keeps no event history: look
        // again now that the wait is pending, and leave it pending.
        if (!ended && Queued(r->port, &queued) == QUEUE_KNOWN && queued > 0)
            return ReadBytes(r, std::min(queued, room), waitMs, wake, count);
    }
    DWORD ignored = 0;
    switch (Await(r->port, r->wait, waitMs, wake, &ignored)) {
    case COMM_TIMED_OUT: return PASS_NOTHING;
    case COMM_WOKEN: return PASS_WOKEN;
    case COMM_FAILED:
        // Wine ends a wait released by SetCommMask(h, 0) this way.
        r->waitPending = false;
        return Failed(r, waitMs, wake, PASS_FAILED);
    case COMM_DONE: break;
    }
    r->waitPending = false;
    // Windows ends a wait released by SetCommMask(h, 0) with an empty mask.
    if ((r->wait->events & EV_RXCHAR) == 0) return NothingCame(r, waitMs, wake);
    state = Queued(r->port, &queued);
    if (state == QUEUE_GONE) return Failed(r, waitMs, wake, PASS_LOST);
    if (state == QUEUE_UNKNOWN) return ReadBytes(r, room, waitMs, wake, count);
    if (queued == 0) return NothingCame(r, waitMs, wake);
    return ReadBytes(r, std::min(queued, room), waitMs, wake, count);
}
