#include "FrameCodec.h"

#include <array>
#include <cstring>

namespace {

constexpr uint16_t FCS_POLYNOMIAL = 0x8408;  // x^16 + x^12 + x^5 + 1, bit-reversed

constexpr std::array<uint16_t, 256> MakeFcsTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t v = static_cast<uint16_t>(b);
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ FCS_POLYNOMIAL) : static_cast<uint16_t>(v >> 1);
        table[b] = v;
    }
    return table;
}

constexpr std::array<uint16_t, 256> FCS_TABLE = MakeFcsTable();
static_assert(FCS_TABLE[1] == 0x1189 && FCS_TABLE[255] == 0x0F78, "FCS table of the PPP polynomial");

// A frame's opening and closing flag.
constexpr size_t FLAG_COUNT = 2;

bool IsSpecial(uint8_t b)
{
    return b == FRAME_FLAG || b == FRAME_ESCAPE;
}

}  // namespace

uint16_t Fcs16(uint16_t fcs, const uint8_t* data, size_t length)
{
    for (size_t k = 0; k < length; ++k)
        fcs = static_cast<uint16_t>((fcs >> 8) ^ FCS_TABLE[(fcs ^ data[k]) & 0xFF]);
    return fcs;
}

uint16_t MakeFcs(const uint8_t* data, size_t length)
{
    return static_cast<uint16_t>(~Fcs16(FCS_PRESET, data, length));
}

bool CheckFcs(const uint8_t* data, size_t length)
{
    // Without the FCS bytes there is nothing to check against.
    if (length < FCS_SIZE) return false;
    return Fcs16(FCS_PRESET, data, length) == FCS_GOOD;
}

size_t EscapeBytes(const uint8_t* in, uint8_t* out, size_t length)
{
    size_t n = 0;
    for (size_t k = 0; k < length; ++k) {
        uint8_t b = in[k];
        if (IsSpecial(b)) {
            out[n++] = FRAME_ESCAPE;
            out[n++] = static_cast<uint8_t>(b - ESCAPE_OFFSET);
        } else {
            out[n++] = b;
        }
    }
    return n;
}

size_t BuildFrame(const uint8_t* payload, size_t length, uint8_t (&frame)[STUFFED_FRAME_SIZE])
{
    if (length > MAX_FRAME_PAYLOAD) return 0;
    uint8_t body[FRAME_BUFFER_SIZE];
    if (length > 0) std::memcpy(body, payload, length);
    uint16_t fcs = MakeFcs(payload, length);
    body[length] = static_cast<uint8_t>(fcs & 0xFF);
    body[length + 1] = static_cast<uint8_t>(fcs >> 8);

    frame[0] = FRAME_FLAG;
    size_t stuffed = EscapeBytes(body, frame + 1, length + FCS_SIZE);
    frame[stuffed + 1] = FRAME_FLAG;
    return stuffed + FLAG_COUNT;
}

void CountSentFrame(LinkStatistics& stats, size_t payloadLength)
{
    // Flags and FCS count, stuffing does not.
    stats.bytesSent += static_cast<uint32_t>(payloadLength + FCS_SIZE + FLAG_COUNT);
    stats.framesSent += 1;
}

FrameReceiver::FrameReceiver(LinkStatistics& stats, size_t receiveLimit)
    : stats_(stats), receiveLimit_(receiveLimit < FRAME_BUFFER_SIZE ? receiveLimit : FRAME_BUFFER_SIZE)
{
}

void FrameReceiver::Reset()
{
    state_ = HUNT;
    stored_ = 0;
}

void FrameReceiver::Store(uint8_t byte)
{
    // Bytes beyond the limit are dropped while the closing flag is awaited.
    if (stored_ < receiveLimit_) {
        frame_[stored_++] = byte;
        stats_.bytesReceived += 1;
    }
}

FrameReceiver::Result FrameReceiver::Feed(uint8_t byte, uint8_t* buffer, size_t* inOutLength)
{
    switch (state_) {
    case HUNT:
        if (byte == FRAME_FLAG) {
            state_ = START;
            stored_ = 0;
        }
        return MORE;
    case START:
        if (byte == FRAME_FLAG) return MORE;
        if (byte == FRAME_ESCAPE) {
            state_ = ESCAPED;
            return MORE;
        }
        Store(byte);
        state_ = DATA;
        return MORE;
    case DATA:
        if (byte == FRAME_FLAG) return EndFrame(buffer, inOutLength);
        if (byte == FRAME_ESCAPE)
            state_ = ESCAPED;
        else
            Store(byte);
        return MORE;
    case ESCAPED:
        // Even a flag here is data: the escape binds the next byte, whatever it is.
        Store(static_cast<uint8_t>(byte + ESCAPE_OFFSET));
        state_ = DATA;
        return MORE;
    }
    return MORE;
}

FrameReceiver::Result FrameReceiver::EndFrame(uint8_t* buffer, size_t* inOutLength)
{
    size_t stored = stored_;
    Reset();
    // Decided in a fixed order: too long for the caller, then bad FCS.
    bool tooLong = stored >= FCS_SIZE && stored - FCS_SIZE > *inOutLength;
    if (tooLong || !CheckFcs(frame_, stored)) {
        stats_.badFramesReceived += 1;
        return BAD;
    }
    size_t payload = stored - FCS_SIZE;
    if (payload > 0) std::memcpy(buffer, frame_, payload);
    *inOutLength = payload;
    stats_.goodFramesReceived += 1;
    return GOOD;
}
