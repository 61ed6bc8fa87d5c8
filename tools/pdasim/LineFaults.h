// The faults the simulated device can put on the line. Each one changes a
// message or a frame that the shared builders made, so a faulty reply
// differs from a good one only where the fault says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "FrameCodec.h"

// XORed into the FCS of a frame that is to fail the check.
constexpr uint16_t FCS_CORRUPTION = 0x5A5A;
constexpr size_t MAX_NOISE_BYTES = 8;

// Makes the length field of a built message claim one byte more than its
// body. Returns the field as now written.
uint16_t MisstateBodyLength(uint8_t* message);

// Replaces the FCS of a frame that BuildFrame made with FCS ^ FCS_CORRUPTION,
// stuffed again, before the closing flag. Returns the frame's new length;
// something that is no built frame comes back unchanged.
size_t CorruptFrameFcs(uint8_t (&frame)[STUFFED_FRAME_SIZE], size_t length);

// 1 to MAX_NOISE_BYTES random bytes to send before a frame; none is a flag,
// so the frame still opens where it should. Returns the count.
size_t MakeNoise(std::mt19937& rng, uint8_t (&noise)[MAX_NOISE_BYTES]);
