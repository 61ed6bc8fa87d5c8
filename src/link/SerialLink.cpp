#include "SerialLink.h"

#include <cstring>

#include "DeviceMessages.h"

SerialLink::SerialLink()
{
    std::memset(request, 0, sizeof(request));
    std::memset(reply, 0, sizeof(reply));
}

SerialLink::~SerialLink() = default;

bool SerialLink::Start(const char* portName, HWND window)
{
    if (!Open(portName)) return false;
    notifyWindow = window;
    doneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    cancelEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (doneEvent == nullptr || cancelEvent == nullptr) {
        if (doneEvent != nullptr) CloseHandle(doneEvent);
        if (cancelEvent != nullptr) CloseHandle(cancelEvent);
        doneEvent = nullptr;
        cancelEvent = nullptr;
        Close();
        return false;
    }
    SetCancelEvent(cancelEvent);
    state = 1;
    return true;
}

void SerialLink::Stop()
{
    if (state != 1) {
        state = 0;
        return;
    }
    EndWorkers();
    SetCancelEvent(nullptr);
    CloseHandle(doneEvent);
    CloseHandle(cancelEvent);
    doneEvent = nullptr;
    cancelEvent = nullptr;
    Close();
    state = 0;
}

void SerialLink::Abandon()
{
    if (state != 1) return;
    TryClaim(CLAIMED_BY_INTERFACE);
    if (cancelEvent != nullptr) SetEvent(cancelEvent);
    state = 0;
}

void SerialLink::SetNotifyWindow(HWND window)
{
    if (state == 1) notifyWindow = window;
}

bool SerialLink::RequestInfo()
{
    BuildInfoRequest(request);
    return BeginRequest(INFO_TIMEOUT_MS);
}

bool SerialLink::RequestProbe(uint16_t count)
{
    // The filler goes out as zeros every time, not as whatever an earlier
    // record left in the buffer.
    BuildProbeRequest(request, count);
    return BeginRequest(PROBE_TIMEOUT_MS);
}

bool SerialLink::RequestRecord(uint8_t flag, uint16_t length, const uint8_t* data)
{
    if (length > MAX_RECORD_DATA || (data == nullptr && length != 0)) {
        EndWorkers();
        // Only the code, so the failure still names the request it ends.
        request[0] = CMD_RECORD;
        FailAtOnce();
        return false;
    }
    BuildRecordRequest(request, flag, length, data);
    return BeginRequest(RECORD_TIMEOUT_MS);
}

bool SerialLink::RequestRunning() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&running), 0, 0) != 0;
}

bool SerialLink::TryClaim(Claim who)
{
    return InterlockedCompareExchange(&claim, who, UNCLAIMED) == UNCLAIMED;
}

void SerialLink::PostDone(WPARAM success, const uint8_t* message)
{
    PostMessageA(notifyWindow, WM_LINK_DONE, success, reinterpret_cast<LPARAM>(message));
}

void SerialLink::FailAtOnce()
{
    InterlockedExchange(&claim, CLAIMED_BY_INTERFACE);
    PostDone(0, request);
    InterlockedExchange(&running, 0);
}

void SerialLink::EndWorkers()
{
    // Workers whose request has ended are a few instructions from exiting;
    // a request still running is abandoned without a completion.
    TryClaim(CLAIMED_BY_INTERFACE);
    if (cancelEvent != nullptr) SetEvent(cancelEvent);
    // The watcher goes first: it may still wait on the sender's handle.
    // The sender bounds every wait of its own, so neither join can hang.
    if (watcherThread != nullptr) {
        WaitForSingleObject(watcherThread, INFINITE);
        CloseHandle(watcherThread);
        watcherThread = nullptr;
    }
    if (senderThread != nullptr) {
        WaitForSingleObject(senderThread, INFINITE);
        CloseHandle(senderThread);
        senderThread = nullptr;
    }
    InterlockedExchange(&running, 0);
}

