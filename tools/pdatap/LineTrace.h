// What went over the line, decoded with the library's own frame codec and
// device messages: one line of text (or JSON) per frame, per run of bytes
// outside frames (noise) and per frame that the codec rejects. Nothing that
// passed is left out. It does no I/O: bytes go in, lines come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FrameCodec.h"

enum class LineDirection {
    TO_DEVICE,  // what the host (the library) sent
    TO_HOST,    // what the device sent
};

class LineTrace {
public:
    using Emit = std::function<void(const std::string& line)>;

    // `json`: one JSON object per line instead of text. `emit` gets each
    // line without its newline.
    LineTrace(bool json, Emit emit);

    // Bytes that passed in one direction; `time` is when they were read,
    // as UtcTimestamp() gives it.
    void Feed(LineDirection direction, const uint8_t* data, size_t length, const std::string& time);
    // Shows the noise that waits for the next frame to start: the line has
    // been quiet for a while, or the tap ends. With `ending`, a frame that
    // never got its closing flag is shown too.
    void Flush(LineDirection direction, const std::string& time, bool ending);

    struct Counts {
        uint32_t goodFrames = 0;
        uint32_t badFrames = 0;
        uint32_t noiseBytes = 0;
    };
    const Counts& counts(LineDirection direction) const { return Side(direction).counts; }

private:
    struct SideState {
        explicit SideState() : receiver(stats, FRAME_BUFFER_SIZE) {}
        LinkStatistics stats;
        FrameReceiver receiver;
        std::vector<uint8_t> wire;   // the frame's bytes as they came, flags included
        std::vector<uint8_t> noise;  // bytes outside any frame since the last one
        std::string noiseTime;
        Counts counts;
    };

    SideState& Side(LineDirection direction) { return direction == LineDirection::TO_DEVICE ? toDevice_ : toHost_; }
    const SideState& Side(LineDirection direction) const
    {
        return direction == LineDirection::TO_DEVICE ? toDevice_ : toHost_;
    }
    void ShowNoise(LineDirection direction, SideState& side);
    void ShowFrame(LineDirection direction, const std::string& time, const uint8_t* message, size_t length,
                   size_t wireLength);
    void ShowBroken(LineDirection direction, const std::string& time, const char* reason,
                    const std::vector<uint8_t>& wire, size_t stored);

    bool json_;
    Emit emit_;
    SideState toDevice_;
    SideState toHost_;
    uint8_t payload_[FRAME_BUFFER_SIZE];
};
