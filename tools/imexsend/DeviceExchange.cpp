#include "DeviceExchange.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DeviceMessages.h"
#include "LineSettings.h"
#include "LineTrace.h"
#include "RecordLog.h"

namespace {

// The longest single wait, so a stop request is seen soon.
constexpr int WAIT_SLICE_MS = 100;
constexpr size_t READ_CHUNK = 512;
// The line counts as quiet after two bytes' time without a byte.
constexpr long QUIET_NS = 2L * 1000000000L / LINE_BYTES_PER_SECOND;
// A line that never falls quiet (noise) holds the request up no longer.
constexpr auto MAX_QUIET_WAIT = std::chrono::milliseconds(100);

int SliceUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, WAIT_SLICE_MS)));
}

}  // namespace

DeviceExchange::DeviceExchange(int fd, LineTrace* trace, const std::atomic<bool>& stop)
    : fd_(fd), trace_(trace), stop_(stop)
{
}

bool DeviceExchange::Lost(const std::string& what, int error, ExchangeOutcome& outcome)
{
    lostReason_ = what + (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
    outcome = ExchangeOutcome::LINE_LOST;
    return false;
}

void DeviceExchange::FlushTrace(bool ending)
{
    if (trace_ == nullptr) return;
    trace_->Flush(LineDirection::TO_DEVICE, UtcTimestamp(), ending);
    trace_->Flush(LineDirection::TO_HOST, UtcTimestamp(), ending);
}

bool DeviceExchange::DiscardInput()
{
    // Waits for the line to fall quiet, then drops what came: a reply sent
    // twice, or one nobody asked for, follows the reply before it within a
    // byte or two of line time, and would otherwise answer this request.
    // What is dropped is read first, so the trace shows it.
    const Clock::time_point giveUp = Clock::now() + MAX_QUIET_WAIT;
    uint8_t buffer[READ_CHUNK];
    ExchangeOutcome unused;
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            if (trace_ != nullptr) trace_->Feed(LineDirection::TO_HOST, buffer, static_cast<size_t>(n), UtcTimestamp());
            continue;
        }
        if (n == 0) return Lost("the line hung up", 0, unused);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Lost("reading the line failed", errno, unused);
        if (Clock::now() >= giveUp) break;
        pollfd p{fd_, POLLIN, 0};
        const timespec quiet{0, QUIET_NS};
        const int ready = ppoll(&p, 1, &quiet, nullptr);
        if (ready == 0) break;
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0)
            return Lost("the line hung up", 0, unused);
    }
    tcflush(fd_, TCIFLUSH);
    return true;
}

bool DeviceExchange::WriteAll(const uint8_t* data, size_t length, Clock::time_point deadline, ExchangeOutcome& outcome)
{
    size_t done = 0;
    while (done < length) {
        if (stop_.load()) {
            outcome = ExchangeOutcome::INTERRUPTED;
            return false;
        }
        const ssize_t n = write(fd_, data + done, length - done);
        if (n > 0) {
            if (trace_ != nullptr)
                trace_->Feed(LineDirection::TO_DEVICE, data + done, static_cast<size_t>(n), UtcTimestamp());
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return Lost("writing to the line failed", errno, outcome);
        if (Clock::now() >= deadline) {
            outcome = ExchangeOutcome::TIMED_OUT;
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, SliceUntil(deadline)) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return Lost("the line hung up", 0, outcome);
    }
    return true;
}

bool DeviceExchange::ReadSome(uint8_t* buffer, size_t capacity, Clock::time_point deadline, size_t& got,
                              ExchangeOutcome& outcome)
{
    got = 0;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, SliceUntil(deadline));
    if (ready < 0 && errno != EINTR) return Lost("waiting on the line failed", errno, outcome);
    if (ready <= 0) return true;
    if ((p.revents & POLLNVAL) != 0) return Lost("the line is closed", 0, outcome);
    const ssize_t n = read(fd_, buffer, capacity);
    if (n > 0) {
        got = static_cast<size_t>(n);
        return true;
    }
    // A tty whose device is gone reads as the end of the file, or fails.
    const bool quiet = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    if (n == 0 || (p.revents & (POLLHUP | POLLERR)) != 0)
        return Lost("the line hung up", quiet || n == 0 ? 0 : errno, outcome);
    if (quiet) return true;
    return Lost("reading the line failed", errno, outcome);
}

bool DeviceExchange::Settle(uint32_t ms, ExchangeOutcome& outcome)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t buffer[READ_CHUNK];
    while (Clock::now() < deadline) {
        if (stop_.load()) {
            outcome = ExchangeOutcome::INTERRUPTED;
            return false;
        }
        size_t got = 0;
        if (!ReadSome(buffer, sizeof buffer, deadline, got, outcome)) return false;
        if (got > 0 && trace_ != nullptr) trace_->Feed(LineDirection::TO_HOST, buffer, got, UtcTimestamp());
    }
    FlushTrace(false);
    return true;
}

ExchangeOutcome DeviceExchange::Run(const uint8_t* request, size_t length, uint32_t timeoutMs, uint8_t* reply,
                                    size_t& replyLength)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ExchangeOutcome outcome = ExchangeOutcome::TIMED_OUT;
    // Replies carry no sequence number: only what arrives after the request
    // went out may answer it.
    if (!DiscardInput()) return ExchangeOutcome::LINE_LOST;
    static thread_local uint8_t frame[STUFFED_FRAME_SIZE];
    const size_t frameLength = BuildFrame(request, length, frame);
    if (frameLength == 0) return ExchangeOutcome::TIMED_OUT;
    if (!WriteAll(frame, frameLength, deadline, outcome)) return outcome;
    CountSentFrame(statistics_, length);

    const uint8_t expectedCode = static_cast<uint8_t>(request[0] | REPLY_BIT);
    FrameReceiver receiver(statistics_);
    uint8_t buffer[READ_CHUNK];
    while (Clock::now() < deadline) {
        if (stop_.load()) return ExchangeOutcome::INTERRUPTED;
        size_t got = 0;
        if (!ReadSome(buffer, sizeof buffer, deadline, got, outcome)) return outcome;
        if (got == 0) {
            FlushTrace(false);
            continue;
        }
        if (trace_ != nullptr) trace_->Feed(LineDirection::TO_HOST, buffer, got, UtcTimestamp());
        for (size_t k = 0; k < got; ++k) {
            size_t frameBytes = FRAME_BUFFER_SIZE;
            if (receiver.Feed(buffer[k], reply, &frameBytes) != FrameReceiver::GOOD) continue;
            // Bad frames, mismatched lengths and replies to other requests
            // are passed over; the bytes after an accepted reply are left to
            // the next request's discard, as the DLL leaves them.
            if (IsAcceptedReply(reply, frameBytes, expectedCode)) {
                replyLength = frameBytes;
                return ExchangeOutcome::REPLIED;
            }
        }
    }
    return ExchangeOutcome::TIMED_OUT;
}
