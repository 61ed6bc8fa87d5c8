// What the codec puts on the line for a payload, as a byte vector, for the
// tests that compare or damage frames.
#pragma once

#include <cstdint>
#include <vector>

#include "FrameCodec.h"

inline std::vector<uint8_t> BuiltFrame(const std::vector<uint8_t>& payload)
{
    static uint8_t frame[STUFFED_FRAME_SIZE];
    const size_t n = BuildFrame(payload.data(), payload.size(), frame);
    return std::vector<uint8_t>(frame, frame + n);
}