bool SerialLink::BeginRequest(uint32_t requestTimeoutMs)
{
    // The previous request's workers may still be leaving (this may run in
    // the handler of their completion); they must be gone before the event,
    // the claim and the port's completion records are reused.
    EndWorkers();

    timeoutMs = requestTimeoutMs;
    ResetEvent(doneEvent);
    ResetEvent(cancelEvent);
    InterlockedExchange(&claim, UNCLAIMED);
    InterlockedExchange(&running, 1);

    senderThread = CreateThread(nullptr, 0, SenderEntry, this, 0, nullptr);
    if (senderThread == nullptr) {
        FailAtOnce();
        return false;
    }
    watcherThread = CreateThread(nullptr, 0, WatcherEntry, this, 0, nullptr);
    if (watcherThread == nullptr) {
        // Without a watcher nothing bounds the request: end it now as not
        // sent, unless the sender has already finished it.
        if (TryClaim(CLAIMED_BY_INTERFACE)) {
            SetEvent(cancelEvent);
            WaitForSingleObject(senderThread, INFINITE);
            FailAtOnce();
        }
        return false;
    }
    return true;
}

DWORD WINAPI SerialLink::SenderEntry(LPVOID link)
{
    return static_cast<SerialLink*>(link)->SenderMain();
}

DWORD WINAPI SerialLink::WatcherEntry(LPVOID link)
{
    return static_cast<SerialLink*>(link)->WatcherMain();
}

DWORD SerialLink::SenderMain()
{
    const uint8_t expectedCode = static_cast<uint8_t>(request[0] | REPLY_BIT);
    const DWORD cancelledResult = SENDER_TIMED_OUT;

    // Replies carry no sequence number: a frame already on the line (a
    // duplicate, an unsolicited reply, a reply after its request's time-out)
    // would be taken for this request's reply. Only what arrives after the
    // request went out can answer it.
    DiscardInput();
    if (!SendFrame(request, MessageLength(request))) {
        if (CancelRequested()) return claim == CLAIMED_BY_WATCHER ? cancelledResult : SENDER_STOPPED;
        if (TryClaim(CLAIMED_BY_SENDER)) {
            PostDone(0, request);
            SetEvent(doneEvent);
            InterlockedExchange(&running, 0);
        }
        return SENDER_NOT_SENT;
    }

    for (;;) {
        size_t length = FRAME_BUFFER_SIZE;
        if (ReceiveFrame(reply, &length) && IsAcceptedReply(reply, length, expectedCode)) break;
        // Bad frames, mismatched lengths and replies to other requests are
        // passed over; only a cancel ends the wait.
        if (CancelRequested()) return claim == CLAIMED_BY_WATCHER ? cancelledResult : SENDER_STOPPED;
    }

    if (TryClaim(CLAIMED_BY_SENDER)) {
        SetEvent(doneEvent);
        PostDone(1, reply);
        // Only now: a dialog waiting for this request to end must not point
        // the link at its own window while the completion is being posted.
        InterlockedExchange(&running, 0);
    }
    return SENDER_REPLIED;
}

DWORD SerialLink::WatcherMain()
{
    HANDLE waitOn[2] = {doneEvent, cancelEvent};
    const DWORD waited = WaitForMultipleObjects(2, waitOn, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0) return WATCHER_ENDED;
    if (waited == WAIT_OBJECT_0 + 1) return WATCHER_STOPPED;

    // Time-out (or a failed wait). The sender may have finished meanwhile;
    // then the request is its to report.
    if (!TryClaim(CLAIMED_BY_WATCHER)) return WATCHER_ENDED;
    SetEvent(cancelEvent);
    // Once the sender is gone no port operation is outstanding, so the
    // handler of this message may begin the next request at once.
    WaitForSingleObject(senderThread, INFINITE);
    PostDone(0, request);
    InterlockedExchange(&running, 0);
    return WATCHER_ENDED;
}
