#include "LineFaults.h"

#include "DeviceMessages.h"

uint16_t MisstateBodyLength(uint8_t* message)
{
    const uint16_t field = static_cast<uint16_t>(MessageBodyLength(message) + 1);
    WriteMessageBodyLength(message, field);
    return field;
}

size_t CorruptFrameFcs(uint8_t (&frame)[STUFFED_FRAME_SIZE], size_t length)
{
    // The shortest frame is a flag, the two FCS bytes and a flag.
    if (length < 4 || frame[0] != FRAME_FLAG || frame[length - 1] != FRAME_FLAG) return length;
    // Take the FCS off the end, high byte first, undoing its stuffing. An
    // escape byte never stands alone, so one right before a byte is its pair.
    uint8_t fcs[2];
    size_t at = length - 1;
    for (int k = 1; k >= 0; --k) {
        --at;
        if (at > 1 && frame[at - 1] == FRAME_ESCAPE) {
            fcs[k] = static_cast<uint8_t>(frame[at] + ESCAPE_OFFSET);
            --at;
        } else {
            fcs[k] = frame[at];
        }
    }
    uint16_t corrupted = static_cast<uint16_t>((fcs[0] | (fcs[1] << 8)) ^ FCS_CORRUPTION);
    const uint8_t bytes[2] = {static_cast<uint8_t>(corrupted & 0xFF), static_cast<uint8_t>(corrupted >> 8)};
    at += EscapeBytes(bytes, frame + at, sizeof bytes);
    frame[at++] = FRAME_FLAG;
    return at;
}

size_t MakeNoise(std::mt19937& rng, uint8_t (&noise)[MAX_NOISE_BYTES])
{
    const size_t count = 1 + rng() % MAX_NOISE_BYTES;
    for (size_t k = 0; k < count; ++k) {
        uint8_t b;
        do
            b = static_cast<uint8_t>(rng());
        while (b == FRAME_FLAG);
        noise[k] = b;
    }
    return count;
}
