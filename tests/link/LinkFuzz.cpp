// Feeds arbitrary line bytes to the frame receiver and hands every good
// frame to the reply readers, as the request exchange would. Each good
// frame must also survive a rebuild and a second receive unchanged.
#include "DeviceMessages.h"
#include "FrameCodec.h"

#include <cstdlib>
#include <cstring>

namespace {

uint8_t reply[FRAME_BUFFER_SIZE];
uint8_t again[FRAME_BUFFER_SIZE];
uint8_t wire[STUFFED_FRAME_SIZE];

void CheckRoundTrip(const uint8_t* payload, size_t length)
{
    size_t n = BuildFrame(payload, length, wire);
    if (n == 0) abort();
    LinkStatistics stats;
    FrameReceiver receiver(stats);
    size_t got = FRAME_BUFFER_SIZE;
    int goods = 0;
    for (size_t k = 0; k < n; ++k) {
        FrameReceiver::Result r = receiver.Feed(wire[k], again, &got);
        if (r == FrameReceiver::BAD || (r == FrameReceiver::GOOD && k != n - 1)) abort();
        goods += r == FrameReceiver::GOOD;
    }
    if (goods != 1 || got != length || (length && std::memcmp(again, payload, length) != 0)) abort();
}

void ReadReply(const uint8_t* payload, size_t length)
{
    static const uint8_t codes[] = {CMD_INFO | REPLY_BIT, CMD_PROBE | REPLY_BIT, CMD_RECORD | REPLY_BIT};
    for (uint8_t code : codes) {
        if (!IsAcceptedReply(payload, length, code)) continue;
        if (MessageLength(payload) != length || MessageCode(payload) != (code & MESSAGE_CODE_MASK)) abort();
        InfoReply info = ReadInfoReply(payload, length);
        if (info.serverType.size() + 6 > length && !info.serverType.empty()) abort();
        (void)ReadRecordStatus(payload, length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    // The first two bytes choose the caller's capacity, so the too-long
    // test is exercised as well as the receive limit.
    size_t capacity = (static_cast<size_t>(data[0]) | (static_cast<size_t>(data[1]) << 8)) % (FRAME_BUFFER_SIZE + 1);
    data += 2;
    size -= 2;

    LinkStatistics stats;
    FrameReceiver receiver(stats);
    uint32_t decided = 0;
    for (size_t k = 0; k < size; ++k) {
        size_t length = capacity;
        std::memset(reply, 0xA5, 4);
        FrameReceiver::Result r = receiver.Feed(data[k], reply, &length);
        if (r == FrameReceiver::GOOD) {
            if (length > capacity || length > FRAME_RECEIVE_LIMIT - 2) abort();
            ReadReply(reply, length);
            CheckRoundTrip(reply, length);
            ++decided;
        } else if (r == FrameReceiver::BAD) {
            if (length != capacity) abort();
            ++decided;
        }
        if (receiver.storedBytes() > FRAME_RECEIVE_LIMIT) abort();
    }
    if (stats.goodFramesReceived + stats.badFramesReceived != decided || stats.bytesReceived > size) abort();
    return 0;
}
