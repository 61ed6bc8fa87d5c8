// SerialLink: runs one request at a time to the device over a FramedPort.
// Each request runs on a sender worker (writes the request frame, then reads
// frames until the matching reply) and a watcher worker (enforces the
// request's time-out). Exactly one WM_LINK_DONE is posted per request,
// except for a request that Stop interrupts, which posts nothing.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "FramedPort.h"

// Posted to the notify window when a request ends. wParam LINK_REPLIED:
// lParam points to the reply; LINK_FAILED: lParam points to the request
// that failed.
constexpr UINT WM_LINK_DONE = WM_USER + 100;
constexpr WPARAM LINK_FAILED = 0;
constexpr WPARAM LINK_REPLIED = 1;

// Whether the link's port is open and requests may run; signed 32-bit.
enum LinkState : int32_t {
    LINK_STOPPED = 0,
    LINK_STARTED = 1,
};

class SerialLink : public FramedPort {
public:
    SerialLink();
    ~SerialLink() override;  // performs no thread, event or port operation

    // Opens the port and makes `window` the notify window.
    bool Start(const char* portName, HWND window);
    // Ends any running request (posting nothing for it), waits for its
    // workers, releases the done event and closes the port.
    void Stop();
    // For a module being unloaded mid-request, under the loader lock: tells
    // a running request's workers to give up, posts nothing, and neither
    // waits for them nor releases what they may still use.
    void Abandon();
    // Changes the notify window of a started link; nothing otherwise.
    void SetNotifyWindow(HWND window);

    bool RequestInfo();
    bool RequestProbe(uint16_t count);
    bool RequestRecord(uint8_t flag, uint16_t length, const uint8_t* data);

    // True from the start of a request until its completion has been posted
    // (or Stop ended it) and its workers have finished with the port.
    bool RequestRunning() const;

    LinkState state = LINK_STOPPED;
    uint8_t request[FRAME_BUFFER_SIZE];
    uint8_t reply[FRAME_BUFFER_SIZE];
    HWND notifyWindow = nullptr;
    uint32_t timeoutMs = 0;

private:
    // Who ended the current request; the first to claim it is the only one
    // that may post its completion.
    enum Claim : int {
        UNCLAIMED,
        CLAIMED_BY_SENDER,
        CLAIMED_BY_WATCHER,
        CLAIMED_BY_INTERFACE,  // Stop, or a request that could not be run
    };

    // Ends the previous request's workers and makes the state ready for a new request.
    void PrepareRequest(uint32_t requestTimeoutMs);
    bool BeginRequest(uint32_t requestTimeoutMs);
    void SenderMain();
    void WatcherMain();
    static DWORD WINAPI SenderEntry(LPVOID link);
    static DWORD WINAPI WatcherEntry(LPVOID link);

    bool TryClaim(Claim who);
    // The one way a request ends with a completion: false (and nothing
    // done) when another party has already claimed it.
    bool EndRequest(Claim who, WPARAM outcome, const uint8_t* message);
    // Ends the current request's workers without a completion of their own
    // (when nobody has claimed it yet), joins them and releases their handles.
    void EndWorkers();

    HANDLE senderThread = nullptr;
    HANDLE watcherThread = nullptr;
    HANDLE doneEvent = nullptr;
    std::atomic<int> claim{UNCLAIMED};
    std::atomic<bool> running{false};
};
