// The request exchange with the device on an open serial line, as the DLL
// runs it: the line's input discarded, the request written as one frame,
// then frames read until the reply with the request's code arrives or the
// request's time (counted from its start, the writing included) runs out.
// A read or write that fails with an error, not a time-out, is a lost line.
// What goes over the line may also be shown by a LineTrace. POSIX only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "FrameCodec.h"

class LineTrace;

enum class ExchangeOutcome {
    REPLIED,      // the reply is in the caller's buffer
    TIMED_OUT,    // no accepted reply within the time (or the request could not be framed)
    LINE_LOST,    // the line failed; lostReason() says how
    INTERRUPTED,  // the stop flag was raised
};

class DeviceExchange {
public:
    // `fd`: the open line (non-blocking). `trace`, when not null, sees every
    // byte written and read; `stop` is looked at while waiting.
    DeviceExchange(int fd, LineTrace* trace, const std::atomic<bool>& stop);

    // One request of `length` bytes. On REPLIED the reply's payload is in
    // `reply` (FRAME_BUFFER_SIZE bytes) and its length in `replyLength`.
    ExchangeOutcome Run(const uint8_t* request, size_t length, uint32_t timeoutMs, uint8_t* reply, size_t& replyLength);

    // Reads and drops what arrives for `ms`: after a request that timed out,
    // its late reply must not be taken for the next request's. False when
    // the line is lost or the stop flag is raised meanwhile.
    bool Settle(uint32_t ms, ExchangeOutcome& outcome);

    const std::string& lostReason() const { return lostReason_; }
    // Shows what the trace still holds back (bytes outside frames).
    void FlushTrace(bool ending);

private:
    using Clock = std::chrono::steady_clock;

    // Reads what has arrived and drops it, then the driver's queue.
    bool DiscardInput();
    bool WriteAll(const uint8_t* data, size_t length, Clock::time_point deadline, ExchangeOutcome& outcome);
    // Waits until `deadline` for bytes; 0 bytes and true on a quiet line.
    bool ReadSome(uint8_t* buffer, size_t capacity, Clock::time_point deadline, size_t& got, ExchangeOutcome& outcome);
    bool Lost(const std::string& what, int error, ExchangeOutcome& outcome);

    int fd_;
    LineTrace* trace_;
    const std::atomic<bool>& stop_;
    LinkStatistics statistics_;
    std::string lostReason_;
};
