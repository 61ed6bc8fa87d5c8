// SerialLink: runs one request at a time to the device over a FramedPort.
// Each request runs on a sender worker (writes the request frame, then reads
// frames until the matching reply) and a watcher worker (enforces the
// request's time-out). Exactly one WM_LINK_DONE is posted per request,
// except for a request that Stop interrupts, which posts nothing.
#pragma once

#include <windows.h>

#include <cstdint>

#include "FramedPort.h"

// Posted to the notify window when a request ends. wParam 1: lParam points
// to the reply; wParam 0: lParam points to the request that failed.
constexpr UINT WM_LINK_DONE = WM_USER + 100;

// Worker results, kept as thread exit codes for diagnostics only.
constexpr DWORD SENDER_REPLIED = 3001;
constexpr DWORD SENDER_NOT_SENT = 2001;
constexpr DWORD WATCHER_ENDED = 3002;
constexpr DWORD SENDER_TIMED_OUT = 2002;
constexpr DWORD SENDER_STOPPED = 3003;
constexpr DWORD WATCHER_STOPPED = 3004;

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

    int32_t state = 0;  // 0 stopped, 1 started
    uint8_t request[FRAME_BUFFER_SIZE];
    uint8_t reply[FRAME_BUFFER_SIZE];
    HWND notifyWindow = nullptr;
    uint32_t timeoutMs = 0;

private:
    // Who ended the current request; the first to claim it is the only one
    // that may post its completion.
    enum Claim : LONG {
        UNCLAIMED = 0,
        CLAIMED_BY_SENDER = 1,
        CLAIMED_BY_WATCHER = 2,
        CLAIMED_BY_INTERFACE = 3,  // Stop, or a request that could not be run
    };

    bool BeginRequest(uint32_t requestTimeoutMs);
    DWORD SenderMain();
    DWORD WatcherMain();
    static DWORD WINAPI SenderEntry(LPVOID link);
    static DWORD WINAPI WatcherEntry(LPVOID link);

    bool TryClaim(Claim who);
    // Ends the current request's workers without a completion of their own
    // (when nobody has claimed it yet), joins them and releases their handles.
    void EndWorkers();
    // Fails the current request at once from the interface thread.
    void FailAtOnce();
    void PostDone(WPARAM success, const uint8_t* message);

    HANDLE senderThread = nullptr;
    HANDLE watcherThread = nullptr;
    HANDLE doneEvent = nullptr;
    HANDLE cancelEvent = nullptr;  // tells the sender (and watcher) to give up
    volatile LONG claim = UNCLAIMED;
    volatile LONG running = 0;
};
