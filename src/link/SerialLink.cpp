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
    state = LINK_STARTED;
    return true;
}

void SerialLink::Stop()
{
    if (state != LINK_STARTED) {
        state = LINK_STOPPED;
        return;
    }
    EndWorkers();
    CloseHandle(doneEvent);
    CloseHandle(cancelEvent);
    doneEvent = nullptr;
    cancelEvent = nullptr;
    Close();
    state = LINK_STOPPED;
}

void SerialLink::Abandon()
{
    if (state != LINK_STARTED) return;
    TryClaim(CLAIMED_BY_INTERFACE);
    if (cancelEvent != nullptr) SetEvent(cancelEvent);
    state = LINK_STOPPED;
}

void SerialLink::SetNotifyWindow(HWND window)
{
    if (state == LINK_STARTED) notifyWindow = window;
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
        PrepareRequest(RECORD_TIMEOUT_MS);
        // Only the code, so the failure still names the request it ends.
        request[0] = CMD_RECORD;
        EndRequest(CLAIMED_BY_INTERFACE, LINK_FAILED, request);
        return false;
    }
    BuildRecordRequest(request, flag, length, data);
    return BeginRequest(RECORD_TIMEOUT_MS);
}

bool SerialLink::RequestRunning() const
{
    return running.load();
}

bool SerialLink::TryClaim(Claim who)
{
    int expected = UNCLAIMED;
    return claim.compare_exchange_strong(expected, who);
}

bool SerialLink::EndRequest(Claim who, WPARAM outcome, const uint8_t* message)
{
    if (!TryClaim(who)) return false;
    // Anyone but the sender stops it first: once the completion is posted,
    // its handler may begin the next request, which needs the port idle.
    if (who != CLAIMED_BY_SENDER && senderThread != nullptr) {
        SetEvent(cancelEvent);
        WaitForSingleObject(senderThread, INFINITE);
    }
    // The watcher stops waiting; then the completion; and only then is the
    // request over: a dialog waiting for it to end must not point the link
    // at its own window while its completion is still being posted.
    SetEvent(doneEvent);
    PostMessageA(notifyWindow, WM_LINK_DONE, outcome, reinterpret_cast<LPARAM>(message));
    running.store(false);
    return true;
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
    running.store(false);
}

void SerialLink::PrepareRequest(uint32_t requestTimeoutMs)
{
    // The previous request's workers may still be leaving (this may run in
    // the handler of their completion); they must be gone before the events,
    // the claim and the port's completion records are reused.
    EndWorkers();
    timeoutMs = requestTimeoutMs;
    ResetEvent(doneEvent);
    ResetEvent(cancelEvent);
    claim.store(UNCLAIMED);
    running.store(true);
}

bool SerialLink::BeginRequest(uint32_t requestTimeoutMs)
{
    PrepareRequest(requestTimeoutMs);
    senderThread = CreateThread(nullptr, 0, SenderEntry, this, 0, nullptr);
    if (senderThread == nullptr) {
        EndRequest(CLAIMED_BY_INTERFACE, LINK_FAILED, request);
        return false;
    }
    watcherThread = CreateThread(nullptr, 0, WatcherEntry, this, 0, nullptr);
    if (watcherThread == nullptr) {
        // Without a watcher nothing bounds the request: end it now as not
        // sent, unless the sender has already finished it.
        EndRequest(CLAIMED_BY_INTERFACE, LINK_FAILED, request);
        return false;
    }
    return true;
}

DWORD WINAPI SerialLink::SenderEntry(LPVOID link)
{
    static_cast<SerialLink*>(link)->SenderMain();
    return 0;
}

DWORD WINAPI SerialLink::WatcherEntry(LPVOID link)
{
    static_cast<SerialLink*>(link)->WatcherMain();
    return 0;
}

void SerialLink::SenderMain()
{
    const uint8_t expectedCode = static_cast<uint8_t>(request[0] | REPLY_BIT);

    // Replies carry no sequence number: a frame already on the line (a
    // duplicate, an unsolicited reply, a reply after its request's time-out)
    // would be taken for this request's reply. Only what arrives after the
    // request went out can answer it.
    DiscardInput();
    if (!SendFrame(request, MessageLength(request))) {
        EndRequest(CLAIMED_BY_SENDER, LINK_FAILED, request);
        return;
    }
    for (;;) {
        size_t length = FRAME_BUFFER_SIZE;
        if (ReceiveFrame(reply, &length) && IsAcceptedReply(reply, length, expectedCode)) break;
        // Bad frames, mismatched lengths and replies to other requests are
        // passed over; only a cancel ends the wait.
        if (CancelRequested()) return;
    }
    EndRequest(CLAIMED_BY_SENDER, LINK_REPLIED, reply);
}

void SerialLink::WatcherMain()
{
    HANDLE waitOn[2] = {doneEvent, cancelEvent};
    const DWORD waited = WaitForMultipleObjects(2, waitOn, FALSE, timeoutMs);
    // Time-out (or a failed wait): the request ends as failed, unless the
    // sender has finished it meanwhile.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_OBJECT_0 + 1) EndRequest(CLAIMED_BY_WATCHER, LINK_FAILED, request);
}
